#pragma once
// Failures of an SFTP session. Every message names the server as host:port.
#include "base/IdException.h"

namespace tavrin::sftp {

// Connection, protocol and file failures. Raised as itself, the connection is gone or out
// of step: the session is best closed and made again.
class ESftpError : public EIdException {
public:
    using EIdException::EIdException;
};

// The server answered a request with a failure status (a missing file, no permission, a
// full disk there); the session goes on. `Code` is the SFTP status code.
class ESftpRefused : public ESftpError {
public:
    ESftpRefused(int code, const std::string& message) : ESftpError(message), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

// A local file of a transfer could not be opened, read or written; the transfer was ended
// with the server and the session goes on.
class ESftpLocalFile : public ESftpError {
public:
    using ESftpError::ESftpError;
};

// The server's host key differs from the one stored for it; raised before authentication.
class ESftpHostKeyChanged : public ESftpError {
public:
    using ESftpError::ESftpError;
};

// No authentication method the server offers accepted us.
class ESftpLoginRefused : public ESftpError {
public:
    using ESftpError::ESftpError;
};

} // namespace tavrin::sftp
