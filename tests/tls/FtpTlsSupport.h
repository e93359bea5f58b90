#pragma once
// An FTP client set up for TLS the way both monitors set it up (explicit TLS with "AUTH SSL",
// protected data connections, client certificate and key password), plus file helpers for
// the transfer tests.
#include "ftp/IdFTP.h"
#include "ftp/tls/IdSSLOpenSSL.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tlstest {

struct TlsFtpClient {
    // With `withCertificate` the test client certificate and its encrypted key are used.
    TlsFtpClient(uint16_t port, const std::string& user, const std::string& password,
                 bool withCertificate = true);
    ~TlsFtpClient();

    int CipherReports() const;

    TIdSSLIOHandlerSocketOpenSSL handler; // declared first: outlives the client using it
    TIdFTP ftp;
    std::vector<std::string> tlsReports; // OnStatusInfo lines, in order
};

// A folder under the temporary folder, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
// A file of `size` pseudo-random bytes (same seed, same bytes), written in pieces.
void WriteRandomFile(const std::string& path, uint64_t size, uint32_t seed);
// Hex SHA-256 of a file's contents; "(missing)" when it cannot be read.
std::string Sha256OfFile(const std::string& path);

} // namespace tlstest
