#pragma once
// Whom we are talking to. A server certificate that verifies against the trusted authorities
// and names the host is accepted; any other is trusted on first use: its SHA-256 fingerprint
// is stored per "host:port" in the known-servers file, and a later connection that shows
// another certificate fails before the login is sent.
#include "ftp/IdSSLIOHandlerSocketBase.h"

#include <functional>
#include <string>

struct ssl_st;
struct x509_st;

struct TIdServerTrust {
    bool Check = false;              // off: any certificate (the handler's own default)
    std::string KnownServersFile;    // where first-use fingerprints go; empty: none are stored
    std::string Fingerprint;         // pinned: only this certificate is accepted
    std::string PinnedBy = "pinned"; // says where the pin came from, for the failure's text
    std::string HostName;            // sent as SNI and matched; empty: the handler's Host
};

// The server's certificate is not the one we trust.
class EIdTLSServerNotTrusted : public EIdTLSPeerError {
public:
    using EIdTLSPeerError::EIdTLSPeerError;
};

namespace tavrin::tls {

// "AB:CD:..." (upper-case hex, colon-separated) from hex with or without colons or blanks,
// optionally after "SHA256:"; "" when the text is not a SHA-256 fingerprint.
std::string NormalizeFingerprint(const std::string& text);
std::string CertificateFingerprint(x509_st* certificate);

// Before the handshake: SNI for host names (never for addresses) and the name or address
// the certificate must match.
void PrepareServerCheck(ssl_st* ssl, const std::string& hostName);

// After the handshake: the accepted certificate's fingerprint, or EIdTLSServerNotTrusted.
// `server` is the "host:port" key; `report` receives the TLS status line of the decision.
std::string CheckServerCertificate(ssl_st* ssl, const TIdServerTrust& trust,
                                   const std::string& server,
                                   const std::function<void(const std::string&)>& report);

} // namespace tavrin::tls
