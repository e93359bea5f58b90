#include "remote/sftp/SftpRawRequests.h"

#include <libssh/libssh.h>

#include <vector>

namespace tavrin::sftp::raw {
namespace {

constexpr uint8_t kExtended = 200; // SSH_FXP_EXTENDED
constexpr uint8_t kWrite = 6;      // SSH_FXP_WRITE
constexpr uint8_t kStatus = 101;   // SSH_FXP_STATUS
constexpr int kReadLimitMs = 60000;
constexpr uint32_t kLargestStatus = 64 * 1024;

void PutU32(std::vector<char>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

void PutU64(std::vector<char>& out, uint64_t value) {
    PutU32(out, static_cast<uint32_t>(value >> 32));
    PutU32(out, static_cast<uint32_t>(value));
}

void PutString(std::vector<char>& out, const char* data, size_t length) {
    PutU32(out, static_cast<uint32_t>(length));
    out.insert(out.end(), data, data + length);
}

uint32_t GetU32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// The packet's length field goes in front once its body is complete.
bool SendPacket(ssh_channel channel, std::vector<char>& body, const char* tail = nullptr,
                uint32_t tailLength = 0) {
    std::vector<char> packet;
    packet.reserve(4 + body.size() + tailLength);
    PutU32(packet, static_cast<uint32_t>(body.size() + tailLength));
    packet.insert(packet.end(), body.begin(), body.end());
    if (tail != nullptr)
        packet.insert(packet.end(), tail, tail + tailLength);
    size_t sent = 0;
    while (sent < packet.size()) {
        const int n = ::ssh_channel_write(channel, packet.data() + sent,
                                          static_cast<uint32_t>(packet.size() - sent));
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool ReadExact(ssh_channel channel, unsigned char* buffer, uint32_t length) {
    uint32_t done = 0;
    while (done < length) {
        const int n =
            ::ssh_channel_read_timeout(channel, buffer + done, length - done, 0, kReadLimitMs);
        if (n <= 0)
            return false; // error, end of channel or no answer within the limit
        done += static_cast<uint32_t>(n);
    }
    return true;
}

} // namespace

int ReadStatus(sftp_session sftp, uint32_t& id) {
    unsigned char header[4];
    if (!ReadExact(sftp->channel, header, 4))
        return -1;
    const uint32_t length = GetU32(header);
    if (length < 9 || length > kLargestStatus)
        return -1;
    std::vector<unsigned char> body(length);
    if (!ReadExact(sftp->channel, body.data(), length) || body[0] != kStatus)
        return -1;
    id = GetU32(&body[1]);
    const int code = static_cast<int>(GetU32(&body[5]));
    sftp->errnum = code;
    return code;
}

int PosixRename(sftp_session sftp, const std::string& from, const std::string& to) {
    static const std::string name = "posix-rename@openssh.com";
    const uint32_t id = ++sftp->id_counter;
    std::vector<char> body;
    body.push_back(static_cast<char>(kExtended));
    PutU32(body, id);
    PutString(body, name.data(), name.size());
    PutString(body, from.data(), from.size());
    PutString(body, to.data(), to.size());
    if (!SendPacket(sftp->channel, body))
        return -1;
    uint32_t answered = 0;
    const int code = ReadStatus(sftp, answered);
    return answered == id ? code : -1;
}

uint32_t SendWrite(sftp_file file, uint64_t offset, const char* data, uint32_t length) {
    sftp_session sftp = file->sftp;
    const uint32_t id = ++sftp->id_counter;
    std::vector<char> body;
    body.push_back(static_cast<char>(kWrite));
    PutU32(body, id);
    PutString(body, static_cast<const char*>(::ssh_string_data(file->handle)),
              ::ssh_string_len(file->handle));
    PutU64(body, offset);
    PutU32(body, length);
    return SendPacket(sftp->channel, body, data, length) ? id : 0;
}

} // namespace tavrin::sftp::raw
