#include "ftp/tls/IdSocketBio.h"

#include <openssl/bio.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>

namespace tavrin::tls {
namespace {

using Clock = std::chrono::steady_clock;

SocketBioState* StateOf(BIO* bio) {
    return static_cast<SocketBioState*>(BIO_get_data(bio));
}

// Waits until the socket is ready for `events`; false when the time ran out.
bool WaitFor(SocketBioState& state, short events, Clock::time_point deadline) {
    for (;;) {
        int waitMs = -1;
        if (state.timeoutMs > 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            waitMs = static_cast<int>(left.count());
        }
        pollfd entry{state.fd, events, 0};
        int ready = poll(&entry, 1, waitMs);
        if (ready > 0)
            return true; // also on error or hang-up: the next call reports it
        if (ready < 0 && errno != EINTR) {
            state.lastErrno = errno;
            return true;
        }
    }
}

Clock::time_point DeadlineOf(const SocketBioState& state) {
    return Clock::now() + std::chrono::milliseconds(state.timeoutMs > 0 ? state.timeoutMs : 0);
}

int BioRead(BIO* bio, char* buffer, int size) {
    SocketBioState& state = *StateOf(bio);
    BIO_clear_retry_flags(bio);
    if (size <= 0)
        return 0;
    const auto deadline = DeadlineOf(state);
    for (;;) {
        ssize_t received = recv(state.fd, buffer, static_cast<size_t>(size), MSG_DONTWAIT);
        if (received > 0)
            return static_cast<int>(received);
        if (received == 0) {
            state.eof = true;
            BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            state.lastErrno = errno;
            return -1;
        }
        if (state.nonBlocking) {
            BIO_set_retry_read(bio);
            return -1;
        }
        if (!WaitFor(state, POLLIN, deadline)) {
            state.timedOut = true;
            return -1;
        }
        if (state.lastErrno != 0)
            return -1;
    }
}

int BioWrite(BIO* bio, const char* data, int size) {
    SocketBioState& state = *StateOf(bio);
    BIO_clear_retry_flags(bio);
    if (size <= 0)
        return 0;
    const auto deadline = DeadlineOf(state);
    for (;;) {
        ssize_t sent = send(state.fd, data, static_cast<size_t>(size), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0)
            return static_cast<int>(sent);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            state.lastErrno = errno;
            return -1;
        }
        if (state.nonBlocking) {
            BIO_set_retry_write(bio);
            return -1;
        }
        if (!WaitFor(state, POLLOUT, deadline)) {
            state.timedOut = true;
            return -1;
        }
        if (state.lastErrno != 0)
            return -1;
    }
}

int BioPuts(BIO* bio, const char* text) {
    int length = 0;
    while (text[length] != '\0')
        ++length;
    return BioWrite(bio, text, length);
}

long BioCtrl(BIO* bio, int command, long, void* argument) {
    SocketBioState* state = StateOf(bio);
    switch (command) {
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
        return 1;
    case BIO_CTRL_EOF:
        return state != nullptr && state->eof ? 1 : 0;
    case BIO_C_GET_FD:
        if (state == nullptr)
            return -1;
        if (argument != nullptr)
            *static_cast<int*>(argument) = state->fd;
        return state->fd;
    default:
        return 0;
    }
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

int BioDestroy(BIO* bio) {
    BIO_set_data(bio, nullptr);
    return 1;
}

BIO_METHOD* SocketBioMethod() {
    // Made once and kept for the life of the process, like the library's own methods.
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(
            BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "tavrin socket");
        if (made != nullptr) {
            BIO_meth_set_write(made, BioWrite);
            BIO_meth_set_read(made, BioRead);
            BIO_meth_set_puts(made, BioPuts);
            BIO_meth_set_ctrl(made, BioCtrl);
            BIO_meth_set_create(made, BioCreate);
            BIO_meth_set_destroy(made, BioDestroy);
        }
        return made;
    }();
    return method;
}

} // namespace

bio_st* NewSocketBio(SocketBioState* state) {
    BIO_METHOD* method = SocketBioMethod();
    if (method == nullptr)
        return nullptr;
    BIO* bio = BIO_new(method);
    if (bio != nullptr)
        BIO_set_data(bio, state);
    return bio;
}

} // namespace tavrin::tls
