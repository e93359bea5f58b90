#include "ftp/IdIOHandler.h"

#include "ftp/IdAntiFreezeBase.h"
#include "ftp/IdConnectThread.h"
#include "ftp/IdExceptions.h"
#include "platform/SocketApi.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

using namespace tavrin;

namespace {
// Without a limit of its own, a connect on the window's thread gives up after two minutes.
constexpr int kResponsiveConnectLimitMs = 120000;
} // namespace

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
    CloseSource();
}

void TIdIOHandlerSocket::CloseSource() {
    // Bytes we never read (a TLS 1.3 session ticket on an upload's data connection) would
    // turn our close into a reset, and the server would lose the end of the upload.
    net::DiscardPendingInput(socket_);
    net::CloseSocket(socket_);
    socket_ = net::kInvalidSocket;
}

void TIdIOHandlerSocket::Close() {
    TIdIOHandler::Close();
}

void TIdIOHandlerSocket::CloseAfterSending(int limitMs) {
    if (socket_ >= 0) {
        EndTransportSession(limitMs);
        net::ShutdownSend(socket_);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, limitMs));
        const int slice = TIdAntiFreezeBase::InForce()
                              ? std::max(1, TIdAntiFreezeBase::Instance()->IdleTimeOut)
                              : std::max(0, limitMs);
        try {
            while (socket_ >= 0 && !net::DiscardInputUntilEnd(socket_)) {
                const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                           deadline - std::chrono::steady_clock::now())
                                           .count();
                if (left <= 0)
                    break;
                const bool readable =
                    net::WaitReadable(socket_, static_cast<int>(std::min<long long>(left, slice)));
                TIdAntiFreezeBase::KeepResponsive(!readable, false);
            }
        } catch (const std::exception&) {
            // A failed wait ends the linger; the close below still happens.
        }
    }
    Close();
}

void TIdIOHandlerSocket::Open() {
    Close();
    input_.clear();
    closedGracefully_ = false;
    if (Port() <= 0 || Port() > 65535)
        net::RaiseSocketError(EINVAL);
    try {
        if (!net::IsIPv4Literal(Host()) && !net::IsIPv6Literal(Host()))
            DoStatus(hsResolving, Host());
        const std::vector<std::string> addresses = net::ResolveHost(Host());
        int limit = ConnectTimeout();
        if (limit <= 0 && TIdAntiFreezeBase::InForce())
            limit = kResponsiveConnectLimitMs;
        ConnectToFirstReachable(addresses, limit);
        opened_ = true;
        AfterTcpConnect();
    } catch (...) {
        Close();
        throw;
    }
}

void TIdIOHandlerSocket::ConnectToFirstReachable(const std::vector<std::string>& addresses,
                                                 int limitMs) {
    // A bound local address decides the family; addresses of the other one are skipped.
    std::vector<std::string> usable;
    for (const std::string& ip : addresses)
        if (BoundIP().empty() ||
            (BoundIP().find(':') == std::string::npos) == (ip.find(':') == std::string::npos))
            usable.push_back(ip);
    if (usable.empty())
        net::RaiseSocketError(EAFNOSUPPORT);
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < usable.size(); ++i) {
        const std::string& ip = usable[i];
        // One address that drops packets must leave the others time within the same limit:
        // each gets an even share of what is left, the last one all of it.
        int share = -1;
        if (limitMs > 0) {
            const long long used = std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - start)
                                       .count();
            const long long left = std::max<long long>(1, limitMs - used);
            share = static_cast<int>(left / static_cast<long long>(usable.size() - i));
            share = std::max(share, 1);
        }
        try {
            socket_ = net::CreateTcpSocketFor(ip);
            if (!BoundIP().empty() || BoundPort() != 0)
                net::BindSocket(socket_, BoundIP(), static_cast<uint16_t>(BoundPort()));
            if (!UseNagle())
                net::SetNoDelay(socket_, true);
            DoStatus(hsConnecting, ip);
            const net::SocketAddress peer{ip, static_cast<uint16_t>(Port())};
            if (share > 0)
                ftp::ConnectWithLimit(socket_, peer, share);
            else
                net::ConnectSocketBlocking(socket_, peer);
            ipVersion_ = ip.find(':') == std::string::npos ? Id_IPv4 : Id_IPv6;
            return;
        } catch (const std::exception&) {
            CloseSource();
            if (i + 1 == usable.size())
                throw; // the last address's failure is the one reported
        }
    }
}

