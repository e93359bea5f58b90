#include "JobTestSupport.h"

#include "servers/ChildProcess.h"

#include <QCoreApplication>

#include <filesystem>
#include <fstream>
#include <thread>

namespace jobtest {

TLogEvent SharedLog::Sink() {
    return [this](const void*, const std::string& text, TColor) {
        std::lock_guard lock(mutex_);
        lines_.push_back(text);
    };
}

std::vector<std::string> SharedLog::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

int SharedLog::IndexOf(const std::string& text, int from) const {
    const std::vector<std::string> lines = Lines();
    for (int i = std::max(from, 0); i < static_cast<int>(lines.size()); ++i)
        if (lines[i] == text)
            return i;
    return -1;
}

Scratch::Scratch()
    : root(testsrv::MakeTempDir("tavrin-jobs-")), local(root + "/local"),
      exported(root + "/export"), state(root + "/state"), settings(root + "/MonitorConfig.ini") {
    for (const std::string& folder : {local, exported, state})
        std::filesystem::create_directories(folder);
}

Scratch::~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

void Scratch::WriteSettings(const std::string& text) const {
    std::ofstream(settings, std::ios::trunc) << text;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string ImportSection(uint16_t port, const std::string& localFolder, const std::string& extra) {
    return "[Import]\nHost=127.0.0.1\nPort=" + std::to_string(port) +
           "\nUsername=tavrin\nPassword=secret\nWaitForStableFiles=0\nLocalFolder=" + localFolder +
           "\n" + extra;
}

std::string ExportSection(uint16_t port, const std::string& watchedFolder,
                          const std::string& extra) {
    return "[Export]\nHost=127.0.0.1\nPort=" + std::to_string(port) +
           "\nUsername=tavrin\nPassword=secret\nSettleTime=0\nLocalFolder=" + watchedFolder + "\n" +
           extra;
}

} // namespace jobtest
