#include "remote/sftp/SftpWatchdog.h"

#include <sys/socket.h>

namespace tavrin::sftp {

TSftpWatchdog::~TSftpWatchdog() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void TSftpWatchdog::Arm(int fd, std::chrono::milliseconds limit) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        fd_ = fd;
        limit_ = limit;
        deadline_ = std::chrono::steady_clock::now() + limit;
        armed_ = fd >= 0;
        fired_ = false;
        // Started on first use: a session that never connects needs no thread.
        if (!thread_.joinable())
            thread_ = std::thread([this] { Run(); });
    }
    wake_.notify_all();
}

void TSftpWatchdog::Touch() {
    std::lock_guard<std::mutex> guard(lock_);
    deadline_ = std::chrono::steady_clock::now() + limit_;
}

void TSftpWatchdog::Disarm() {
    std::lock_guard<std::mutex> guard(lock_);
    armed_ = false;
}

bool TSftpWatchdog::Fired() const {
    std::lock_guard<std::mutex> guard(lock_);
    return fired_;
}

void TSftpWatchdog::Run() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!quit_) {
        if (!armed_) {
            wake_.wait(guard);
            continue;
        }
        if (std::chrono::steady_clock::now() < deadline_) {
            wake_.wait_until(guard, deadline_);
            continue;
        }
        // Shut down, not closed: the descriptor stays libssh's, so its number cannot be
        // reused under it; every read and write on it fails from now on.
        ::shutdown(fd_, SHUT_RDWR);
        fired_ = true;
        armed_ = false;
    }
}

} // namespace tavrin::sftp
