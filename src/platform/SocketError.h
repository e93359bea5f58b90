#pragma once
// Failures of the socket layer. The message keeps the form "Socket Error # %d" CR LF "%s"
// with the errno value and its system text, so the log reads the same for every call.
#include "base/IdException.h"

#include <string>

class EIdSocketError : public EIdException {
public:
    EIdSocketError(int code, const std::string& text);
    int LastError() const { return code_; }
    static std::string Message(int code, const std::string& text);

private:
    int code_;
};

// The handle does not (or no longer) name a socket (ENOTSOCK, EBADF).
class EIdNotASocket : public EIdSocketError {
public:
    using EIdSocketError::EIdSocketError;
};

namespace tavrin::net {

// A failed name look-up has no errno; it carries this code and the text "Host not found.".
constexpr int kHostNotFound = 11001;

// Raises the error for `code` (an errno value): EIdNotASocket for a handle that is not a
// socket, otherwise EIdSocketError.
[[noreturn]] void RaiseSocketError(int code);

} // namespace tavrin::net
