// The TCP connection under an SSH session sends small packets at once: a read request held
// back until the peer acknowledges the last data (Nagle) stalls a download for the peer's
// delayed ACK, 40 ms at a time.
#include "remote/sftp/SshSocket.h"

#include "platform/SocketApi.h"
#include "servers/LoopbackSocket.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

TEST(SftpSocket, SmallPacketsGoOutAtOnceOnEitherAddressFamily) {
    for (const std::string host : {"127.0.0.1", "::1"}) {
        SCOPED_TRACE(host);
        uint16_t port = 0;
        testsrv::UniqueFd listener;
        try {
            listener = testsrv::ListenLoopback(port, host);
        } catch (const std::runtime_error&) {
            if (host == "::1")
                continue; // no IPv6 loopback on this machine
            throw;
        }
        const int fd =
            tavrin::sftp::ConnectSshSocket(host, port, std::chrono::seconds(5), host + " test");
        int noDelay = 0;
        socklen_t size = sizeof noDelay;
        EXPECT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &size), 0);
        EXPECT_NE(noDelay, 0);
        tavrin::net::CloseSocket(fd);
    }
}

} // namespace
