#pragma once
// Alerts the server ends a session with. A refused client certificate shows as an alert
// right after the handshake (TLS 1.3) or during it (TLS 1.2); its name is what the user
// needs, not "the connection closed".
#include "ftp/IdSSLIOHandlerSocketBase.h"

#include <string>

class EIdTLSClientCertificateRefused : public EIdTLSPeerError {
public:
    using EIdTLSPeerError::EIdTLSPeerError;
};

namespace tavrin::tls {

// The alert the library reports as the thread's latest error, or -1 when it is no received
// alert. Read it before the error queue is cleared.
int ReceivedAlert();
// Raises EIdTLSClientCertificateRefused when `alert` is one a server sends about the client's
// certificate; `haveCertificate` tells whether we offered one.
void RaiseIfCertificateRefused(int alert, bool haveCertificate);

} // namespace tavrin::tls
