#pragma once
// libssh waits without a limit for an answer once connected (its timeout bounds only the
// connect), so a server that stops answering would hold a monitor forever. The watchdog
// shuts the session's socket down when an operation goes without progress for longer than
// the limit; the blocked call then fails and the session is over.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tavrin::sftp {

class TSftpWatchdog {
public:
    TSftpWatchdog() = default;
    ~TSftpWatchdog();
    TSftpWatchdog(const TSftpWatchdog&) = delete;
    TSftpWatchdog& operator=(const TSftpWatchdog&) = delete;

    // Starts watching `fd`: unless Touch() or Disarm() comes within `limit`, it is shut down.
    void Arm(int fd, std::chrono::milliseconds limit);
    void Touch(); // progress: the limit starts again
    void Disarm();
    // Whether it shut the socket down since the last Arm().
    bool Fired() const;

private:
    void Run();

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::thread thread_;
    int fd_ = -1;
    bool armed_ = false;
    bool fired_ = false;
    bool quit_ = false;
    std::chrono::milliseconds limit_{0};
    std::chrono::steady_clock::time_point deadline_{};
};

// Arms the watchdog for one operation and disarms it at the end of the scope.
class TSftpWatch {
public:
    TSftpWatch(TSftpWatchdog& dog, int fd, std::chrono::milliseconds limit) : dog_(dog) {
        dog_.Arm(fd, limit);
    }
    ~TSftpWatch() { dog_.Disarm(); }
    TSftpWatch(const TSftpWatch&) = delete;
    TSftpWatch& operator=(const TSftpWatch&) = delete;

private:
    TSftpWatchdog& dog_;
};

} // namespace tavrin::sftp
