#include "ftp/IdSimpleServer.h"

#include "ftp/IdAntiFreezeBase.h"
#include "ftp/IdExceptions.h"
#include "platform/SocketApi.h"

#include <algorithm>
#include <chrono>

using namespace tavrin;

namespace {
constexpr int kAcceptSliceMs = 1000;
constexpr int kListenBacklog = 15;
} // namespace

TIdSimpleServer::TIdSimpleServer() = default;

TIdSimpleServer::~TIdSimpleServer() {
    CloseListener();
}

void TIdSimpleServer::SetBoundPortRange(int min, int max) {
    boundPortMin_ = min;
    boundPortMax_ = max;
}

void TIdSimpleServer::CloseListener() {
    net::CloseSocket(listenSocket_);
    listenSocket_ = net::kInvalidSocket;
}

void TIdSimpleServer::BeginListen() {
    CloseListener();
    listenSocket_ = net::CreateTcpSocketFor(boundIP_);
    try {
        if (boundPortMin_ > 0 && boundPortMax_ >= boundPortMin_ && boundPort_ == 0) {
            // The first free port of the range; the last failure is the one reported.
            for (int port = boundPortMin_;; ++port) {
                try {
                    net::BindSocket(listenSocket_, boundIP_, static_cast<uint16_t>(port));
                    break;
                } catch (const EIdSocketError&) {
                    if (port >= boundPortMax_)
                        throw;
                }
            }
        } else {
            net::BindSocket(listenSocket_, boundIP_, static_cast<uint16_t>(boundPort_));
        }
        net::ListenSocket(listenSocket_, kListenBacklog);
        const net::SocketAddress bound = net::LocalAddress(listenSocket_);
        listenIP_ = bound.ip;
        listenPort_ = bound.port;
    } catch (...) {
        CloseListener();
        throw;
    }
}

bool TIdSimpleServer::FromAllowedPeer(int accepted) const {
    if (allowedPeerIP_.empty())
        return true;
    try {
        return net::PeerAddress(accepted).ip == allowedPeerIP_;
    } catch (const EIdSocketError&) {
        return false; // gone again before we could ask who it was
    }
}

void TIdSimpleServer::Listen(int limitMs) {
    auto* handler = dynamic_cast<TIdIOHandlerSocket*>(IOHandler());
    if (!handler)
        throw EIdNotConnected();
    if (listenSocket_ < 0)
        BeginListen();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        if (abortRequested_)
            return;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            CloseListener();
            throw EIdAcceptTimeout();
        }
        const bool pending = net::WaitReadable(
            listenSocket_, static_cast<int>(std::min<long long>(left, kAcceptSliceMs)));
        TIdAntiFreezeBase::KeepResponsive(!pending, false);
        if (listenSocket_ < 0) // closed by the event loop meanwhile
            throw EIdConnClosedGracefully();
        if (!pending)
            continue;
        net::ListenSocket(listenSocket_, 1);
        const int accepted = net::AcceptSocket(listenSocket_);
        if (!FromAllowedPeer(accepted)) {
            // Whoever else found our port gets nothing and sends nothing into our file.
            net::CloseSocket(accepted);
            continue;
        }
        CloseListener();
        handler->AdoptSocket(accepted);
        return;
    }
}
