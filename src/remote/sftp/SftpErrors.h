#pragma once
// Failures of an SFTP session. Every message names the server as host:port.
#include "base/IdException.h"

namespace tavrin::sftp {

// Connection, protocol and file failures.
class ESftpError : public EIdException {
public:
    using EIdException::EIdException;
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