void TIdIOHandlerSocket::AdoptSocket(int socket) {
    Close();
    input_.clear();
    closedGracefully_ = false;
    socket_ = socket;
    opened_ = true;
    try {
        AfterTcpConnect();
    } catch (...) {
        Close();
        throw;
    }
}

bool TIdIOHandlerSocket::WaitReadable(int ms) {
    if (HasBufferedTransportData())
        return true;
    if (socket_ < 0)
        throw EIdConnClosedGracefully();
    auto waitOnce = [this](int limit) {
        if (socket_ < 0) // the event loop may have closed us meanwhile
            throw EIdConnClosedGracefully();
        const bool readable = net::WaitReadable(socket_, limit);
        TIdAntiFreezeBase::KeepResponsive(!readable, false);
        if (socket_ < 0) // ... or during the keep-responsive step just now
            throw EIdConnClosedGracefully();
        return readable;
    };
    // The zero-time probe behind IsConnected looks at the socket on every thread: an idle
    // connection the server dropped must be noticed before the next command.
    if (!TIdAntiFreezeBase::InForce() || ms == 0)
        return waitOnce(ms < 0 ? -1 : ms);
    const int idle = std::max(1, TIdAntiFreezeBase::Instance()->IdleTimeOut);
    if (ms < 0) {
        while (!waitOnce(idle)) {
        }
        return true;
    }
    // A limited wait on the window's thread runs in idle slices right to its end, so the
    // window keeps painting while a reply is awaited; one long first piece would freeze it
    // for up to a whole read time-out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        if (waitOnce(static_cast<int>(std::min<long long>(left, idle))))
            return true;
    }
}

size_t TIdIOHandlerSocket::RawReceive(char* buffer, size_t size) {
    return net::ReceiveSome(socket_, buffer, size);
}

bool TIdIOHandlerSocket::WaitWritable(int ms) {
    auto waitOnce = [this](int limit) {
        if (socket_ < 0) // the event loop may have closed us meanwhile
            throw EIdConnClosedGracefully();
        const bool writable = net::WaitWritable(socket_, limit);
        TIdAntiFreezeBase::KeepResponsive(!writable, false);
        if (socket_ < 0) // ... or during the keep-responsive step just now
            throw EIdConnClosedGracefully();
        return writable;
    };
    const int slice =
        TIdAntiFreezeBase::InForce() ? std::max(1, TIdAntiFreezeBase::Instance()->IdleTimeOut) : -1;
    if (ms < 0 && slice < 0)
        return waitOnce(-1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        long long limit = slice;
        if (ms >= 0) {
            const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                       deadline - std::chrono::steady_clock::now())
                                       .count();
            if (left <= 0)
                return false;
            limit = slice < 0 ? left : std::min<long long>(left, slice);
        }
        if (waitOnce(static_cast<int>(limit)))
            return true;
    }
}

size_t TIdIOHandlerSocket::RawSend(const char* buffer, size_t size) {
    // A blocking send to a server that stopped reading would wait for ever once the socket
    // buffers are full, so each stall is bounded by the read time-out like every receive.
    const int limit = ReadTimeout() > 0 ? ReadTimeout() : -1;
    for (;;) {
        if (socket_ < 0)
            throw EIdConnClosedGracefully();
        const size_t sent = net::SendWithoutWaiting(socket_, buffer, size);
        if (sent > 0 || size == 0)
            return sent;
        if (!WaitWritable(limit))
            net::RaiseSocketError(ETIMEDOUT);
    }
}

size_t TIdIOHandlerStack::RawReceive(char* buffer, size_t size) {
    return TIdIOHandlerSocket::RawReceive(buffer, size);
}

size_t TIdIOHandlerStack::RawSend(const char* buffer, size_t size) {
    return TIdIOHandlerSocket::RawSend(buffer, size);
}
