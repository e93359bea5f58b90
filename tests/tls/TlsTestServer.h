#pragma once
// A TLS server in the test process on 127.0.0.1, for the handler's own tests: it handshakes
// on every connection it accepts, then does one scripted thing, and records what it saw
// (handshake, resumption, client certificate, bytes received).
#include "servers/LoopbackSocket.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ssl_ctx_st;

namespace tlstest {

enum class ServerAction {
    Echo,                // send back what arrives until the client closes
    SendPayloadAndClose, // send the payload, then close (with or without the closing alert)
    ResetAfterHandshake, // drop the connection with a reset right after the handshake
    NoHandshake,         // accept, never speak TLS, wait for the client to go
};

struct TlsServerOptions {
    ServerAction action = ServerAction::Echo;
    std::string payload;
    bool closeNotify = true;
    int maxVersion = 0;     // e.g. TLS1_2_VERSION; 0: what the library offers
    bool resumption = true; // session cache and tickets on
    bool requireClientCert = false;
};

struct TlsServerConnection {
    bool handshakeOk = false;
    bool reused = false;
    bool clientCertificate = false;
    std::string received;
};

class TlsTestServer {
public:
    explicit TlsTestServer(TlsServerOptions options);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    uint16_t Port() const { return port_; }
    // Waits (bounded) until `count` connections have been handled to their end.
    // Connections are recorded in the order they end.
    bool WaitForConnections(size_t count, std::chrono::milliseconds limit) const;
    std::vector<TlsServerConnection> Connections() const;

private:
    void AcceptLoop();
    void Serve(testsrv::UniqueFd socket);

    TlsServerOptions options_;
    ssl_ctx_st* context_ = nullptr;
    testsrv::UniqueFd listen_;
    testsrv::UniqueFd stop_;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<TlsServerConnection> connections_;
    std::thread thread_;
    std::vector<std::thread> sessions_; // one per accepted connection, joined at the end
};

} // namespace tlstest
