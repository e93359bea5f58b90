#pragma once
// One TLS session on one connected socket: handshake, reads and writes, the negotiated
// cipher, and the shutdown. Made and owned by the handler.
#include "ftp/tls/IdSSLOpenSSL.h"
#include "ftp/tls/IdSocketBio.h"

class TIdSSLContext;

class TIdSSLSocket {
public:
    // Raises EIdOSSLDataBindingError when the session cannot carry a pointer back to us,
    // EIdOSSLConnectError when the library cannot make a session at all.
    TIdSSLSocket(TIdSSLIOHandlerSocketOpenSSL& owner, TIdSSLContext& context);
    ~TIdSSLSocket();
    TIdSSLSocket(const TIdSSLSocket&) = delete;
    TIdSSLSocket& operator=(const TIdSSLSocket&) = delete;

    // Client handshake on `fd`, offering `resume` (may be null) for resumption; a server
    // that does not resume simply gets a full handshake. Raises EIdOSSLConnectError.
    void Connect(int fd, ssl_session_st* resume, int timeoutMs);
    // Server handshake; raises EIdOSSLAcceptError.
    void Accept(int fd, int timeoutMs);
    bool HandshakeDone() const;
    // With waitOutside the handshake calls never wait for the socket: they return early and
    // WaitingForWrite() says which way the caller must wait before calling again.
    void SetWaitOutside(bool value) { waitOutside_ = value; }
    bool WaitingForWrite() const { return waitingForWrite_; }
    // The caller gave up on an unfinished handshake: no closing alert goes out.
    void MarkFailed() { failed_ = true; }

    // > 0 bytes; 0 when the peer closed. Raises EIdReadTimeout or a socket error.
    size_t Receive(char* buffer, size_t size, int timeoutMs);
    // >= 1 bytes sent. Raises a socket error.
    size_t Send(const char* buffer, size_t size, int timeoutMs);
    // Decrypted bytes are waiting.
    bool Pending() const;
    // Handles whatever TLS records have arrived, without waiting. True when application
    // data, the peer's close or an error is there for the next Receive; false when only
    // the library's own messages (a session ticket) came in.
    bool ProbeReadable();

    // TLS 1.3 after a handshake in which the server asked for our certificate: waits up to
    // `limitMs` for the server's first message, so that a refused certificate is reported
    // (EIdTLSClientCertificateRefused) before any command is sent. Returns at once when the
    // server sends its session ticket or data.
    void AwaitServerVerdict(int limitMs);
    ssl_st* Handle() const { return ssl_; }

    // Sends the closing alert if it can go out at once; never waits for the peer's.
    void Shutdown();
    // Sends the closing alert, waiting up to timeoutMs for room to send it; never waits for
    // the peer's. Ends an upload: a server that misses the alert may count the file as cut.
    void SendCloseAlert(int timeoutMs);

    TIdSSLCipher Cipher() const;
    bool SessionReused() const;
    // A new reference to the session as it stands now (after any ticket the server sent
    // since the handshake), or null when it cannot be resumed.
    ssl_session_st* ResumableSession() const;

    TIdSSLIOHandlerSocketOpenSSL& Owner() const { return owner_; }
    const TIdSSLContext& Context() const { return context_; }

private:
    void Attach(int fd, int timeoutMs);

    TIdSSLIOHandlerSocketOpenSSL& owner_;
    TIdSSLContext& context_;
    ssl_st* ssl_ = nullptr;
    tavrin::tls::SocketBioState transport_;
    bool attached_ = false;
    bool failed_ = false; // a fatal error happened: no shutdown alert may be sent
    bool closeAlertSent_ = false;
    bool certRequested_ = false; // the server asked for our certificate
    bool waitOutside_ = false;
    bool waitingForWrite_ = false;
    // One call of SSL_connect or SSL_accept, waiting inside or not as set up; its result.
    int HandshakeStep(int (*step)(ssl_st*));
    // True when the handshake call returned only because the socket was not ready.
    bool HandshakeWouldWait(int result);
};
