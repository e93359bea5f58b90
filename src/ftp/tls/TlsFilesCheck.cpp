#include "ftp/tls/TlsFilesCheck.h"

#include "platform/FileSystem.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tavrin::tls {
namespace {

struct PasswordSource {
    const std::string* password;
    bool asked = false;
};

int GivePassword(char* buffer, int size, int, void* data) {
    auto* source = static_cast<PasswordSource*>(data);
    source->asked = true;
    if (buffer == nullptr || size <= 0)
        return 0;
    const size_t room = static_cast<size_t>(size) - 1;
    const size_t length = source->password->size() < room ? source->password->size() : room;
    std::memcpy(buffer, source->password->data(), length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

using FileRef = std::unique_ptr<FILE, int (*)(FILE*)>;

FileRef OpenOrRaise(const std::string& path, const std::string& what) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr || !fs::FileExists(path)) {
        const int error = file == nullptr ? errno : EISDIR;
        if (file != nullptr)
            std::fclose(file);
        throw EIdTLSFileError("Could not load " + what + " " + Quoted(path) + ": " +
                              fs::SystemErrorText(error) + ".");
    }
    return FileRef(file, std::fclose);
}

} // namespace

void CheckTlsFiles(const std::string& certFile, const std::string& keyFile,
                   const std::string& keyPassword) {
    std::unique_ptr<X509, void (*)(X509*)> certificate(nullptr, X509_free);
    if (!certFile.empty()) {
        FileRef file = OpenOrRaise(certFile, "certificate");
        certificate.reset(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
        ERR_clear_error();
        if (!certificate)
            throw EIdTLSFileError("Could not load certificate " + Quoted(certFile) +
                                  ": it holds no PEM certificate.");
    }
    if (keyFile.empty())
        return;
    FileRef file = OpenOrRaise(keyFile, "key");
    PasswordSource source{&keyPassword};
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(
        PEM_read_PrivateKey(file.get(), nullptr, GivePassword, &source), EVP_PKEY_free);
    ERR_clear_error();
    if (!key && source.asked)
        throw EIdTLSFileError("Could not load key " + Quoted(keyFile) +
                              ": the key password is wrong.");
    if (!key)
        throw EIdTLSFileError("Could not load key " + Quoted(keyFile) +
                              ": it holds no PEM private key.");
    if (certificate && X509_check_private_key(certificate.get(), key.get()) != 1) {
        ERR_clear_error();
        throw EIdTLSFileError("Could not load key " + Quoted(keyFile) +
                              ": it does not belong to the certificate " + Quoted(certFile) + ".");
    }
}

} // namespace tavrin::tls
