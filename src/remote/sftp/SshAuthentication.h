#pragma once
// Logs in with whatever the server offers, in this order: public key (the agent's keys
// first when asked, then the key file), password, keyboard-interactive answered with the
// password.
#include "remote/sftp/SftpSession.h"

#include <libssh/libssh.h>

namespace tavrin::sftp {

// Returns the method that let us in, e.g. "publickey (key file)". Raises ESftpLoginRefused
// naming the methods tried and the ones the server offers, or ESftpError when the
// connection fails.
std::string Authenticate(ssh_session session, const TSftpSettings& settings,
                         const std::string& where);

} // namespace tavrin::sftp
