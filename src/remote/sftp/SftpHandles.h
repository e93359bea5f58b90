#pragma once
// The libssh objects behind a TSftpSession; only this folder sees them.
#include "remote/sftp/SftpSession.h"

#include <libssh/libssh.h>
#include <libssh/sftp.h>

namespace tavrin::sftp {

struct TSftpSession::Handles {
    ssh_session ssh = nullptr;
    sftp_session sftp = nullptr;
    // Our TCP socket (in the thread's socket group); libssh works on a duplicate of it.
    int socket = -1;
    // That duplicate: libssh leaves a descriptor it was handed open when it ends the session.
    int duplicate = -1;
    // The largest read and write a request carries on this connection; 0 until the first
    // transfer asks the server.
    uint32_t readBlock = 0;
    uint32_t writeBlock = 0;
};

// The reason of the last SFTP failure in words, e.g. "permission denied".
std::string SftpReason(ssh_session ssh, sftp_session sftp);

} // namespace tavrin::sftp
