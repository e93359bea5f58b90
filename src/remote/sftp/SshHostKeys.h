#pragma once
// The server's host key, checked like a server certificate: a key found in the user's
// OpenSSH known_hosts or in our own file is accepted, an unknown one is trusted on first use
// and stored in our own file, a changed one fails before any password or key is sent.
#include "remote/sftp/SftpSession.h"

#include <libssh/libssh.h>

namespace tavrin::sftp {

// Called once the key exchange is done. Raises ESftpHostKeyChanged or ESftpError.
void VerifyHostKey(ssh_session session, const TSftpSettings& settings, const std::string& where,
                   const TSftpStatus& status);

// "SHA256:…" as OpenSSH prints it.
std::string Sha256Fingerprint(ssh_key key);
// Whether a fingerprint someone gave (with or without "SHA256:", padded or not) is `shown`.
bool SameFingerprint(const std::string& given, const std::string& shown);

// Appends one line to a known_hosts file: the whole file is rewritten through a temporary
// file and renamed into place with mode 0600; missing folders are made (0700).
void AppendKnownHostsLine(const std::string& path, const std::string& line);

} // namespace tavrin::sftp
