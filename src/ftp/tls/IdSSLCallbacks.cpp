#include "ftp/tls/IdSSLCallbacks.h"

#include "ftp/tls/IdSSLContext.h"
#include "ftp/tls/IdSSLLibrary.h"
#include "ftp/tls/IdSSLSocket.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstring>
#include <mutex>

namespace tavrin::tls {

// None of these may let an exception escape: the library's C frames are between them and
// the handler. A failing event counts as "no password", "no report" or "not trusted".

int PasswordCallback(char* buffer, int size, int, void* context) {
    if (buffer == nullptr || size <= 0 || context == nullptr)
        return 0;
    std::lock_guard<std::recursive_mutex> guard(PasswordLock());
    std::string password;
    try {
        static_cast<TIdSSLContext*>(context)->Owner().QueryPassword(password);
    } catch (...) {
        password.clear();
    }
    // Leave room for the terminating zero byte; a longer password is cut, never overflows.
    const size_t room = static_cast<size_t>(size) - 1;
    const size_t length = password.size() < room ? password.size() : room;
    std::memcpy(buffer, password.data(), length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

void StatusCallback(const ssl_st* ssl, int, int) {
    auto* session = static_cast<TIdSSLSocket*>(SSL_get_app_data(ssl));
    if (session == nullptr)
        return;
    std::lock_guard<std::recursive_mutex> guard(StatusLock());
    try {
        session->Owner().ReportStatus(std::string("SSL status: \"") + SSL_state_string_long(ssl) +
                                      "\"");
    } catch (...) {
    }
}

int VerifyCallback(int ok, x509_store_ctx_st* store) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* session = ssl != nullptr ? static_cast<TIdSSLSocket*>(SSL_get_app_data(ssl)) : nullptr;
    if (session == nullptr)
        return ok;
    std::lock_guard<std::recursive_mutex> guard(VerifyLock());
    const bool verdict =
        ok > 0 && X509_STORE_CTX_get_error_depth(store) <= session->Context().Options().VerifyDepth;
    try {
        TIdX509 certificate(X509_STORE_CTX_get_current_cert(store));
        return session->Owner().VerifyPeer(certificate, verdict) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace tavrin::tls
