#pragma once
// What the import tests share: a scratch folder tree, a record of log lines and error boxes,
// bounded waits on the event loop, and settings aimed at a local server.
#include "config/CommonTypesUnit.h"
#include "config/LogEvent.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace importtest {

struct LogLine {
    std::string text;
    TColor colour;
};

// Collects every line a monitor forwards and every error box shown meanwhile.
class Recorder {
public:
    Recorder();
    ~Recorder();
    TLogEvent Sink();
    std::vector<LogLine> lines;
    std::vector<std::string> boxes;
    std::function<void(const LogLine&)> onLine; // runs after the line is recorded
    size_t Count(const std::string& text) const;
    size_t CountColour(TColor colour) const;
};

// /tmp/tavrin-import-XXXXXX with server/, local/, temp/ and the register path in state/.
struct Scratch {
    Scratch();
    ~Scratch();
    std::string root, server, local, temp, registerPath;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// Bytes that differ from file to file, so a mixed-up or shortened copy shows.
std::string Payload(size_t size, unsigned seed);

// Runs the event loop until `done` or the limit; true when `done` came true.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(20000));
// Runs the event loop for the whole period (to see that something does NOT happen).
void RunEventsFor(std::chrono::milliseconds period);

RConfiguration LocalServerConfig(const Scratch& scratch, uint16_t port, const std::string& user,
                                 const std::string& password);

} // namespace importtest
