#include "ftp/tls/IdSSLSocket.h"

#include "ftp/IdExceptions.h"
#include "ftp/tls/IdSSLAlerts.h"
#include "ftp/tls/IdSSLContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <climits>
#include <poll.h>

namespace {

int ClampToInt(size_t size) {
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

} // namespace

TIdSSLSocket::TIdSSLSocket(TIdSSLIOHandlerSocketOpenSSL& owner, TIdSSLContext& context)
    : owner_(owner), context_(context) {
    ssl_ = SSL_new(context_.Handle());
    // Without a session the connection would carry the data in the clear although TLS was
    // asked for; that must fail, not go on silently.
    if (ssl_ == nullptr)
        throw EIdOSSLConnectError();
    if (SSL_set_app_data(ssl_, this) < 1)
        throw EIdOSSLDataBindingError();
    SSL_set_cert_cb(
        ssl_,
        [](SSL*, void* self) {
            static_cast<TIdSSLSocket*>(self)->certRequested_ = true;
            return 1;
        },
        this);
}

TIdSSLSocket::~TIdSSLSocket() {
    if (ssl_ != nullptr)
        SSL_free(ssl_); // also frees the BIO
}

void TIdSSLSocket::Attach(int fd, int timeoutMs) {
    transport_.timeoutMs = timeoutMs;
    if (attached_)
        return;
    transport_.fd = fd;
    BIO* bio = tavrin::tls::NewSocketBio(&transport_);
    if (bio == nullptr)
        throw EIdOSSLConnectError();
    SSL_set_bio(ssl_, bio, bio); // one reference, taken by the session for both directions
    attached_ = true;
}

void TIdSSLSocket::Connect(int fd, ssl_session_st* resume, int timeoutMs) {
    Attach(fd, timeoutMs);
    if (HandshakeDone())
        return;
    if (resume != nullptr && SSL_in_before(ssl_) == 1 && SSL_SESSION_is_resumable(resume) == 1)
        SSL_set_session(ssl_, resume);
    const int result = HandshakeStep(SSL_connect);
    if (result >= 1 || HandshakeWouldWait(result))
        return;
    failed_ = true;
    const int alert = tavrin::tls::ReceivedAlert();
    ERR_clear_error();
    tavrin::tls::RaiseIfCertificateRefused(alert, SSL_get_certificate(ssl_) != nullptr);
    throw EIdOSSLConnectError();
}

void TIdSSLSocket::Accept(int fd, int timeoutMs) {
    Attach(fd, timeoutMs);
    if (HandshakeDone())
        return;
    const int result = HandshakeStep(SSL_accept);
    if (result >= 1 || HandshakeWouldWait(result))
        return;
    failed_ = true;
    ERR_clear_error();
    throw EIdOSSLAcceptError();
}

int TIdSSLSocket::HandshakeStep(int (*step)(ssl_st*)) {
    ERR_clear_error();
    transport_.ResetOutcome();
    transport_.nonBlocking = waitOutside_;
    const int result = step(ssl_);
    transport_.nonBlocking = false;
    return result;
}

bool TIdSSLSocket::HandshakeWouldWait(int result) {
    if (!waitOutside_)
        return false;
    const int error = SSL_get_error(ssl_, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
        return false;
    ERR_clear_error();
    waitingForWrite_ = error == SSL_ERROR_WANT_WRITE;
    return true;
}

bool TIdSSLSocket::HandshakeDone() const {
    return SSL_is_init_finished(ssl_) == 1;
}

size_t TIdSSLSocket::Receive(char* buffer, size_t size, int timeoutMs) {
    transport_.timeoutMs = timeoutMs;
    for (;;) {
        ERR_clear_error();
        transport_.ResetOutcome();
        int received = SSL_read(ssl_, buffer, ClampToInt(size));
        if (received > 0)
            return static_cast<size_t>(received);
        const int error = SSL_get_error(ssl_, received);
        const int alert = tavrin::tls::ReceivedAlert();
        ERR_clear_error();
        if (error == SSL_ERROR_ZERO_RETURN)
            return 0;
        if (transport_.timedOut) {
            failed_ = true;
            throw EIdReadTimeout();
        }
        // The library asks to be called again after handling a message of its own.
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
            continue;
        failed_ = true;
        if (transport_.lastErrno != 0)
            tavrin::net::RaiseSocketError(transport_.lastErrno);
        if (error == SSL_ERROR_SYSCALL && transport_.eof)
            return 0; // the peer closed the socket without the closing alert
        // A broken record or an alert from the server.
        tavrin::tls::RaiseIfCertificateRefused(alert, SSL_get_certificate(ssl_) != nullptr);
        tavrin::net::RaiseSocketError(EPROTO);
    }
}

size_t TIdSSLSocket::Send(const char* buffer, size_t size, int timeoutMs) {
    transport_.timeoutMs = timeoutMs;
    for (;;) {
        ERR_clear_error();
        transport_.ResetOutcome();
        int sent = SSL_write(ssl_, buffer, ClampToInt(size));
        if (sent > 0)
            return static_cast<size_t>(sent);
        const int error = SSL_get_error(ssl_, sent);
        ERR_clear_error();
        if (transport_.timedOut) {
            failed_ = true;
            tavrin::net::RaiseSocketError(ETIMEDOUT);
        }
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
            continue;
        failed_ = true;
        if (transport_.lastErrno != 0)
            tavrin::net::RaiseSocketError(transport_.lastErrno);
        // The peer ended the session (alert) or the library refused: the peer is gone.
        tavrin::net::RaiseSocketError(error == SSL_ERROR_ZERO_RETURN ? EPIPE : EPROTO);
    }
}

bool TIdSSLSocket::Pending() const {
    return SSL_pending(ssl_) > 0;
}

bool TIdSSLSocket::ProbeReadable() {
    if (failed_ || Pending())
        return true;
    transport_.nonBlocking = true;
    ERR_clear_error();
    transport_.ResetOutcome();
    char first = 0;
    const int peeked = SSL_peek(ssl_, &first, 1);
    const int error = peeked > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, peeked);
    ERR_clear_error();
    transport_.nonBlocking = false;
    return error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE;
}

void TIdSSLSocket::SendCloseAlert(int timeoutMs) {
    if (!attached_ || failed_ || closeAlertSent_ || !HandshakeDone())
        return;
    transport_.timeoutMs = timeoutMs;
    transport_.nonBlocking = false;
    ERR_clear_error();
    transport_.ResetOutcome();
    SSL_shutdown(ssl_);
    ERR_clear_error();
    closeAlertSent_ = true;
}

void TIdSSLSocket::AwaitServerVerdict(int limitMs) {
    if (!certRequested_ || SSL_version(ssl_) != TLS1_3_VERSION || SessionReused() || failed_)
        return;
    pollfd wanted{transport_.fd, POLLIN, 0};
    if (::poll(&wanted, 1, limitMs) <= 0)
        return; // nothing said in time: a refusal, if any, shows at the first read
    transport_.nonBlocking = true;
    ERR_clear_error();
    transport_.ResetOutcome();
    char first = 0;
    const int peeked = SSL_peek(ssl_, &first, 1);
    const int error = peeked > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, peeked);
    const int alert = tavrin::tls::ReceivedAlert();
    ERR_clear_error();
    transport_.nonBlocking = false;
    // A session ticket (the library then wants more) or data: the server took our
    // certificate. Anything else is left for the first read to report.
    if (error == SSL_ERROR_SSL) {
        failed_ = true;
        tavrin::tls::RaiseIfCertificateRefused(alert, SSL_get_certificate(ssl_) != nullptr);
    }
}

