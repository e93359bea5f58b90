#include "TlsTestServer.h"

#include "servers/RealServers.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <csignal>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace tlstest {
namespace {

constexpr std::chrono::milliseconds kPoll{100};
constexpr std::chrono::seconds kClientLimit{20};

void BoundSocketCalls(int fd) {
    // The server thread must never hang on a client that stopped.
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

} // namespace

TlsTestServer::TlsTestServer(TlsServerOptions options) : options_(std::move(options)) {
    // OpenSSL writes the server's records with write(): a client that already hung up must
    // fail that write, not kill the test process.
    std::signal(SIGPIPE, SIG_IGN);
    const auto& certificates = testsrv::Certificates();
    context_ = SSL_CTX_new(TLS_server_method());
    if (context_ == nullptr ||
        SSL_CTX_use_certificate_file(context_, certificates.serverCert.c_str(), SSL_FILETYPE_PEM) !=
            1 ||
        SSL_CTX_use_PrivateKey_file(context_, certificates.serverKey.c_str(), SSL_FILETYPE_PEM) !=
            1)
        throw std::runtime_error("test TLS server: cannot load its certificate");
    static const unsigned char kContext[] = "tavrin-test";
    SSL_CTX_set_session_id_context(context_, kContext, sizeof kContext - 1);
    if (options_.maxVersion != 0)
        SSL_CTX_set_max_proto_version(context_, options_.maxVersion);
    if (!options_.resumption) {
        SSL_CTX_set_session_cache_mode(context_, SSL_SESS_CACHE_OFF);
        SSL_CTX_set_options(context_, SSL_OP_NO_TICKET);
        SSL_CTX_set_num_tickets(context_, 0);
    }
    if (options_.requireClientCert) {
        SSL_CTX_load_verify_locations(context_, certificates.caCert.c_str(), nullptr);
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    listen_ = testsrv::ListenLoopback(port_);
    stop_.Reset(eventfd(0, EFD_CLOEXEC));
    thread_ = std::thread([this] { AcceptLoop(); });
}

TlsTestServer::~TlsTestServer() {
    const uint64_t one = 1;
    if (write(stop_.Get(), &one, sizeof one) < 0) {
        // nothing more to do: the loop also ends at its next bounded wait
    }
    if (thread_.joinable())
        thread_.join();
    for (auto& session : sessions_)
        session.join();
    SSL_CTX_free(context_);
}

bool TlsTestServer::WaitForConnections(size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return connections_.size() >= count; });
}

std::vector<TlsServerConnection> TlsTestServer::Connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

void TlsTestServer::AcceptLoop() {
    for (;;) {
        pollfd stop{stop_.Get(), POLLIN, 0};
        if (poll(&stop, 1, 0) > 0)
            return;
        testsrv::UniqueFd client = testsrv::AcceptWithin(listen_.Get(), stop_.Get(), kPoll);
        if (client.Valid())
            sessions_.emplace_back([this, fd = client.Release()] { Serve(testsrv::UniqueFd(fd)); });
    }
}

void TlsTestServer::Serve(testsrv::UniqueFd socket) {
    TlsServerConnection seen;
    BoundSocketCalls(socket.Get());
    if (options_.action == ServerAction::NoHandshake) {
        std::string ignored;
        while (testsrv::ReceiveSome(socket.Get(), ignored, stop_.Get(), kClientLimit)) {
        }
    } else {
        SSL* ssl = SSL_new(context_);
        SSL_set_fd(ssl, socket.Get());
        seen.handshakeOk = SSL_accept(ssl) == 1;
        if (seen.handshakeOk) {
            seen.reused = SSL_session_reused(ssl) == 1;
            X509* peer = SSL_get1_peer_certificate(ssl);
            seen.clientCertificate = peer != nullptr;
            X509_free(peer);
            char buffer[16384];
            switch (options_.action) {
            case ServerAction::Echo:
                for (;;) {
                    const int n = SSL_read(ssl, buffer, sizeof buffer);
                    if (n <= 0 || SSL_write(ssl, buffer, n) != n)
                        break;
                    seen.received.append(buffer, static_cast<size_t>(n));
                }
                break;
            case ServerAction::SendPayloadAndClose: {
                size_t done = 0;
                while (done < options_.payload.size()) {
                    const int n = SSL_write(ssl, options_.payload.data() + done,
                                            static_cast<int>(options_.payload.size() - done));
                    if (n <= 0)
                        break;
                    done += static_cast<size_t>(n);
                }
                if (options_.closeNotify)
                    SSL_shutdown(ssl);
                break;
            }
            case ServerAction::ResetAfterHandshake:
                testsrv::AbortiveClose(socket);
                break;
            case ServerAction::NoHandshake:
                break;
            }
        }
        SSL_free(ssl);
        ERR_clear_error();
    }
    socket.Reset();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.push_back(seen);
    }
    changed_.notify_all();
}

} // namespace tlstest
