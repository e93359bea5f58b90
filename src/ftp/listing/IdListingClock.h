#pragma once
// The two facts of the local machine that listing parsers depend on: today's date (a Unix
// listing line without a year means "within the last twelve months") and the local offset
// from UTC (machine listings carry UTC stamps). Both can be pinned so that results do not
// depend on when or where they are computed.
#include "ftp/listing/IdDateTime.h"

#include <optional>

namespace tavrin {

// The current local date and time.
TDateTime ListingNow();
// Pins ListingNow() to a fixed value; nullopt returns to the real clock.
void PinListingClock(std::optional<TDateTime> value);

// Local time minus UTC, in days, as currently in force (daylight saving included). Raises
// EIdException "Failed attempting to retrieve time zone information." when the platform cannot
// tell.
TDateTime LocalUtcOffset();
// Pins LocalUtcOffset() (in days); nullopt returns to the platform's answer.
void PinLocalUtcOffset(std::optional<TDateTime> days);

// The local calendar is worked out once per second; after changing TZ (setenv + tzset) call this
// to have it re-read at once on the calling thread.
void ForgetLocalCalendar();

inline constexpr const char* kTimeZoneError =
    "Failed attempting to retrieve time zone information.";

} // namespace tavrin
