#include "config/UserMessages.h"
#include "export/FolderMonitorUnit.h"
#include "platform/FileSystem.h"

#include <exception>

namespace {

// The system's text for a failure, without trailing blanks, line breaks or full stops.
std::string ErrorText(int error) {
    std::string text = tavrin::fs::SystemErrorText(error);
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '.'))
        text.pop_back();
    return text;
}

} // namespace

TWaitThread::TWaitThread(std::string folderPath) : folderPath_(std::move(folderPath)) {
    // Opening here, on the owner's thread, means files added from now on are reported even
    // if the thread is started a little later.
    if (int error = watch_.Open(folderPath_); error != 0)
        tavrin::ShowErrorMessage(ErrorText(error));
}

TWaitThread::~TWaitThread() {
    StopWatching();
    WaitFor();
}

void TWaitThread::Start() {
    if (thread_.joinable() || finished_)
        return;
    if (!watch_.IsOpen()) {
        finished_ = true; // nothing to watch: the thread would end at once
        return;
    }
    thread_ = std::thread([this] { Execute(); });
}

void TWaitThread::StopWatching() {
    watch_.Stop();
}

void TWaitThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void TWaitThread::Execute() {
    watching_ = true;
    while (!watch_.StopRequested()) {
        for (const std::string& name : watch_.WaitForAddedFiles()) {
            // A stop asked for during the previous file's upload hands out no more files.
            if (watch_.StopRequested())
                break;
            if (!OnFileAdded)
                continue;
            try {
                OnFileAdded(name);
            } catch (const std::exception& failure) {
                // The export cycle catches its own failures; anything that still escapes is
                // shown, and the watch goes on with the next file.
                tavrin::ShowErrorMessage(failure.what());
            } catch (...) {
                tavrin::ShowErrorMessage("File " + name + " not handled.");
            }
        }
    }
    finished_ = true;
}
