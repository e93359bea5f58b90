#include "servers/LoopbackSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsrv {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other)
        Reset(other.Release());
    return *this;
}

int UniqueFd::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

WaitResult WaitFor(int fd, bool forWrite, int stopFd, std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0)
            left = std::chrono::milliseconds(0);
        pollfd fds[2] = {{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0},
                         {stopFd, POLLIN, 0}};
        int n = ::poll(fds, stopFd >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return WaitResult::Stopped;
        if (stopFd >= 0 && (fds[1].revents & POLLIN))
            return WaitResult::Stopped;
        if (n == 0)
            return WaitResult::TimedOut;
        // Errors and hang-ups count as ready: the following call reports them.
        return WaitResult::Ready;
    }
}

namespace {
// An IPv4 or IPv6 loopback address; anything else is refused, so a test never reaches out.
struct LoopbackSockaddr {
    sockaddr_storage storage{};
    socklen_t length = 0;
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

LoopbackSockaddr LoopbackAddress(const std::string& ip, uint16_t port) {
    LoopbackSockaddr a;
    if (ip.find(':') != std::string::npos) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        if (::inet_pton(AF_INET6, ip.c_str(), &v6->sin6_addr) != 1 ||
            !IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr))
            throw std::invalid_argument("not the IPv6 loopback address: " + ip);
        a.length = sizeof(sockaddr_in6);
        return a;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a.storage);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    if (::inet_pton(AF_INET, ip.c_str(), &v4->sin_addr) != 1)
        throw std::invalid_argument("not an IPv4 address: " + ip);
    a.length = sizeof(sockaddr_in);
    return a;
}

uint16_t PortOf(const sockaddr_storage& storage) {
    if (storage.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}
} // namespace

UniqueFd ListenLoopback(uint16_t& port, const std::string& ip) {
    LoopbackSockaddr addr = LoopbackAddress(ip, 0);
    UniqueFd fd(::socket(addr.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid())
        throw std::runtime_error("socket() failed");
    int yes = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd.Get(), addr.get(), addr.length) != 0 || ::listen(fd.Get(), 16) != 0)
        throw std::runtime_error("cannot listen on " + ip);
    socklen_t len = sizeof addr.storage;
    ::getsockname(fd.Get(), addr.get(), &len);
    port = PortOf(addr.storage);
    return fd;
}

UniqueFd AcceptWithin(int listenFd, int stopFd, std::chrono::milliseconds limit) {
    if (WaitFor(listenFd, false, stopFd, limit) != WaitResult::Ready)
        return UniqueFd();
    return UniqueFd(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
}

UniqueFd ConnectWithin(const std::string& ipv4, uint16_t port, int stopFd,
                       std::chrono::milliseconds limit) {
    LoopbackSockaddr addr = LoopbackAddress(ipv4, port);
    UniqueFd fd(::socket(addr.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid())
        return fd;
    if (::connect(fd.Get(), addr.get(), addr.length) != 0) {
        if (errno != EINPROGRESS)
            return UniqueFd();
        if (WaitFor(fd.Get(), true, stopFd, limit) != WaitResult::Ready)
            return UniqueFd();
        int error = 0;
        socklen_t len = sizeof error;
        ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &len);
        if (error != 0)
            return UniqueFd();
    }
    int flags = ::fcntl(fd.Get(), F_GETFL);
    ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool SendAll(int fd, const std::string& bytes, int stopFd, std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    size_t sent = 0;
    while (sent < bytes.size()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || WaitFor(fd, true, stopFd, left) != WaitResult::Ready)
            return false;
        ssize_t n =
            ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool ReceiveSome(int fd, std::string& out, int stopFd, std::chrono::milliseconds limit,
                 bool* timedOut) {
    if (timedOut)
        *timedOut = false;
    for (;;) {
        WaitResult w = WaitFor(fd, false, stopFd, limit);
        if (w != WaitResult::Ready) {
            if (timedOut)
                *timedOut = w == WaitResult::TimedOut;
            return false;
        }
        char buffer[65536];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        out.append(buffer, static_cast<size_t>(n));
        return true;
    }
}

void AbortiveClose(UniqueFd& fd) {
    if (!fd.Valid())
        return;
    linger lg{1, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    fd.Reset();
}

} // namespace testsrv
