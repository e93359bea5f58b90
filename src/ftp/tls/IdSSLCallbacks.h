#pragma once
// The C callbacks the library calls back into: they find the owning handler, hold their
// lock, and never let an exception cross the library's frames.
struct ssl_st;
struct x509_store_ctx_st;

namespace tavrin::tls {

// Key password: asks the handler and copies the answer, cut to fit `size` with its
// terminating zero byte. `context` is the TIdSSLContext.
int PasswordCallback(char* buffer, int size, int rwflag, void* context);
// Progress: "SSL status: "<long state text>"" through the handler's ReportStatus.
void StatusCallback(const ssl_st* ssl, int where, int ret);
// Peer certificate: the library's verdict, reconsidered by the handler's VerifyPeer.
int VerifyCallback(int ok, x509_store_ctx_st* store);

} // namespace tavrin::tls
