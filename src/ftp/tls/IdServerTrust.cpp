#include "ftp/tls/IdServerTrust.h"

#include "platform/KnownServers.h"

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cctype>
#include <stdexcept>

namespace tavrin::tls {
namespace {

bool IsAddress(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

} // namespace

std::string NormalizeFingerprint(const std::string& text) {
    std::string hex;
    std::string rest = text;
    if (rest.size() > 7 &&
        (rest.compare(0, 7, "SHA256:") == 0 || rest.compare(0, 7, "sha256:") == 0))
        rest = rest.substr(7);
    for (char c : rest) {
        if (c == ':' || c == ' ')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::string();
        hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (hex.size() != 64)
        return std::string();
    std::string result;
    for (size_t i = 0; i < hex.size(); i += 2)
        result += (i ? ":" : "") + hex.substr(i, 2);
    return result;
}

std::string CertificateFingerprint(x509_st* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return std::string();
    static const char* const kHex = "0123456789ABCDEF";
    std::string result;
    for (unsigned int i = 0; i < length; ++i) {
        if (i)
            result += ':';
        result += kHex[digest[i] >> 4];
        result += kHex[digest[i] & 15];
    }
    return result;
}

void PrepareServerCheck(ssl_st* ssl, const std::string& hostName) {
    if (hostName.empty())
        return;
    if (IsAddress(hostName)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), hostName.c_str());
        return;
    }
    SSL_set_tlsext_host_name(ssl, hostName.c_str());
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_set1_host(ssl, hostName.c_str());
}

std::string CheckServerCertificate(ssl_st* ssl, const TIdServerTrust& trust,
                                   const std::string& server,
                                   const std::function<void(const std::string&)>& report) {
    const std::string shown = CertificateFingerprint(SSL_get0_peer_certificate(ssl));
    if (shown.empty())
        throw EIdTLSServerNotTrusted("The server " + server + " showed no certificate.");
    if (!trust.Fingerprint.empty()) {
        if (NormalizeFingerprint(trust.Fingerprint) != shown)
            throw EIdTLSServerNotTrusted("The certificate of " + server +
                                         " has the SHA-256 fingerprint " + shown + ", not the " +
                                         trust.PinnedBy + " " + trust.Fingerprint + ".");
        report("Certificate of " + server + " matches the " + trust.PinnedBy +
               " SHA-256 fingerprint " + shown);
        return shown;
    }
    // Without a host name nothing was matched, so "verified" would only mean "signed".
    const bool nameChecked = !server.empty() && server.front() != ':';
    if (nameChecked && SSL_get_verify_result(ssl) == X509_V_OK) {
        report("Certificate of " + server + " verified (SHA-256 fingerprint " + shown + ")");
        return shown;
    }
    const std::string& file = trust.KnownServersFile;
    if (file.empty())
        throw EIdTLSServerNotTrusted("The certificate of " + server + " (SHA-256 fingerprint " +
                                     shown +
                                     ") is not signed by a trusted authority for this host name.");
    std::string stored;
    try {
        stored = known::RememberIfNew(file, server, shown);
    } catch (const std::runtime_error& failure) {
        // Nothing to compare with and nowhere to remember it: still the first use.
        report("Certificate of " + server + " trusted on first use (SHA-256 fingerprint " + shown +
               "), but not stored: " + failure.what());
        return shown;
    }
    if (stored.empty()) {
        report("Certificate of " + server + " trusted on first use: SHA-256 fingerprint " + shown +
               ", stored in " + file);
        return shown;
    }
    if (NormalizeFingerprint(stored) != shown)
        throw EIdTLSServerNotTrusted(
            "The certificate of " + server + " is not the one trusted before: its SHA-256 " +
            "fingerprint is " + shown + ", the stored one is " + stored +
            ". If the server's certificate was changed on purpose, remove the line of " + server +
            " from " + file + " (or forget the server on the General settings page) and " +
            "connect again.");
    report("Certificate of " + server + " matches the stored SHA-256 fingerprint " + shown);
    return shown;
}

} // namespace tavrin::tls
