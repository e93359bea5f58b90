#include "service/ProgressLines.h"

#include <cstdio>

namespace tavrin::service {

std::string ByteCount(double bytes) {
    static const char* const kUnits[] = {"bytes", "kB", "MB", "GB", "TB"};
    size_t unit = 0;
    while (bytes >= 1000 && unit + 1 < std::size(kUnits)) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%.0f %s", bytes, kUnits[unit]);
    else
        std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
    return text;
}

std::optional<std::string> TProgressLines::Seen(const std::string& job,
                                                const jobs::TJobActivity& activity,
                                                TClock::time_point now) {
    if (!activity.current || activity.current->phase != TTransferPhase::Moving) {
        followed_.erase(job);
        return std::nullopt;
    }
    const TTransferProgress& current = *activity.current;
    auto it = followed_.find(job);
    if (it == followed_.end() || it->second.file != current.file) {
        followed_[job] = {current.file, now};
        return std::nullopt;
    }
    if (now - it->second.lastLine < kEvery)
        return std::nullopt;
    it->second.lastLine = now;
    std::string line = current.file + ": " + ByteCount(static_cast<double>(current.done));
    if (current.total)
        line += " of " + ByteCount(static_cast<double>(*current.total));
    line += ", " + ByteCount(activity.bytesPerSecond) + "/s";
    return line;
}

} // namespace tavrin::service
