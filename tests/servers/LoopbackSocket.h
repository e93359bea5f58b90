#pragma once
// Small POSIX socket helpers for the test servers. Every wait goes through poll() together
// with a "stop" descriptor (an eventfd that becomes readable when the owner shuts down), so
// no server thread can block beyond its time limit or outlive its owner's destructor.

#include <chrono>
#include <cstdint>
#include <string>

namespace testsrv {

// Owns one file descriptor; closes it on destruction.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

enum class WaitResult { Ready, TimedOut, Stopped };

// Waits until fd is readable (or writable) or the stop descriptor fires or the limit passes.
WaitResult WaitFor(int fd, bool forWrite, int stopFd, std::chrono::milliseconds limit);

// A listening TCP socket on 127.0.0.1 (or ::1) with a kernel-chosen port.
UniqueFd ListenLoopback(uint16_t& port, const std::string& ip = "127.0.0.1");

// Accepts one connection within the limit; invalid on time-out or stop.
UniqueFd AcceptWithin(int listenFd, int stopFd, std::chrono::milliseconds limit);

// Connects to a loopback address (IPv4, or ::1) within the limit; invalid on failure.
UniqueFd ConnectWithin(const std::string& ipv4, uint16_t port, int stopFd,
                       std::chrono::milliseconds limit);

// Sends all bytes; false if the peer went away, the limit passed or the owner stopped.
bool SendAll(int fd, const std::string& bytes, int stopFd, std::chrono::milliseconds limit);

// Reads what is there (at most 64 KiB) once readable. Returns false on end of stream,
// error, time-out or stop; `timedOut` tells a time-out apart from the rest.
bool ReceiveSome(int fd, std::string& out, int stopFd, std::chrono::milliseconds limit,
                 bool* timedOut = nullptr);

// Closes with an RST instead of a FIN (SO_LINGER 0), like a server process that dies.
void AbortiveClose(UniqueFd& fd);

} // namespace testsrv
