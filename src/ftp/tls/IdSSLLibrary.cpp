#include "ftp/tls/IdSSLLibrary.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace tavrin::tls {

bool LoadOpenSSL() {
    // OpenSSL 3 is linked, and since 1.1.0 it locks its own shared state and knows thread
    // identity by itself: the locking and thread-id callbacks of older versions are neither
    // needed nor possible, so none is installed. Initialisation is idempotent and thread-safe.
    static std::mutex loadLock;
    static bool loaded = false;
    std::lock_guard<std::mutex> guard(loadLock);
    if (!loaded) {
        loaded = OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                                  nullptr) == 1;
    }
    return loaded;
}

std::recursive_mutex& PasswordLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::recursive_mutex& StatusLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::recursive_mutex& VerifyLock() {
    static std::recursive_mutex lock;
    return lock;
}

} // namespace tavrin::tls
