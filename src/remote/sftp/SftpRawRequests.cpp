#include "remote/sftp/SftpRawRequests.h"

#include <libssh/libssh.h>

#include <cstring>

namespace tavrin::sftp::raw {
namespace {

constexpr uint8_t kRead = 5;            // SSH_FXP_READ
constexpr uint8_t kWrite = 6;           // SSH_FXP_WRITE
constexpr uint8_t kStatus = 101;        // SSH_FXP_STATUS
constexpr uint8_t kData = 103;          // SSH_FXP_DATA
constexpr uint8_t kExtended = 200;      // SSH_FXP_EXTENDED
constexpr uint8_t kExtendedReply = 201; // SSH_FXP_EXTENDED_REPLY
constexpr int kReadLimitMs = 60000;
constexpr uint32_t kLargestOther = 64 * 1024; // any answer but DATA

void PutU32(char* out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((value >> (24 - 8 * i)) & 0xff);
}

void PutU32(std::vector<char>& out, uint32_t value) {
    char bytes[4];
    PutU32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

void PutU64(char* out, uint64_t value) {
    PutU32(out, static_cast<uint32_t>(value >> 32));
    PutU32(out + 4, static_cast<uint32_t>(value));
}

void PutString(std::vector<char>& out, const char* data, size_t length) {
    PutU32(out, static_cast<uint32_t>(length));
    out.insert(out.end(), data, data + length);
}

uint32_t GetU32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint64_t GetU64(const unsigned char* p) {
    return (uint64_t(GetU32(p)) << 32) | GetU32(p + 4);
}

bool SendAll(ssh_channel channel, const char* data, size_t length) {
    while (length > 0) {
        const int n = ::ssh_channel_write(channel, data, static_cast<uint32_t>(length));
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// The packet's length field goes in front of a body that starts after 4 reserved bytes.
bool SendPacket(ssh_channel channel, std::vector<char>& packet) {
    PutU32(packet.data(), static_cast<uint32_t>(packet.size() - 4));
    return SendAll(channel, packet.data(), packet.size());
}

std::vector<char> StartPacket(uint8_t type, uint32_t id) {
    std::vector<char> packet(4);
    packet.push_back(static_cast<char>(type));
    PutU32(packet, id);
    return packet;
}

bool ReadExact(ssh_channel channel, void* buffer, uint32_t length) {
    auto* at = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < length) {
        const int n =
            ::ssh_channel_read_timeout(channel, at + done, length - done, 0, kReadLimitMs);
        if (n <= 0)
            return false; // error, end of channel or no answer within the limit
        done += static_cast<uint32_t>(n);
    }
    return true;
}

// The rest of an answer whose length, type and id were read: at most kLargestOther bytes.
bool ReadBody(ssh_channel channel, uint32_t length, std::vector<unsigned char>& body) {
    if (length > kLargestOther)
        return false;
    body.resize(length);
    return ReadExact(channel, body.data(), length);
}

} // namespace

int PosixRename(sftp_session sftp, const std::string& from, const std::string& to) {
    static const std::string name = "posix-rename@openssh.com";
    const uint32_t id = ++sftp->id_counter;
    std::vector<char> packet = StartPacket(kExtended, id);
    PutString(packet, name.data(), name.size());
    PutString(packet, from.data(), from.size());
    PutString(packet, to.data(), to.size());
    if (!SendPacket(sftp->channel, packet))
        return -1;
    uint32_t answered = 0;
    const int code = ReadStatus(sftp, answered);
    return answered == id ? code : -1;
}

bool QueryLimits(sftp_session sftp, TLimits& limits, bool& usable) {
    static const std::string name = "limits@openssh.com";
    usable = false;
    const uint32_t id = ++sftp->id_counter;
    std::vector<char> packet = StartPacket(kExtended, id);
    PutString(packet, name.data(), name.size());
    if (!SendPacket(sftp->channel, packet))
        return false;
    unsigned char head[9];
    std::vector<unsigned char> body;
    if (!ReadExact(sftp->channel, head, sizeof head) || GetU32(head) < 5 ||
        GetU32(&head[5]) != id || !ReadBody(sftp->channel, GetU32(head) - 5, body))
        return false;
    usable = true;
    if (head[4] == kStatus) {
        if (body.size() >= 4)
            sftp->errnum = static_cast<int>(GetU32(body.data()));
        return false;
    }
    if (head[4] != kExtendedReply || body.size() < 24)
        return false;
    limits.packet = GetU64(&body[0]);
    limits.read = GetU64(&body[8]);
    limits.write = GetU64(&body[16]);
    return true;
}

uint32_t SendRead(sftp_file file, uint64_t offset, uint32_t length) {
    sftp_session sftp = file->sftp;
    const uint32_t id = ++sftp->id_counter;
    std::vector<char> packet = StartPacket(kRead, id);
    PutString(packet, static_cast<const char*>(::ssh_string_data(file->handle)),
              ::ssh_string_len(file->handle));
    char tail[12];
    PutU64(tail, offset);
    PutU32(tail + 8, length);
    packet.insert(packet.end(), tail, tail + sizeof tail);
    return SendPacket(sftp->channel, packet) ? id : 0;
}

TWriteRequest::TWriteRequest(sftp_file file, uint32_t capacity)
    : file_(file), header_(4 + 1 + 4 + 4 + ::ssh_string_len(file->handle) + 8 + 4),
      packet_(header_ + capacity) {
    packet_[4] = static_cast<char>(kWrite);
    const size_t handle = ::ssh_string_len(file->handle);
    PutU32(&packet_[9], static_cast<uint32_t>(handle));
    std::memcpy(&packet_[13], ::ssh_string_data(file->handle), handle);
}

uint32_t TWriteRequest::Send(uint64_t offset, uint32_t length) {
    if (header_ + length > packet_.size())
        return 0;
    sftp_session sftp = file_->sftp;
    const uint32_t id = ++sftp->id_counter;
    PutU32(&packet_[0], static_cast<uint32_t>(header_ - 4 + length));
    PutU32(&packet_[5], id);
    PutU64(&packet_[header_ - 12], offset);
    PutU32(&packet_[header_ - 4], length);
    return SendAll(sftp->channel, packet_.data(), header_ + length) ? id : 0;
}

bool ReadReply(sftp_session sftp, TReply& reply, char* buffer, uint32_t capacity) {
    // length, type, id
    unsigned char head[9];
    if (!ReadExact(sftp->channel, head, sizeof head))
        return false;
    const uint32_t length = GetU32(head);
    if (length < 5)
        return false;
    reply = TReply{};
    reply.id = GetU32(&head[5]);
    if (head[4] == kData && buffer != nullptr) {
        unsigned char size[4];
        if (length < 9 || !ReadExact(sftp->channel, size, sizeof size))
            return false;
        reply.data = true;
        reply.bytes = GetU32(size);
        // Nothing but the bytes themselves may follow: a longer answer is out of step.
        if (reply.bytes > capacity || reply.bytes != length - 9)
            return false;
        return ReadExact(sftp->channel, buffer, reply.bytes);
    }
    std::vector<unsigned char> body;
    if (head[4] != kStatus || length < 9 || !ReadBody(sftp->channel, length - 5, body))
        return false;
    reply.status = static_cast<int>(GetU32(body.data()));
    sftp->errnum = reply.status;
    return true;
}

int ReadStatus(sftp_session sftp, uint32_t& id) {
    TReply reply;
    if (!ReadReply(sftp, reply))
        return -1;
    id = reply.id;
    return reply.status;
}

} // namespace tavrin::sftp::raw
