#pragma once
// When a file whose download failed is tried again: at the next cycle, then after growing
// pauses, and at once when the listing shows it changed. A file the server refuses would
// otherwise be asked for, and reported in red, at every cycle for as long as the monitor runs.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tavrin::remote {
struct TRemoteEntry;
}

class TFetchRetries {
public:
    using Clock = std::chrono::steady_clock;
    using TNow = std::function<Clock::time_point()>;

    // Pauses after the second, third, ... failure (the first is followed by the next cycle);
    // the last one repeats. Tests give shorter ones and a clock of their own.
    void SetSchedule(std::vector<std::chrono::milliseconds> delays, TNow now);

    // Whether the listed entry may be tried in this cycle: it never failed, its next try is
    // due, or its size or time differ from when it last failed (then it starts over).
    bool Due(const tavrin::remote::TRemoteEntry& entry);
    // A try failed: returns the pause before the next one (zero: at the next cycle).
    std::chrono::milliseconds Failed(const tavrin::remote::TRemoteEntry& entry);
    void Succeeded(const std::string& name);
    // Names the last listing did not show are forgotten.
    void EndListing();
    size_t Tracked() const { return failed_.size(); }

private:
    struct TFailure {
        int count = 0;
        Clock::time_point due;
        bool sizeKnown = false, timeKnown = false;
        int64_t size = 0;
        double time = 0;
    };
    static void NoteShape(const tavrin::remote::TRemoteEntry& entry, TFailure& failure);
    static bool SameShape(const tavrin::remote::TRemoteEntry& entry, const TFailure& failure);

    std::vector<std::chrono::milliseconds> delays_{
        std::chrono::seconds(30), std::chrono::minutes(2), std::chrono::minutes(10),
        std::chrono::minutes(30)};
    TNow now_ = [] { return Clock::now(); };
    std::unordered_map<std::string, TFailure> failed_;
    std::unordered_set<std::string> listed_;
};

// "at the next check", "in 30 s", "in 2 min": when a try is due, for a log line.
std::string NextTryText(std::chrono::milliseconds pause);
