#include "FtpTlsSupport.h"

#include "servers/ChildProcess.h"
#include "servers/RealServers.h"

#include <openssl/evp.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace tlstest {

TlsFtpClient::TlsFtpClient(uint16_t port, const std::string& user, const std::string& password,
                           bool withCertificate) {
    const auto& c = testsrv::Certificates();
    handler.SSLOptions().Method = sslvSSLv23;
    handler.SSLOptions().Mode = sslmUnassigned;
    if (withCertificate) {
        handler.SSLOptions().CertFile = c.clientCert;
        handler.SSLOptions().KeyFile = c.clientKey;
    }
    const std::string keyPassword = c.clientKeyPassword;
    handler.OnGetPassword = [keyPassword](std::string& answer) { answer = keyPassword; };
    handler.OnStatusInfo = [this](const std::string& text) { tlsReports.push_back(text); };

    ftp.SetHost("127.0.0.1");
    ftp.SetPort(port);
    ftp.SetTransferType(ftBinary);
    ftp.SetUseMLIS(true);
    ftp.SetPassive(true);
    ftp.SetUsername(user);
    ftp.SetPassword(password);
    ftp.SetIOHandler(&handler);
    ftp.SetUseTLS(utUseExplicitTLS);
    ftp.SetAUTHCmd(tAuthSSL);
    ftp.SetDataPortProtection(ftpdpsPrivate);
}

TlsFtpClient::~TlsFtpClient() {
    try {
        if (ftp.IsConnected())
            ftp.Disconnect();
    } catch (...) {
    }
}

int TlsFtpClient::CipherReports() const {
    int count = 0;
    for (const auto& line : tlsReports)
        count += line.rfind("Cipher: name = ", 0) == 0 ? 1 : 0;
    return count;
}

ScratchDir::ScratchDir() : path_(testsrv::MakeTempDir("tavrin-tls-")) {}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteRandomFile(const std::string& path, uint64_t size, uint32_t seed) {
    std::mt19937_64 generator(seed);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> block(1 << 16);
    while (size > 0) {
        for (auto& word : block)
            word = generator();
        const uint64_t bytes = std::min<uint64_t>(size, block.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(bytes));
        size -= bytes;
    }
}

std::string Sha256OfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "(missing)";
    EVP_MD_CTX* digest = EVP_MD_CTX_new();
    EVP_DigestInit_ex(digest, EVP_sha256(), nullptr);
    std::vector<char> chunk(1 << 20);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        EVP_DigestUpdate(digest, chunk.data(), static_cast<size_t>(in.gcount()));
    }
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(digest, value, &length);
    EVP_MD_CTX_free(digest);
    static const char* hex = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[value[i] >> 4];
        text += hex[value[i] & 15];
    }
    return text;
}

} // namespace tlstest
