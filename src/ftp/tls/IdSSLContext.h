#pragma once
// One OpenSSL context made from a handler's options: method, certificate and key, cipher
// list, verification, and the library callbacks that lead back to the handler.
#include "ftp/tls/IdSSLOpenSSL.h"

class TIdSSLContext {
public:
    TIdSSLContext(TIdSSLIOHandlerSocketOpenSSL& owner, const TIdSSLOptions& options,
                  bool statusInfoOn, bool verifyOn);
    ~TIdSSLContext();
    TIdSSLContext(const TIdSSLContext&) = delete;
    TIdSSLContext& operator=(const TIdSSLContext&) = delete;

    // Builds the context for the server role or the client role; raises the option's own
    // failure (certificate, key, cipher list ...). Certificate and key problems therefore
    // show when the TCP connection is made, before any command is sent.
    void Init(bool serverRole);

    ssl_ctx_st* Handle() const { return context_; }
    TIdSSLIOHandlerSocketOpenSSL& Owner() const { return owner_; }
    const TIdSSLOptions& Options() const { return options_; }

    // Tried when CipherList is empty. The library may not know every class named here;
    // it keeps what it offers.
    static constexpr const char* kDefaultCipherList =
        "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:+SSLv2:+EXP";

private:
    void SelectMethod();
    void UseTrustedRoots();
    void LoadCertificateAndKey();
    void SetUpVerification();

    TIdSSLIOHandlerSocketOpenSSL& owner_;
    TIdSSLOptions options_;
    bool statusInfoOn_;
    bool verifyOn_;
    ssl_ctx_st* context_ = nullptr;
};
