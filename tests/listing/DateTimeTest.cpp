#include "ListingTestSupport.h"

#include "base/IdException.h"

#include <cstdlib>
#include <ctime>

using namespace listingtest;
using namespace tavrin;

namespace {

TEST(ListingDates, KnownDayNumbers) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
    EXPECT_EQ(EncodeDate(2003, 1, 15), 37636);
    EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2); // 2000 is a leap year
    EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1); // 1900 is not
    EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_EQ(Stamp(At(2003, 1, 15, 23, 59, 59, 999)), "2003-01-15 23:59:59.999");
    // Before the epoch the time of day is still a positive fraction.
    EXPECT_EQ(At(1899, 12, 29, 6), -1.25);
    EXPECT_EQ(Stamp(-1.25), "1899-12-29 06:00:00.000");
    EXPECT_EQ(Stamp(At(1, 1, 1, 1, 2, 3, 4)), "0001-01-01 01:02:03.004");
    EXPECT_EQ(Stamp(At(9999, 12, 31, 23, 59, 59, 999)), "9999-12-31 23:59:59.999");
}

TEST(ListingDates, FieldsOutOfRangeRaise) {
    auto dateError = [](int y, int m, int d) {
        try {
            EncodeDate(y, m, d);
        } catch (const EConvertError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(dateError(2003, 2, 29), "Invalid argument to date encode");
    EXPECT_EQ(dateError(1900, 2, 29), "Invalid argument to date encode");
    EXPECT_EQ(dateError(2003, 0, 1), "Invalid argument to date encode");
    EXPECT_EQ(dateError(2003, 13, 1), "Invalid argument to date encode");
    EXPECT_EQ(dateError(0, 1, 1), "Invalid argument to date encode");
    EXPECT_EQ(dateError(10000, 1, 1), "Invalid argument to date encode");
    EXPECT_EQ(dateError(2004, 2, 29), "no error");
    for (auto fields : {std::array{24, 0, 0, 0}, std::array{0, 60, 0, 0}, std::array{0, 0, 60, 0},
                        std::array{0, 0, 0, 1000}, std::array{-1, 0, 0, 0}}) {
        try {
            EncodeTime(fields[0], fields[1], fields[2], fields[3]);
            ADD_FAILURE() << "no error for hour " << fields[0];
        } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), "Invalid argument to time encode");
        }
    }
}

TEST(ListingClock, PinnedAndReal) {
    PinListingClock(At(2026, 6, 15, 12));
    EXPECT_EQ(Stamp(ListingNow()), "2026-06-15 12:00:00.000");
    PinListingClock(std::nullopt);
    // The real clock agrees with the platform's calendar to the minute.
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    const double drift = ListingNow() - At(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                           local.tm_hour, local.tm_min, local.tm_sec);
    EXPECT_LT(std::abs(drift), 60.0 / 86400);
}

TEST(ListingClock, UtcOffsetFollowsTheTimeZone) {
    const char* saved = std::getenv("TZ");
    const std::string savedValue = saved ? saved : "";
    auto offsetIn = [](const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
        ForgetLocalCalendar();
        return LocalUtcOffset() * 24;
    };
    EXPECT_DOUBLE_EQ(offsetIn("UTC0"), 0);
    EXPECT_DOUBLE_EQ(offsetIn("<-05>5"), -5); // POSIX signs are reversed: five hours west
    EXPECT_DOUBLE_EQ(offsetIn("<+0530>-5:30"), 5.5);
    PinLocalUtcOffset(1.0 / 24);
    EXPECT_DOUBLE_EQ(LocalUtcOffset() * 24, 1);
    PinLocalUtcOffset(std::nullopt);
    if (saved)
        setenv("TZ", savedValue.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    ForgetLocalCalendar();
}

} // namespace
