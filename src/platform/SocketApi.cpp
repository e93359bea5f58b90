#include "platform/SocketApi.h"

#include "platform/SocketError.h"
#include "platform/SocketGroup.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrin::net {
namespace {

[[noreturn]] void RaiseLast() {
    RaiseSocketError(errno);
}

sockaddr_in ToSockaddr(const std::string& ip, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (ip.empty()) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    } else if (::inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        RaiseSocketError(EINVAL);
    }
    return address;
}

SocketAddress FromSockaddr(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return SocketAddress{text, ntohs(address.sin_port)};
}

void SetBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        RaiseLast();
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    if (wanted != flags && ::fcntl(fd, F_SETFL, wanted) < 0)
        RaiseLast();
}

} // namespace

bool IsIPv4Literal(const std::string& host) {
    in_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1;
}

std::string ResolveIPv4(const std::string& host) {
    if (IsIPv4Literal(host))
        return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result)
        RaiseSocketError(kHostNotFound);
    const SocketAddress found = FromSockaddr(*reinterpret_cast<sockaddr_in*>(result->ai_addr));
    ::freeaddrinfo(result);
    return found.ip;
}

int CreateTcpSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        RaiseLast();
    JoinCurrentSocketGroup(fd);
    return fd;
}

void CloseSocket(int fd) {
    if (fd != kInvalidSocket)
        CloseGroupedSocket(fd);
}

void DiscardPendingInput(int fd) {
    if (fd == kInvalidSocket)
        return;
    char buffer[16384];
    for (int round = 0; round < 64; ++round) // bounded: a peer still sending gets its reset
        if (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0)
            return;
}

bool DiscardInputUntilEnd(int fd) {
    if (fd == kInvalidSocket)
        return true;
    char buffer[16384];
    for (;;) {
        const ssize_t received = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received > 0)
            continue;
        if (received < 0 && errno == EINTR)
            continue;
        return !(received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    }
}

void ShutdownSend(int fd) {
    if (fd != kInvalidSocket)
        ::shutdown(fd, SHUT_WR);
}

void BindSocket(int fd, const std::string& ip, uint16_t port) {
    const sockaddr_in address = ToSockaddr(ip == "0.0.0.0" ? std::string() : ip, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        RaiseLast();
}

void ListenSocket(int fd, int backlog) {
    if (::listen(fd, backlog) != 0)
        RaiseLast();
}

int AcceptSocket(int fd) {
    for (;;) {
        const int accepted = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (accepted >= 0) {
            JoinCurrentSocketGroup(accepted);
            return accepted;
        }
        if (errno != EINTR)
            RaiseLast();
    }
}

namespace {
// After a connect that went on in the background: raises what it ended with, if anything.
void RaiseConnectFailure(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        RaiseLast();
    if (error != 0)
        RaiseSocketError(error);
}
} // namespace

bool ConnectSocket(int fd, const SocketAddress& peer, const std::atomic<bool>& stop) {
    const sockaddr_in address = ToSockaddr(peer.ip, peer.port);
    SetBlocking(fd, false);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            const int error = errno;
            SetBlocking(fd, true);
            RaiseSocketError(error);
        }
        // Short slices so that whoever waits for us can call the attempt off.
        for (;;) {
            if (stop.load())
                return false;
            pollfd entry{fd, POLLOUT, 0};
            const int ready = ::poll(&entry, 1, 50);
            if (ready < 0 && errno != EINTR)
                RaiseLast();
            if (ready > 0)
                break;
        }
        RaiseConnectFailure(fd);
    }
    SetBlocking(fd, true);
    return true;
}

void ConnectSocketBlocking(int fd, const SocketAddress& peer) {
    const sockaddr_in address = ToSockaddr(peer.ip, peer.port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return;
    if (errno != EINTR)
        RaiseLast();
    // Interrupted, the connect goes on in the background; calling connect again would only
    // say EALREADY or EISCONN. Wait for its outcome instead.
    for (;;) {
        pollfd entry{fd, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, -1);
        if (ready > 0)
            break;
        if (ready < 0 && errno != EINTR)
            RaiseLast();
    }
    RaiseConnectFailure(fd);
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, timeoutMs < 0 ? -1 : timeoutMs);
        if (ready >= 0) {
            if (ready > 0 && (entry.revents & POLLNVAL))
                RaiseSocketError(EBADF);
            return ready > 0;
        }
        if (errno != EINTR)
            RaiseLast();
    }
}

bool WaitWritable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLOUT, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, timeoutMs < 0 ? -1 : timeoutMs);
        if (ready >= 0) {
            if (ready > 0 && (entry.revents & POLLNVAL))
                RaiseSocketError(EBADF);
            return ready > 0;
        }
        if (errno != EINTR)
            RaiseLast();
    }
}

size_t SendWithoutWaiting(int fd, const char* data, size_t size) {
    for (;;) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0)
            return static_cast<size_t>(sent);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EINTR)
            RaiseLast();
    }
}

size_t SendSome(int fd, const char* data, size_t size) {
    for (;;) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent >= 0)
            return static_cast<size_t>(sent);
        if (errno != EINTR)
            RaiseLast();
    }
}

size_t ReceiveSome(int fd, char* buffer, size_t size) {
    for (;;) {
        const ssize_t received = ::recv(fd, buffer, size, 0);
        if (received >= 0)
            return static_cast<size_t>(received);
        if (errno != EINTR)
            RaiseLast();
    }
}

SocketAddress LocalAddress(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        RaiseLast();
    return FromSockaddr(address);
}

SocketAddress PeerAddress(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        RaiseLast();
    return FromSockaddr(address);
}

void SetNoDelay(int fd, bool noDelay) {
    const int value = noDelay ? 1 : 0;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != 0)
        RaiseLast();
}

} // namespace tavrin::net
