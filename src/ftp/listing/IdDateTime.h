#pragma once
// Listing dates are day counts since 30 December 1899 00:00 (local midnight), with the time of
// day as the fraction: 2.5 is 1 January 1900 at noon. Encoding checks every field and raises
// EConvertError with the fixed texts below, so a listing line naming 31 February or 25:00
// fails loudly instead of silently becoming some other day.
#include <cstdint>

using TDateTime = double;

namespace tavrin {

inline constexpr const char* kDateEncodeError = "Invalid argument to date encode";
inline constexpr const char* kTimeEncodeError = "Invalid argument to time encode";

bool IsLeapYear(int year);
int DaysInMonth(int year, int month); // 0 for a month outside 1..12

// Year 1..9999, month 1..12, day 1..days of that month.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
TDateTime EncodeDate(int year, int month, int day); // raises kDateEncodeError

// Hour 0..23, minute 0..59, second 0..59, millisecond 0..999.
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond); // kTimeEncodeError

// A date plus a time of day. Dates before the epoch are negative and still carry the time as a
// positive fraction (-1.25 is 29 December 1899 at 06:00), so this subtracts for them.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

struct TDateParts {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};
// Splits a value back into its fields (rounded to the nearest millisecond). Values outside
// years 1..9999 give all-zero parts.
TDateParts DecodeDateTime(TDateTime value);

} // namespace tavrin
