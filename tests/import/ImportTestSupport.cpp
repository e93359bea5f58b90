#include "ImportTestSupport.h"

#include "config/UserMessages.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace importtest {

Recorder::Recorder() {
    tavrin::SetErrorMessageSink([this](const std::string& text) { boxes.push_back(text); });
}

Recorder::~Recorder() {
    // A box a cycle posted just before the end still comes here, not to the next test.
    if (QCoreApplication::instance())
        QCoreApplication::sendPostedEvents();
    tavrin::SetErrorMessageSink(nullptr);
}

TLogEvent Recorder::Sink() {
    return [this](const void*, const std::string& text, TColor colour) {
        lines.push_back({text, colour});
        if (onLine)
            onLine(lines.back());
    };
}

size_t Recorder::Count(const std::string& text) const {
    size_t n = 0;
    for (const LogLine& line : lines)
        n += line.text == text;
    return n;
}

size_t Recorder::CountColour(TColor colour) const {
    size_t n = 0;
    for (const LogLine& line : lines)
        n += line.colour == colour;
    return n;
}

Scratch::Scratch() {
    char pattern[] = "/tmp/tavrin-import-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    root = pattern;
    ::chmod(root.c_str(), 0755);
    server = root + "/server";
    local = root + "/local";
    temp = root + "/temp";
    for (const std::string* dir : {&server, &local, &temp})
        ::mkdir(dir->c_str(), 0755);
    ::mkdir((root + "/state").c_str(), 0700);
    registerPath = root + "/state/LocalFileList.txt";
}

Scratch::~Scratch() {
    std::string command = "rm -rf '" + root + "'";
    [[maybe_unused]] int rc = std::system(command.c_str());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ::chmod(path.c_str(), 0644);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string Payload(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return bytes;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void RunEventsFor(std::chrono::milliseconds period) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < period.count())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

RConfiguration LocalServerConfig(const Scratch& scratch, uint16_t port, const std::string& user,
                                 const std::string& password) {
    RConfiguration config;
    config.Host = "127.0.0.1";
    config.Port = std::to_string(port);
    config.Username = user;
    config.Password = password;
    config.PassiveMode = true;
    config.BinaryMode = true;
    config.LocalFolder = scratch.local;
    config.TempFolder = scratch.temp;
    config.CheckInterval = 3600;       // cycles are run by hand unless a test says otherwise
    config.WaitForStableFiles = false; // one cycle fetches; the stable-file tests switch it on
    return config;
}

} // namespace importtest
