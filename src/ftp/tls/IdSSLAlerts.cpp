#include "ftp/tls/IdSSLAlerts.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/tls1.h>

namespace tavrin::tls {

int ReceivedAlert() {
    const unsigned long error = ERR_peek_last_error();
    if (error == 0 || ERR_GET_LIB(error) != ERR_LIB_SSL)
        return -1;
    const int reason = ERR_GET_REASON(error);
    // The library reports a received alert as its code plus this offset.
    if (reason < SSL_AD_REASON_OFFSET || reason > SSL_AD_REASON_OFFSET + 255)
        return -1;
    return reason - SSL_AD_REASON_OFFSET;
}

void RaiseIfCertificateRefused(int alert, bool haveCertificate) {
    switch (alert) {
    case SSL_AD_BAD_CERTIFICATE:
    case SSL_AD_UNSUPPORTED_CERTIFICATE:
    case SSL_AD_CERTIFICATE_REVOKED:
    case SSL_AD_CERTIFICATE_EXPIRED:
    case SSL_AD_CERTIFICATE_UNKNOWN:
    case SSL_AD_UNKNOWN_CA:
    case SSL_AD_ACCESS_DENIED:
    case SSL_AD_CERTIFICATE_REQUIRED:
        break;
    default:
        return;
    }
    // The library has no long name for the TLS 1.3 alert.
    const std::string name = alert == SSL_AD_CERTIFICATE_REQUIRED
                                 ? std::string("certificate required")
                                 : std::string(SSL_alert_desc_string_long(alert));
    if (haveCertificate)
        throw EIdTLSClientCertificateRefused(
            "The server refused the client certificate (TLS alert \"" + name + "\").");
    throw EIdTLSClientCertificateRefused("The server wants a client certificate, and none is set "
                                         "(TLS alert \"" +
                                         name + "\").");
}

} // namespace tavrin::tls
