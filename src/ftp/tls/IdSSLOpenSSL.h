#pragma once
// The TLS-capable socket handler. A connection starts in the clear (Bypass true) and switches
// to TLS with SetBypass(false); every data connection gets a Duplicate() of the control
// connection's handler, which offers the control connection's TLS session for resumption.
// Only this folder includes OpenSSL; the handles below are forward declarations.
#include "base/IdException.h"
#include "ftp/IdSSLIOHandlerSocketBase.h"
#include "ftp/tls/IdServerTrust.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;
struct x509_st;

// Protocol family. sslvSSLv23 is the version-flexible method (the one the monitors use).
enum TIdSSLVersion { sslvSSLv2, sslvSSLv23, sslvSSLv3, sslvTLSv1 };
enum TIdSSLMode { sslmUnassigned, sslmClient, sslmServer, sslmBoth };

// Peer-verification flags; the values are the library's own bits, so a set is their sum.
enum TIdSSLVerifyMode : unsigned {
    sslvrfPeer = 1,
    sslvrfFailIfNoPeerCert = 2,
    sslvrfClientOnce = 4,
};
using TIdSSLVerifyModeSet = unsigned;

struct TIdSSLOptions {
    std::string RootCertFile; // trusted roots (PEM)
    std::string CertFile;     // our own certificate (PEM)
    std::string KeyFile;      // its private key (PEM, possibly protected by a password)
    TIdSSLVersion Method = sslvSSLv2;
    TIdSSLMode Mode = sslmUnassigned;
    TIdSSLVerifyModeSet VerifyMode = 0;
    int VerifyDepth = 0;
    std::string VerifyDirs; // kept and copied, never used
    std::string CipherList; // empty: the built-in list
};

// The peer certificate handed to OnVerifyPeer (valid only during the call).
class TIdX509 {
public:
    explicit TIdX509(x509_st* certificate) : certificate_(certificate) {}
    std::string Subject() const;
    std::string Issuer() const;
    x509_st* Handle() const { return certificate_; }

private:
    x509_st* certificate_;
};

// The negotiated cipher as the status report shows it.
struct TIdSSLCipher {
    std::string Name;
    std::string Description;
    int Bits = 0;
    std::string Version;
};

using TCallbackEvent = std::function<void(const std::string& text)>;
using TPasswordEvent = std::function<void(std::string& password)>;
using TVerifyPeerEvent = std::function<bool(TIdX509& certificate, bool ok)>;

// ---- Failures. The messages are fixed; none carries text from the library's error queue.

class EIdOpenSSLError : public EIdException {
public:
    using EIdException::EIdException;
};
class EIdOpenSSLLoadError : public EIdOpenSSLError {
public:
    using EIdOpenSSLError::EIdOpenSSLError;
};

#define TAVRIN_OPENSSL_ERROR(Name, Base, Message)                                                  \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        Name() : Base(Message) {}                                                                  \
    }

TAVRIN_OPENSSL_ERROR(EIdOSSLCouldNotLoadSSLLibrary, EIdOpenSSLLoadError,
                     "Could not load SSL library.");
TAVRIN_OPENSSL_ERROR(EIdOSSLModeNotSet, EIdOpenSSLError, "Mode has not been set.");
TAVRIN_OPENSSL_ERROR(EIdOSSLGetMethodError, EIdOpenSSLError, "Error geting SSL method.");
TAVRIN_OPENSSL_ERROR(EIdOSSLCreatingContextError, EIdOpenSSLError, "Error creating SSL context.");
TAVRIN_OPENSSL_ERROR(EIdOSSLLoadingRootCertError, EIdOpenSSLLoadError,
                     "Could not load root certificate.");
TAVRIN_OPENSSL_ERROR(EIdOSSLLoadingCertError, EIdOpenSSLLoadError, "Could not load certificate.");
TAVRIN_OPENSSL_ERROR(EIdOSSLLoadingKeyError, EIdOpenSSLLoadError,
                     "Could not load key, check password.");
