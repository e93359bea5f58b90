#include "ftp/tls/IdSSLTrustedRoots.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <sys/stat.h>

namespace tavrin::tls {

namespace {

struct SharedStore {
    std::mutex mutex;
    X509_STORE* store = nullptr;
    std::string readFrom; // the locations' stamp at the last read
};

SharedStore& Shared() {
    // Never destroyed: contexts on other threads may still hold the store at exit.
    static SharedStore* shared = new SharedStore;
    return *shared;
}

std::string LocationOrDefault(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr ? value : fallback;
}

void AddStamp(std::string& stamp, const std::string& path) {
    struct stat st {};
    stamp += path;
    if (::stat(path.c_str(), &st) == 0)
        stamp += ' ' + std::to_string(st.st_ino) + ' ' + std::to_string(st.st_size) + ' ' +
                 std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
    stamp += '\n';
}

// What the default locations are and when each last changed. An update of the system's
// bundle replaces the file (through its link) and renames links in the folder.
std::string LocationsStamp() {
    std::string stamp;
    AddStamp(stamp,
             LocationOrDefault(X509_get_default_cert_file_env(), X509_get_default_cert_file()));
    const std::string folders =
        LocationOrDefault(X509_get_default_cert_dir_env(), X509_get_default_cert_dir());
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        if (end > start)
            AddStamp(stamp, folders.substr(start, end - start));
        start = end + 1;
    }
    return stamp;
}

} // namespace

X509_STORE* SharedTrustedRoots() {
    SharedStore& shared = Shared();
    const std::string stamp = LocationsStamp();
    std::lock_guard lock(shared.mutex);
    if (shared.store == nullptr || stamp != shared.readFrom) {
        X509_STORE* fresh = X509_STORE_new();
        if (fresh == nullptr)
            return nullptr;
        // Missing default locations are no failure: such a system simply trusts nobody.
        X509_STORE_set_default_paths(fresh);
        ERR_clear_error();
        // Contexts made from the old store keep their own reference to it.
        X509_STORE_free(shared.store);
        shared.store = fresh;
        shared.readFrom = stamp;
    }
    X509_STORE_up_ref(shared.store);
    return shared.store;
}

} // namespace tavrin::tls
