#include "ftp/tls/IdSSLTrustedRoots.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <chrono>
#include <mutex>

namespace tavrin::tls {

namespace {

constexpr auto kReadAgainAfter = std::chrono::minutes(5);

struct SharedStore {
    std::mutex mutex;
    X509_STORE* store = nullptr;
    std::chrono::steady_clock::time_point readAt;
};

SharedStore& Shared() {
    // Never destroyed: contexts on other threads may still hold the store at exit.
    static SharedStore* shared = new SharedStore;
    return *shared;
}

} // namespace

X509_STORE* SharedTrustedRoots() {
    SharedStore& shared = Shared();
    std::lock_guard lock(shared.mutex);
    const auto now = std::chrono::steady_clock::now();
    if (shared.store == nullptr || now - shared.readAt > kReadAgainAfter) {
        X509_STORE* fresh = X509_STORE_new();
        if (fresh == nullptr)
            return nullptr;
        // Missing default locations are no failure: such a system simply trusts nobody.
        X509_STORE_set_default_paths(fresh);
        ERR_clear_error();
        // Contexts made from the old store keep their own reference to it.
        X509_STORE_free(shared.store);
        shared.store = fresh;
        shared.readAt = now;
    }
    X509_STORE_up_ref(shared.store);
    return shared.store;
}

} // namespace tavrin::tls
