#include "ftp/listing/IdListingClock.h"

#include "base/IdException.h"

#include <atomic>
#include <ctime>

namespace tavrin {
namespace {

std::atomic<bool> clockPinned{false};
std::atomic<double> pinnedNow{0};
std::atomic<bool> offsetPinned{false};
std::atomic<double> pinnedOffset{0};

// localtime_r is far slower than parsing a listing line, so the local calendar is worked out
// once per second per thread.
struct LocalSecond {
    time_t second = -1;
    TDateTime midnightToSecond = 0; // date and time of that second, without milliseconds
    TDateTime offset = 0;
    bool valid = false;
};

thread_local LocalSecond cache;

const LocalSecond& CurrentLocalSecond(time_t now) {
    if (cache.second != now) {
        cache.second = now;
        struct tm local {};
        cache.valid = localtime_r(&now, &local) != nullptr;
        if (cache.valid) {
            TDateTime date = 0, time = 0;
            cache.valid =
                TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date) &&
                TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, 0,
                              time);
            cache.midnightToSecond = ComposeDateTime(date, time);
            cache.offset = static_cast<double>(local.tm_gmtoff) / 86400.0;
        }
    }
    return cache;
}

} // namespace

TDateTime ListingNow() {
    if (clockPinned.load(std::memory_order_acquire))
        return pinnedNow.load(std::memory_order_relaxed);
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const LocalSecond& local = CurrentLocalSecond(now.tv_sec);
    if (!local.valid)
        return 0;
    return local.midnightToSecond + (now.tv_nsec / 1000000) / 86400000.0;
}

void PinListingClock(std::optional<TDateTime> value) {
    pinnedNow.store(value.value_or(0), std::memory_order_relaxed);
    clockPinned.store(value.has_value(), std::memory_order_release);
}

TDateTime LocalUtcOffset() {
    if (offsetPinned.load(std::memory_order_acquire))
        return pinnedOffset.load(std::memory_order_relaxed);
    const LocalSecond& local = CurrentLocalSecond(time(nullptr));
    if (!local.valid)
        throw EIdException(kTimeZoneError);
    return local.offset;
}

void ForgetLocalCalendar() {
    cache = LocalSecond();
}

void PinLocalUtcOffset(std::optional<TDateTime> days) {
    pinnedOffset.store(days.value_or(0), std::memory_order_relaxed);
    offsetPinned.store(days.has_value(), std::memory_order_release);
}

} // namespace tavrin
