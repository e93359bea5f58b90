#pragma once
// SFTP requests sent on the session's own channel, past libssh 0.10's SFTP calls: the
// posix-rename@openssh.com and limits@openssh.com extensions, and reads and writes kept in
// flight many at a time (sftp_read and sftp_write wait for every answer before the next
// block; its asynchronous reads copy every block three times). Use them only while no
// libssh request is outstanding on the same session: their answers are read here.
#include <libssh/sftp.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tavrin::sftp::raw {

// The SFTP status code the server answered (SSH_FX_OK on success), or -1 when the
// connection failed or the answer was not the expected one. A failure code is also left in
// sftp->errnum, so sftp_get_error() tells it.
int PosixRename(sftp_session sftp, const std::string& from, const std::string& to);

// What the server lets one request carry (limits@openssh.com); 0 where it names no limit.
struct TLimits {
    uint64_t packet = 0;
    uint64_t read = 0;
    uint64_t write = 0;
};
// false when the server answered the request with a failure or something else; the
// connection can go on only when `usable` stays true.
bool QueryLimits(sftp_session sftp, TLimits& limits, bool& usable);

// Sends one read request without waiting; returns its id, 0 when sending failed.
uint32_t SendRead(sftp_file file, uint64_t offset, uint32_t length);

// A write request built in place, so the file's bytes are read straight into the packet
// that goes out: Data() has room for `capacity` bytes; Send() puts the header in front of
// the first `length` of them and sends the whole request without waiting.
class TWriteRequest {
public:
    TWriteRequest(sftp_file file, uint32_t capacity);
    char* Data() { return packet_.data() + header_; }
    // The request's id, 0 when sending failed.
    uint32_t Send(uint64_t offset, uint32_t length);

private:
    sftp_file file_;
    size_t header_;
    std::vector<char> packet_;
};

// The next answer to a read or write request.
struct TReply {
    uint32_t id = 0;
    bool data = false;      // DATA: `bytes` bytes landed in the buffer given
    uint32_t bytes = 0;     //
    int status = SSH_FX_OK; // STATUS: its code (also left in sftp->errnum)
};
// Waits for the next answer: a STATUS, or (with a buffer) a DATA of at most `capacity`
// bytes, read straight into `buffer`. false when the connection failed or the answer was
// neither: the session is then out of step and good for nothing more.
bool ReadReply(sftp_session sftp, TReply& reply, char* buffer = nullptr, uint32_t capacity = 0);

// Waits for the next status answer; its request id goes to `id`. Returns as PosixRename.
int ReadStatus(sftp_session sftp, uint32_t& id);

} // namespace tavrin::sftp::raw
