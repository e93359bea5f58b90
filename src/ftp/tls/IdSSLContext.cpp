#include "ftp/tls/IdSSLContext.h"

#include "ftp/tls/IdSSLCallbacks.h"
#include "ftp/tls/IdSSLTrustedRoots.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

TIdSSLContext::TIdSSLContext(TIdSSLIOHandlerSocketOpenSSL& owner, const TIdSSLOptions& options,
                             bool statusInfoOn, bool verifyOn)
    : owner_(owner), options_(options), statusInfoOn_(statusInfoOn), verifyOn_(verifyOn) {}

TIdSSLContext::~TIdSSLContext() {
    if (context_ != nullptr)
        SSL_CTX_free(context_);
}

void TIdSSLContext::Init(bool serverRole) {
    if (context_ != nullptr) {
        SSL_CTX_free(context_);
        context_ = nullptr;
    }
    if (options_.Mode == sslmUnassigned)
        options_.Mode = serverRole ? sslmServer : sslmClient;
    ERR_clear_error();
    SelectMethod();

    SSL_CTX_set_default_passwd_cb(context_, tavrin::tls::PasswordCallback);
    SSL_CTX_set_default_passwd_cb_userdata(context_, this);
    UseTrustedRoots();
    // Many servers close a data connection without the closing TLS alert. The end of a
    // transfer is confirmed by the server's final reply on the control connection, so such
    // a close ends the data like a plain close does instead of failing it.
    SSL_CTX_set_options(context_, SSL_OP_IGNORE_UNEXPECTED_EOF);

    LoadCertificateAndKey();
    if (statusInfoOn_)
        SSL_CTX_set_info_callback(context_, tavrin::tls::StatusCallback);
    const std::string& ciphers =
        options_.CipherList.empty() ? std::string(kDefaultCipherList) : options_.CipherList;
    if (SSL_CTX_set_cipher_list(context_, ciphers.c_str()) <= 0)
        throw EIdOSSLSettingCipherError();
    SetUpVerification();
    if (options_.Mode == sslmServer) {
        static const unsigned char kSessionIdContext[4] = {1, 0, 0, 0};
        SSL_CTX_set_session_id_context(context_, kSessionIdContext, sizeof kSessionIdContext);
    }
    if (!options_.RootCertFile.empty()) {
        STACK_OF(X509_NAME)* clientCAs = SSL_load_client_CA_file(options_.RootCertFile.c_str());
        if (clientCAs != nullptr)
            SSL_CTX_set_client_CA_list(context_, clientCAs);
    }
    // Nothing that failed on the way may linger: SSL_get_error reads the thread's queue.
    ERR_clear_error();
}

void TIdSSLContext::SelectMethod() {
    const SSL_METHOD* method = nullptr;
    switch (options_.Mode) {
    case sslmUnassigned:
        throw EIdOSSLModeNotSet();
    case sslmClient:
        method = TLS_client_method();
        break;
    case sslmServer:
        method = TLS_server_method();
        break;
    case sslmBoth:
        method = TLS_method();
        break;
    }
    // OpenSSL 3 has one version-flexible method; a fixed family is that method held to its
    // single version. SSL 2 is gone from the library altogether.
    int onlyVersion = 0;
    switch (options_.Method) {
    case sslvSSLv23:
        break;
    case sslvSSLv3:
        onlyVersion = SSL3_VERSION;
        break;
    case sslvTLSv1:
        onlyVersion = TLS1_VERSION;
        break;
    default:
        throw EIdOSSLGetMethodError();
    }
    if (method == nullptr)
        throw EIdOSSLGetMethodError();
    context_ = SSL_CTX_new(method);
    if (context_ == nullptr)
        throw EIdOSSLCreatingContextError();
    if (onlyVersion != 0 && (SSL_CTX_set_min_proto_version(context_, onlyVersion) != 1 ||
                             SSL_CTX_set_max_proto_version(context_, onlyVersion) != 1))
        throw EIdOSSLGetMethodError();
}

void TIdSSLContext::UseTrustedRoots() {
    if (!options_.RootCertFile.empty()) {
        // The extra roots go into this context's own store, never into the shared one.
        SSL_CTX_set_default_verify_paths(context_);
        return;
    }
    X509_STORE* roots = tavrin::tls::SharedTrustedRoots();
    if (roots == nullptr)
        throw EIdOSSLCreatingContextError();
    SSL_CTX_set1_cert_store(context_, roots);
    X509_STORE_free(roots);
}

void TIdSSLContext::LoadCertificateAndKey() {
    if (!options_.RootCertFile.empty() &&
        SSL_CTX_load_verify_locations(context_, options_.RootCertFile.c_str(), nullptr) <= 0)
        throw EIdOSSLLoadingRootCertError();
    if (!options_.CertFile.empty() &&
        SSL_CTX_use_certificate_file(context_, options_.CertFile.c_str(), SSL_FILETYPE_PEM) <= 0)
        throw EIdOSSLLoadingCertError();
    if (!options_.KeyFile.empty()) {
        // Reading an encrypted key calls PasswordCallback.
        if (SSL_CTX_use_PrivateKey_file(context_, options_.KeyFile.c_str(), SSL_FILETYPE_PEM) <=
                0 ||
            SSL_CTX_check_private_key(context_) <= 0)
            throw EIdOSSLLoadingKeyError();
    }
}

void TIdSSLContext::SetUpVerification() {
    if (options_.VerifyMode == 0)
        return;
    const int bits = static_cast<int>(options_.VerifyMode &
                                      (sslvrfPeer | sslvrfFailIfNoPeerCert | sslvrfClientOnce));
    SSL_CTX_set_verify(context_, bits, verifyOn_ ? tavrin::tls::VerifyCallback : nullptr);
    SSL_CTX_set_verify_depth(context_, options_.VerifyDepth);
}
