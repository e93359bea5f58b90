#include "platform/SocketApi.h"

#include "platform/SocketError.h"
#include "platform/SocketGroup.h"

#include <algorithm>
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

// A socket address of either family; `length` is what the calls need to be told.
struct AnyAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

std::string Unbracketed(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

AnyAddress ToSockaddr(const std::string& ip, uint16_t port) {
    AnyAddress address;
    const std::string text = Unbracketed(ip);
    if (text.find(':') != std::string::npos) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) != 1)
            RaiseSocketError(EINVAL);
        address.length = sizeof(sockaddr_in6);
        return address;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    if (text.empty())
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
    else if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) != 1)
        RaiseSocketError(EINVAL);
    address.length = sizeof(sockaddr_in);
    return address;
}

SocketAddress FromSockaddr(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        return SocketAddress{text, ntohs(v6->sin6_port)};
    }
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    return SocketAddress{text, ntohs(v4->sin_port)};
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

bool IsIPv6Literal(const std::string& host) {
    in6_addr address{};
    return ::inet_pton(AF_INET6, Unbracketed(host).c_str(), &address) == 1;
}

namespace {
std::vector<std::string> LookUp(const std::string& host, int family) {
    if (IsIPv4Literal(host) && family != AF_INET6)
        return {host};
    if (IsIPv6Literal(host) && family != AF_INET)
        return {Unbracketed(host)};
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(Unbracketed(host).c_str(), nullptr, &hints, &result) != 0 || !result)
        RaiseSocketError(kHostNotFound);
    std::vector<std::string> found;
    for (const addrinfo* entry = result; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6)
            continue;
        std::string ip = FromSockaddr(entry->ai_addr).ip;
        if (std::find(found.begin(), found.end(), ip) == found.end())
            found.push_back(std::move(ip));
    }
    ::freeaddrinfo(result);
    if (found.empty())
        RaiseSocketError(kHostNotFound);
    return found;
}
} // namespace

std::vector<std::string> ResolveHost(const std::string& host) {
    return LookUp(host, AF_UNSPEC);
}

std::string ResolveIPv4(const std::string& host) {
    return LookUp(host, AF_INET).front();
}

int CreateTcpSocket(bool ipv6) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        RaiseLast();
    JoinCurrentSocketGroup(fd);
    return fd;
}

int CreateTcpSocketFor(const std::string& ip) {
    return CreateTcpSocket(ip.find(':') != std::string::npos);
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
    const AnyAddress address = ToSockaddr(ip == "0.0.0.0" ? std::string() : ip, port);
    if (::bind(fd, address.get(), address.length) != 0)
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
    const AnyAddress address = ToSockaddr(peer.ip, peer.port);
    SetBlocking(fd, false);
    if (::connect(fd, address.get(), address.length) != 0) {
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
    const AnyAddress address = ToSockaddr(peer.ip, peer.port);
    if (::connect(fd, address.get(), address.length) == 0)
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
    AnyAddress address;
    address.length = sizeof address.storage;
    if (::getsockname(fd, address.get(), &address.length) != 0)
        RaiseLast();
    return FromSockaddr(address.get());
}

SocketAddress PeerAddress(int fd) {
    AnyAddress address;
    address.length = sizeof address.storage;
    if (::getpeername(fd, address.get(), &address.length) != 0)
        RaiseLast();
    return FromSockaddr(address.get());
}

void SetNoDelay(int fd, bool noDelay) {
    const int value = noDelay ? 1 : 0;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != 0)
        RaiseLast();
}

} // namespace tavrin::net
