#include "app/JobRowText.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace tavrin::app {

std::string ServerText(const RConfiguration& config) {
    if (config.Host.empty())
        return {};
    const bool sftp = config.Protocol == "SFTP" || config.Protocol == "sftp";
    const std::string port = config.Port.empty() ? (sftp ? "22" : "21") : config.Port;
    std::string folder = config.RemoteFolder;
    if (folder.empty() || folder.front() != '/')
        folder.insert(folder.begin(), '/');
    const std::string user = config.Username.empty() ? std::string() : config.Username + "@";
    // A numeric IPv6 address needs brackets, or its colons run into the port's.
    const std::string host =
        config.Host.find(':') != std::string::npos ? "[" + config.Host + "]" : config.Host;
    return user + host + ":" + port + folder;
}

TJobLook LookOf(tavrin::jobs::TJobState state, const tavrin::jobs::TJobActivity& activity) {
    using tavrin::jobs::TJobState;
    if (state != TJobState::Running && state != TJobState::Starting)
        return TJobLook::Stopped;
    if (activity.current && activity.current->phase == TTransferPhase::Moving)
        return TJobLook::Transferring;
    return activity.failing ? TJobLook::Failing : TJobLook::Running;
}

const char* LookText(TJobLook look) {
    switch (look) {
    case TJobLook::Stopped:
        return "stopped";
    case TJobLook::Running:
        return "running";
    case TJobLook::Transferring:
        return "transferring";
    case TJobLook::Failing:
        return "failing";
    }
    return "";
}

std::string SizeText(uint64_t bytes) {
    static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB"};
    if (bytes < 1000)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1000 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text,
                  value < 10    ? "%.2f %s"
                  : value < 100 ? "%.1f %s"
                                : "%.0f %s",
                  value, kUnits[unit]);
    return text;
}

std::string RateText(double bytesPerSecond) {
    if (!(bytesPerSecond > 0))
        return {};
    return SizeText(static_cast<uint64_t>(bytesPerSecond)) + "/s";
}

std::string DurationText(std::chrono::seconds left) {
    const long long total = std::max<long long>(0, left.count());
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

std::string MomentText(std::chrono::system_clock::time_point when,
                       std::chrono::system_clock::time_point now) {
    const std::time_t at = std::chrono::system_clock::to_time_t(when);
    const std::time_t today = std::chrono::system_clock::to_time_t(now);
    std::tm local{}, localNow{};
    localtime_r(&at, &local);
    localtime_r(&today, &localNow);
    const bool sameDay = local.tm_year == localNow.tm_year && local.tm_yday == localNow.tm_yday;
    char text[32];
    std::strftime(text, sizeof text, sameDay ? "%H:%M:%S" : "%Y-%m-%d %H:%M", &local);
    return text;
}

std::optional<int> PercentDone(const TTransferProgress& progress) {
    if (!progress.total || *progress.total == 0)
        return std::nullopt;
    const uint64_t done = std::min(progress.done, *progress.total);
    return static_cast<int>(static_cast<double>(done) * 100.0 /
                            static_cast<double>(*progress.total));
}

} // namespace tavrin::app
