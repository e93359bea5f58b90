#pragma once
// What the job tests share: a scratch tree with a settings file, a log that any thread may
// write to, and bounded waits that keep the owner's event loop turning.
#include "config/LogEvent.h"
#include "jobs/JobSet.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace jobtest {

// Lines as the window would show them, from whatever thread wrote them.
class SharedLog {
public:
    TLogEvent Sink();
    std::vector<std::string> Lines() const;
    // Position of the first line equal to `text` at or after `from`; -1 when there is none.
    int IndexOf(const std::string& text, int from = 0) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// root/ with local/, export/, state/ and the settings file root/MonitorConfig.ini.
struct Scratch {
    Scratch();
    ~Scratch();
    void WriteSettings(const std::string& text) const;
    std::string root, local, exported, state, settings;
};

// Runs the event loop until `done` or the limit; true when `done` came true.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::milliseconds(20000));

// "[Import]" (or "[Export]") keys aimed at a local server with user tavrin/secret.
std::string ImportSection(uint16_t port, const std::string& localFolder,
                          const std::string& extra = {});
std::string ExportSection(uint16_t port, const std::string& watchedFolder,
                          const std::string& extra = {});

} // namespace jobtest
