#pragma once
// The system's trusted authorities, read once and shared by every context of the process.
// Reading the bundle takes tens of milliseconds, and every connection makes a context (each
// data connection too), so a fresh read per context doubled the time of a small TLS upload.
#include <openssl/types.h>

namespace tavrin::tls {

// A store holding the default verify paths (SSL_CERT_FILE and SSL_CERT_DIR are honoured),
// with one reference for the caller. It is read again only when the bundle file or the
// folders have changed since the last read, so a long-running monitor sees an updated bundle
// without reading an unchanged one again. Null if no store can be made.
X509_STORE* SharedTrustedRoots();

} // namespace tavrin::tls
