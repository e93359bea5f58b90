#pragma once
// The listener of an active-mode data connection: listens once, accepts exactly one peer
// into its handler, then closes the listening socket.
#include "ftp/IdTCPConnection.h"

#include <atomic>
#include <string>

class TIdSimpleServer : public TIdTCPConnection {
public:
    TIdSimpleServer();
    ~TIdSimpleServer() override;

    const std::string& BoundIP() const { return boundIP_; }
    void SetBoundIP(const std::string& ip) { boundIP_ = ip; }
    int BoundPort() const { return boundPort_; }
    void SetBoundPort(int port) { boundPort_ = port; }
    int BoundPortMin() const { return boundPortMin_; }
    int BoundPortMax() const { return boundPortMax_; }
    void SetBoundPortRange(int min, int max);
    // Only a peer from this address is accepted (empty: any); others are closed unheard.
    void SetAllowedPeerIP(const std::string& ip) { allowedPeerIP_ = ip; }

    // Allocates, binds (the first free port of the range, or any) and listens (backlog 15).
    void BeginListen();
    // The address and port actually bound.
    const std::string& ListenIP() const { return listenIP_; }
    int ListenPort() const { return listenPort_; }

    // Waits in 1000 ms slices (keep-responsive step after each) for the peer, at most
    // `limitMs` in all (EIdAcceptTimeout then), accepts into the attached handler, which
    // must be a socket handler, and closes the listener. Connections from another address
    // than the allowed one are closed and the wait goes on.
    void Listen(int limitMs);
    void Abort() { abortRequested_ = true; }
    void CloseListener();

private:
    bool FromAllowedPeer(int accepted) const;

    std::string boundIP_;
    int boundPort_ = 0, boundPortMin_ = 0, boundPortMax_ = 0;
    std::string listenIP_;
    std::string allowedPeerIP_;
    int listenPort_ = 0;
    int listenSocket_ = -1;
    std::atomic<bool> abortRequested_{false};
};
