#include "remote/sftp/SshSocket.h"

#include "platform/SocketApi.h"
#include "remote/sftp/SftpErrors.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

namespace tavrin::sftp {
namespace {

// Connects `fd` within `limit`; "" when connected, else the reason.
std::string ConnectWithin(int fd, const net::SocketAddress& peer,
                          std::chrono::steady_clock::time_point deadline) {
    // The platform layer makes the address; a non-blocking connect lets us bound the wait.
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (peer.ip.find(':') != std::string::npos) {
        auto* six = reinterpret_cast<sockaddr_in6*>(&address);
        six->sin6_family = AF_INET6;
        six->sin6_port = htons(peer.port);
        if (::inet_pton(AF_INET6, peer.ip.c_str(), &six->sin6_addr) != 1)
            return "not an address: " + peer.ip;
        length = sizeof(sockaddr_in6);
    } else {
        auto* four = reinterpret_cast<sockaddr_in*>(&address);
        four->sin_family = AF_INET;
        four->sin_port = htons(peer.port);
        if (::inet_pton(AF_INET, peer.ip.c_str(), &four->sin_addr) != 1)
            return "not an address: " + peer.ip;
        length = sizeof(sockaddr_in);
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        if (errno != EINPROGRESS && errno != EINTR)
            return std::strerror(errno);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return "no answer within the time-out";
            pollfd entry{fd, POLLOUT, 0};
            // Short slices: a socket the stop shut down while it connected shows no event.
            const int ready =
                ::poll(&entry, 1, static_cast<int>(std::min<long>(left.count(), 100)));
            if (ready < 0 && errno != EINTR)
                return std::strerror(errno);
            if (ready > 0)
                break;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        if (error != 0)
            return std::strerror(error);
    }
    ::fcntl(fd, F_SETFL, flags);
    return "";
}

} // namespace

int ConnectSshSocket(const std::string& host, int port, std::chrono::milliseconds limit,
                     const std::string& where) {
    std::vector<std::string> addresses;
    try {
        addresses = net::ResolveHost(host);
    } catch (const std::exception& failure) {
        throw ESftpError("Unable to connect to " + where + ": " + failure.what());
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string reason = "no address";
    for (const std::string& ip : addresses) {
        int fd = net::kInvalidSocket;
        try {
            fd = net::CreateTcpSocketFor(ip);
        } catch (const std::exception& failure) {
            reason = failure.what();
            continue;
        }
        reason = ConnectWithin(fd, {ip, static_cast<uint16_t>(port)}, deadline);
        if (reason.empty()) {
            // libssh sets TCP_NODELAY only on sockets it makes itself. Without it every
            // small request (a read, a window adjustment) sent while data is unacknowledged
            // waits for the peer's delayed ACK: 40 ms stalls, several a second.
            const int noDelay = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
            return fd;
        }
        net::CloseSocket(fd);
    }
    throw ESftpError("Unable to connect to " + where + ": " + reason);
}

} // namespace tavrin::sftp
