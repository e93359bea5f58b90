#pragma once
// The export tests' activity log: records every line a monitor writes, from any thread.
#include "config/LogEvent.h"
#include "config/LogSwitches.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace exporttest {

struct LogLine {
    std::string text;
    TColor colour;
    bool operator==(const LogLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LogLine& line) {
    return out << "{" << line.text << ", 0x" << std::hex << line.colour << std::dec << "}";
}

class LogCapture {
public:
    TLogEvent Sink() {
        return [this](const void*, const std::string& text, TColor colour) {
            {
                std::lock_guard lock(mutex_);
                lines_.push_back({text, colour});
            }
            changed_.notify_all();
        };
    }
    std::vector<LogLine> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // Waits until `count` lines contain `part`.
    bool WaitFor(const std::string& part, std::chrono::milliseconds limit, size_t count = 1) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return CountLocked(part) >= count; });
    }
    // Waits until some line contains one of `parts`.
    bool WaitForAny(const std::vector<std::string>& parts, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            for (const std::string& part : parts)
                if (CountLocked(part) > 0)
                    return true;
            return false;
        });
    }
    // Waits until the cycle of one file has logged its end, good or bad.
    bool WaitForCycleEnd(std::chrono::milliseconds limit) {
        return WaitForAny({"\" done", " not uploaded."}, limit);
    }
    size_t Count(const std::string& part) const {
        std::lock_guard lock(mutex_);
        return CountLocked(part);
    }
    // Every line, one per row, for failure messages.
    std::string Dump() const {
        std::string text;
        for (const LogLine& line : Lines())
            text += line.text + "\n";
        return text;
    }
    // The lines whose colour is not one of the client's or the TLS handler's status colours.
    std::vector<LogLine> WithoutStatusLines() const {
        std::vector<LogLine> kept;
        for (const LogLine& line : Lines())
            if (line.colour != clHotLight && line.colour != cl3DDkShadow)
                kept.push_back(line);
        return kept;
    }

private:
    size_t CountLocked(const std::string& part) const {
        size_t count = 0;
        for (const LogLine& line : lines_)
            count += line.text.find(part) != std::string::npos;
        return count;
    }
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<LogLine> lines_;
};

// Sets the four log switches for one test and puts them back afterwards.
class LogSwitchesSetTo {
public:
    explicit LogSwitchesSetTo(bool on) : saved_{LogMonitor, LogFileTransfer, LogSSL, LogVerbose} {
        LogMonitor = LogFileTransfer = LogSSL = LogVerbose = on;
    }
    ~LogSwitchesSetTo() {
        LogMonitor = saved_[0];
        LogFileTransfer = saved_[1];
        LogSSL = saved_[2];
        LogVerbose = saved_[3];
    }

private:
    bool saved_[4];
};

} // namespace exporttest
