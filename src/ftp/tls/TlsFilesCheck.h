#pragma once
// The client certificate, its key and the key's password, checked when a monitor starts: a
// monitor that could never log in must not show as running. Each failure names the file.
#include "ftp/tls/IdSSLOpenSSL.h"

#include <string>

class EIdTLSFileError : public EIdOpenSSLLoadError {
public:
    using EIdOpenSSLLoadError::EIdOpenSSLLoadError;
};

namespace tavrin::tls {

// Empty names are not checked (TLS without a client certificate is allowed). Raises
// EIdTLSFileError when a file cannot be read, holds no PEM certificate or key, the password
// does not open the key, or the key does not belong to the certificate.
void CheckTlsFiles(const std::string& certFile, const std::string& keyFile,
                   const std::string& keyPassword);

} // namespace tavrin::tls
