#include "platform/SocketError.h"

#include "platform/FileSystem.h"

#include <cerrno>

EIdSocketError::EIdSocketError(int code, const std::string& text)
    : EIdException(Message(code, text)), code_(code) {}

std::string EIdSocketError::Message(int code, const std::string& text) {
    return "Socket Error # " + std::to_string(code) + "\r\n" + text;
}

namespace tavrin::net {

void RaiseSocketError(int code) {
    const std::string text =
        code == kHostNotFound ? std::string("Host not found.") : fs::SystemErrorText(code);
    if (code == ENOTSOCK || code == EBADF)
        throw EIdNotASocket(code, text);
    throw EIdSocketError(code, text);
}

} // namespace tavrin::net
