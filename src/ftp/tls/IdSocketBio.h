#pragma once
// The byte channel between an OpenSSL session and its TCP socket. OpenSSL's own socket BIO
// writes with write(), which raises SIGPIPE when the server has gone and kills the program;
// this one sends with MSG_NOSIGNAL. It also bounds every wait, so a server that stops in
// the middle of a handshake or a record cannot block a monitor for ever.
struct bio_st;

namespace tavrin::tls {

struct SocketBioState {
    int fd = -1;
    int timeoutMs = -1;       // longest wait for the socket within one call; < 1: no limit
    bool nonBlocking = false; // never wait: report "try again" to the library instead
    // Outcome of the last failed call, for the error report.
    bool timedOut = false;
    int lastErrno = 0;
    bool eof = false;

    void ResetOutcome() {
        timedOut = false;
        lastErrno = 0;
    }
};

// A BIO over state->fd. It neither owns nor closes the socket; `state` must outlive it.
bio_st* NewSocketBio(SocketBioState* state);

} // namespace tavrin::tls
