#pragma once
// SFTP requests libssh 0.10 has no call for, sent on the session's own channel: the
// posix-rename@openssh.com extension, and writes kept in flight several at a time
// (sftp_write waits for every answer before sending the next block). Use them only while
// no libssh request is outstanding on the same session: their answers are read here.
#include <libssh/sftp.h>

#include <cstdint>
#include <string>

namespace tavrin::sftp::raw {

// The SFTP status code the server answered (SSH_FX_OK on success), or -1 when the
// connection failed or the answer was not the expected one. A failure code is also left in
// sftp->errnum, so sftp_get_error() tells it.
int PosixRename(sftp_session sftp, const std::string& from, const std::string& to);

// Sends one write request without waiting; returns its id, 0 when sending failed.
uint32_t SendWrite(sftp_file file, uint64_t offset, const char* data, uint32_t length);

// Waits for the next status answer; its request id goes to `id`. Returns as PosixRename.
int ReadStatus(sftp_session sftp, uint32_t& id);

} // namespace tavrin::sftp::raw