void TIdSSLSocket::Shutdown() {
    if (!attached_ || failed_ || closeAlertSent_ || !HandshakeDone())
        return;
    // One call sends our closing alert; the peer's answer is not awaited. A send buffer
    // that is full (a server that stopped reading) must not hold the close up either.
    transport_.nonBlocking = true;
    ERR_clear_error();
    transport_.ResetOutcome();
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

TIdSSLCipher TIdSSLSocket::Cipher() const {
    TIdSSLCipher result;
    const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl_);
    if (cipher == nullptr)
        return result;
    result.Name = SSL_CIPHER_get_name(cipher);
    char description[1024] = {};
    if (SSL_CIPHER_description(cipher, description, sizeof description) != nullptr)
        result.Description = description;
    // The library ends the description with a line break; the report is one line.
    while (!result.Description.empty() &&
           (result.Description.back() == '\n' || result.Description.back() == '\r' ||
            result.Description.back() == ' '))
        result.Description.pop_back();
    result.Bits = SSL_CIPHER_get_bits(cipher, nullptr);
    result.Version = SSL_CIPHER_get_version(cipher);
    return result;
}

bool TIdSSLSocket::SessionReused() const {
    return SSL_session_reused(ssl_) == 1;
}

ssl_session_st* TIdSSLSocket::ResumableSession() const {
    SSL_SESSION* session = SSL_get1_session(ssl_);
    if (session != nullptr && SSL_SESSION_is_resumable(session) != 1) {
        SSL_SESSION_free(session);
        session = nullptr;
    }
    return session;
}