TAVRIN_OPENSSL_ERROR(EIdOSSLSettingCipherError, EIdOpenSSLError, "SetCipher failed.");
TAVRIN_OPENSSL_ERROR(EIdOSSLDataBindingError, EIdOpenSSLError, "Error binding data to SSL socket.");
TAVRIN_OPENSSL_ERROR(EIdOSSLConnectError, EIdOpenSSLError, "Error connecting with SSL.");
TAVRIN_OPENSSL_ERROR(EIdOSSLAcceptError, EIdOpenSSLError, "Error accepting connection with SSL.");

#undef TAVRIN_OPENSSL_ERROR

class TIdSSLContext;
class TIdSSLSocket;

class TIdSSLIOHandlerSocketOpenSSL : public TIdSSLIOHandlerSocketBase {
public:
    TIdSSLIOHandlerSocketOpenSSL();
    ~TIdSSLIOHandlerSocketOpenSSL() override;
    TIdSSLIOHandlerSocketOpenSSL(const TIdSSLIOHandlerSocketOpenSSL&) = delete;
    TIdSSLIOHandlerSocketOpenSSL& operator=(const TIdSSLIOHandlerSocketOpenSSL&) = delete;

    TIdSSLOptions& SSLOptions() { return options_; }
    const TIdSSLOptions& SSLOptions() const { return options_; }

    TCallbackEvent OnStatusInfo;           // progress and cipher reports
    TPasswordEvent OnGetPassword;          // fills in the private key's password
    TVerifyPeerEvent OnVerifyPeer;         // final say on the peer certificate
    std::function<void()> OnBeforeConnect; // fired right after the TCP connection is made

    // How the server's certificate is checked on the client side (off unless turned on).
    TIdServerTrust& ServerTrust() { return trust_; }
    // The SHA-256 fingerprint of the certificate the last handshake accepted ("" before one
    // or with checking off).
    const std::string& AcceptedFingerprint() const { return acceptedFingerprint_; }

    // Set only by a server-side acceptor: the handshake accepts, and Close keeps the context.
    bool ServerSide() const { return serverSide_; }
    void SetServerSide(bool value) { serverSide_ = value; }

    // false: run the handshake on the open socket (unless a session is already up).
    void SetBypass(bool value) override;
    // A handler for a data connection: same options and events, own context and session,
    // offering this handler's current TLS session for resumption.
    std::unique_ptr<TIdSSLIOHandlerSocketBase> Duplicate() override;
    // After the TCP connect: make the context (certificate and key problems show here, before
    // any command is sent), then the handshake unless Bypass.
    void BeginTls() override;
    // Shut the session down without waiting for the peer, free it and the context, close.
    void Close() override;
    // Under TLS, readable means application data is there: a socket that carried only a
    // session ticket is not readable, so a zero-time probe never blocks in a read.
    bool WaitReadable(int ms) override;

    virtual void NotifyBeforeConnect();
    virtual void ReportStatus(const std::string& text);
    virtual void QueryPassword(std::string& password);
    virtual bool VerifyPeer(TIdX509& certificate, bool ok);

    // Creates the session on the socket and performs the handshake; reports the cipher.
    void OpenTlsSession();

    // What the last handshake negotiated (empty before one).
    TIdSSLCipher Cipher() const;
    // True when the last handshake resumed an earlier session instead of a full handshake.
    bool SessionReused() const;

protected:
    size_t RawReceive(char* buffer, size_t size) override;
    size_t RawSend(const char* buffer, size_t size) override;
    bool HasBufferedTransportData() const override;
    void AfterTcpConnect() override;
    void EndTransportSession(int limitMs) override;
    // Every path that closes the socket ends the session first, while the descriptor is
    // still ours: the session must never outlive it and write into a reused number.
    void CloseSource() override;

    size_t ReceiveEncrypted(char* buffer, size_t size);
    size_t SendEncrypted(const char* buffer, size_t size);

private:
    struct SessionFree {
        void operator()(ssl_session_st* session) const;
    };
    using SessionRef = std::unique_ptr<ssl_session_st, SessionFree>;

    void InitContext();
    std::string TrustedHostName() const;
    void FreeSession();

    TIdSSLOptions options_;
    bool serverSide_ = false;
    std::unique_ptr<TIdSSLContext> context_;
    std::unique_ptr<TIdSSLSocket> session_;
    // The control connection's session, offered for resumption on a data connection.
    SessionRef resumeFrom_;
    TIdServerTrust trust_;
    std::string acceptedFingerprint_;
};
