// Downloads and uploads of TSftpSession. Both keep several requests in flight: on a link
// with any delay, waiting for every block's answer before asking for the next one costs a
// round trip per block.
#include "remote/sftp/SftpBlockWriter.h"
#include "remote/sftp/SftpHandles.h"
#include "remote/sftp/SftpRawRequests.h"
#include "remote/sftp/SftpSession.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tavrin::sftp {
namespace {

// Without the server's word on its limits, blocks stay at a size every server we know takes
// (a shorter read answer is asked again for its rest).
constexpr uint32_t kDefaultBlock = 64 * 1024;
// OpenSSH's server takes reads and writes of up to 255 KiB; larger blocks gain nothing more.
constexpr uint32_t kLargestBlock = 255 * 1024;
// Requests in flight carry this much, so the server never waits for the next one. More
// only piles answers up in the server's buffers: on a busy machine 4 MiB and more were
// slower than 1 or 2.
constexpr uint64_t kBytesAhead = 2 * 1024 * 1024;
// From this size on, a download's blocks are written to disk on a thread of their own.
constexpr uint64_t kThreadedFrom = 8 * 1024 * 1024;

size_t Depth(uint32_t block) {
    return static_cast<size_t>(std::clamp<uint64_t>(kBytesAhead / block, 4, 64));
}

uint32_t BlockWithin(uint64_t limit) {
    return limit == 0 ? kDefaultBlock
                      : static_cast<uint32_t>(std::min<uint64_t>(limit, kLargestBlock));
}

class LocalFile {
public:
    LocalFile(int fd) : fd_(fd) {}
    ~LocalFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int Get() const { return fd_; }
    int Close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

class RemoteFile {
public:
    RemoteFile(sftp_file file) : file_(file) {}
    ~RemoteFile() {
        if (file_)
            ::sftp_close(file_);
    }
    sftp_file Get() const { return file_; }
    int Close() { return ::sftp_close(std::exchange(file_, nullptr)); }
    sftp_file Release() { return std::exchange(file_, nullptr); }

private:
    sftp_file file_;
};

std::string LocalError(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

// Reads blocks ahead of the one being written; every answer lands at its own offset, and
// an answer shorter than asked (allowed by the protocol) gets its rest asked for again.
class Reader {
public:
    Reader(sftp_file file, int fd, uint64_t expected, uint32_t block)
        : file_(file), expected_(expected), block_(block), depth_(Depth(block)),
          writer_(fd, block, expected >= kThreadedFrom) {}
    ~Reader() { Drain(); }

    // false: the server failed a request, a local write failed (`localError`), or
    // (Broken()) the connection failed or fell out of step; the caller reports why.
    bool Step(int& localError) {
        Fill();
        if (inFlight_.empty()) {
            // Nothing asked and no end seen: never report that as a whole file.
            failed_ = failed_ || !EofSeen();
            return !failed_;
        }
        char* block = writer_.Take();
        if (block == nullptr) {
            localError = writer_.Error();
            return false;
        }
        uint32_t written = 0; // the block goes back to the pool unless it is to be written
        uint64_t at = 0;
        const bool ok = Answer(block, written, at);
        writer_.Put(block, written, at);
        return ok;
    }
    // Waits for the last blocks to reach the file: the first write's errno, 0 when all went.
    int FinishWrites() { return writer_.Finish(); }
    bool Done() const { return inFlight_.empty() && (EofSeen() || failed_); }
    bool EofSeen() const { return eofAt_ != UINT64_MAX; }
    bool Whole() const { return EofSeen() && received_ == eofAt_; }
    uint64_t Received() const { return received_; }
    uint64_t EndOfFile() const { return eofAt_; }
    bool Failed() const { return failed_; }
    bool Broken() const { return broken_; }

private:
    struct Request {
        uint32_t id;
        uint64_t offset;
        uint32_t length;
    };

    bool Break() {
        broken_ = failed_ = true;
        return false;
    }
    // Reads the next answer into `block`; its bytes are for the file at `at` when `length`
    // comes back above 0.
    bool Answer(char* block, uint32_t& length, uint64_t& at) {
        raw::TReply reply;
        if (!raw::ReadReply(file_->sftp, reply, block, block_))
            return Break();
        // Answers come in the order asked from every server we know; any order is taken.
        auto asked = std::find_if(inFlight_.begin(), inFlight_.end(),
                                  [&](const Request& r) { return r.id == reply.id; });
        if (asked == inFlight_.end() || reply.bytes > asked->length)
            return Break();
        const Request r = *asked;
        inFlight_.erase(asked);
        if (!reply.data && reply.status != SSH_FX_EOF)
            return false;
        if (reply.bytes == 0) { // the end of the file, by either answer
            eofAt_ = std::min(eofAt_, r.offset);
            return true;
        }
        length = reply.bytes;
        at = r.offset;
        received_ += reply.bytes;
        receivedEnd_ = std::max(receivedEnd_, r.offset + reply.bytes);
        if (reply.bytes < r.length)
            Ask(r.offset + reply.bytes, r.length - reply.bytes);
        return true;
    }
    // Asks up to the end the server reported (or the end received so far, should the file
    // have grown) and one block past it, whose empty answer confirms the end.
    void Fill() {
        while (!failed_ && !EofSeen() && inFlight_.size() < depth_ &&
               next_ <= std::max(expected_, receivedEnd_)) {
            Ask(next_, block_);
            next_ += block_;
        }
    }
    void Ask(uint64_t offset, uint32_t length) {
        const uint32_t id = raw::SendRead(file_, offset, length);
        if (id == 0) {
            Break();
            return;
        }
        inFlight_.push_back({id, offset, length});
    }
    // Answers still on the way are collected, so the next request meets its own answer.
    void Drain() {
        raw::TReply reply;
        std::vector<char> scratch(broken_ || inFlight_.empty() ? 0 : block_);
        while (!broken_ && !inFlight_.empty()) {
            inFlight_.pop_front();
            broken_ = !raw::ReadReply(file_->sftp, reply, scratch.data(), block_);
        }
    }

    sftp_file file_;
    uint64_t expected_;
    uint32_t block_;
    size_t depth_;
    TBlockWriter writer_;
    std::deque<Request> inFlight_;
    uint64_t next_ = 0;
    uint64_t received_ = 0;
    uint64_t receivedEnd_ = 0;
    uint64_t eofAt_ = UINT64_MAX;
    bool failed_ = false;
    bool broken_ = false;
};

} // namespace

bool TSftpSession::LearnBlockSizes() {
    if (handles_->readBlock != 0)
        return true;
    raw::TLimits limits;
    bool usable = true;
    if (::sftp_extension_supported(handles_->sftp, "limits@openssh.com", "1") &&
        !raw::QueryLimits(handles_->sftp, limits, usable) && !usable)
        return false;
    handles_->sftp->errnum = SSH_FX_OK; // a refusal only means no limits were named
    uint64_t write = limits.write;
    if (limits.packet > 1024) // the write's header, with the handle, goes in the packet too
        write = write ? std::min(write, limits.packet - 1024) : limits.packet - 1024;
    handles_->readBlock = BlockWithin(limits.read);
    handles_->writeBlock = BlockWithin(write);
    return true;
}

void TSftpSession::Download(const std::string& remotePath, const std::string& localPath,
                            const TSftpProgress& progress) {
    RequireConnected();
    TSftpWatch watch = Watch();
    const std::string source = Resolve(remotePath);
    if (!LearnBlockSizes())
        FailAndEnd("download of", source, nullptr);
    RemoteFile remote(::sftp_open(handles_->sftp, source.c_str(), O_RDONLY, 0));
    if (remote.Get() == nullptr)
        Fail("download of", source);
    sftp_attributes a = ::sftp_fstat(remote.Get());
    if (a == nullptr)
        Fail("download of", source);
    const bool folder = a->type == SSH_FILEXFER_TYPE_DIRECTORY;
    const uint64_t expected = a->size;
    ::sftp_attributes_free(a);
    if (folder)
        Refuse("download of", source, "a folder");
    LocalFile local(::open(localPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (local.Get() < 0)
        throw ESftpLocalFile(LocalError("Unable to create", localPath, errno));

    int localError = 0;
    if (progress && !progress(0, expected))
        throw ESftpError("SFTP download of " + source + " from " + Where() + " was stopped");
    {
        Reader reader(remote.Get(), local.Get(), expected, handles_->readBlock);
        while (!reader.Done()) {
            watchdog_.Touch();
            if (!reader.Step(localError) || reader.Failed()) {
                if (localError != 0)
                    throw ESftpLocalFile(LocalError("Unable to write", localPath, localError));
                if (reader.Broken())
                    FailAndEnd("download of", source, remote.Release());
                Fail("download of", source);
            }
            if (progress && !progress(reader.Received(), expected))
                throw ESftpError("SFTP download of " + source + " from " + Where() +
                                 " was stopped");
        }
        if (const int error = reader.FinishWrites(); error != 0)
            throw ESftpLocalFile(LocalError("Unable to write", localPath, error));
        // Only every byte up to the end, and the size the server reported, count as done.
        if (!reader.Whole())
            throw ESftpError("SFTP download of " + source + " from " + Where() +
                             " is incomplete: " + std::to_string(reader.Received()) + " of " +
                             std::to_string(expected) + " bytes arrived");
        if (reader.EndOfFile() != expected)
            throw ESftpError("SFTP download of " + source + " from " + Where() +
                             " failed: the file changed size during the download (" +
                             std::to_string(expected) + " bytes when it began, " +
                             std::to_string(reader.EndOfFile()) + " at its end)");
    }
    if (local.Close() != 0)
        throw ESftpLocalFile(LocalError("Unable to write", localPath, errno));
    remote.Close();
}

void TSftpSession::Upload(const std::string& localPath, const std::string& remotePath,
                          const TSftpProgress& progress) {
    RequireConnected();
    TSftpWatch watch = Watch();
    const std::string target = Resolve(remotePath);
    if (!LearnBlockSizes())
        FailAndEnd("upload to", target, nullptr);
    LocalFile local(::open(localPath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (local.Get() < 0 || ::fstat(local.Get(), &st) != 0)
        throw ESftpLocalFile(LocalError("Unable to read", localPath, errno));
    const uint64_t total = static_cast<uint64_t>(st.st_size);
    RemoteFile remote(
        ::sftp_open(handles_->sftp, target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    if (remote.Get() == nullptr)
        Fail("upload to", target);

    if (progress && !progress(0, total))
        throw ESftpError("SFTP upload of " + localPath + " to " + Where() + " was stopped");
    const uint32_t block = handles_->writeBlock;
    const size_t depth = Depth(block);
    raw::TWriteRequest request(remote.Get(), block);
    std::set<uint32_t> inFlight;
    uint64_t sent = 0;
    uint64_t confirmed = 0;
    bool endOfLocal = false;
    // The first thing that went wrong; the answers still due are read before reporting it.
    enum class Failure { None, LocalRead, Sending, Server, Stopped } failure = Failure::None;
    int readError = 0;
    int serverCode = SSH_FX_OK;
    while (!inFlight.empty() || (!endOfLocal && failure == Failure::None)) {
        while (failure == Failure::None && !endOfLocal && inFlight.size() < depth) {
            const ssize_t n = ::pread(local.Get(), request.Data(), block, static_cast<off_t>(sent));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                failure = Failure::LocalRead;
                readError = errno;
                break;
            }
            if (n == 0) {
                endOfLocal = true;
                break;
            }
            const uint32_t id = request.Send(sent, static_cast<uint32_t>(n));
            if (id == 0) {
                failure = Failure::Sending;
                break;
            }
            inFlight.insert(id);
            sent += static_cast<uint64_t>(n);
        }
        if (inFlight.empty())
            break;
        uint32_t id = 0;
        watchdog_.Touch();
        const int code = raw::ReadStatus(handles_->sftp, id);
        if (code < 0 || inFlight.erase(id) == 0)
            FailAndEnd("upload to", target, remote.Release());
        if (code != SSH_FX_OK && failure == Failure::None) {
            failure = Failure::Server;
            serverCode = code;
        }
        confirmed = std::min(sent, confirmed + block);
        if (failure == Failure::None && progress && !progress(confirmed, total))
            failure = Failure::Stopped;
    }
    switch (failure) {
    case Failure::None:
        break;
    case Failure::LocalRead:
        throw ESftpLocalFile(LocalError("Unable to read", localPath, readError));
    case Failure::Stopped:
        throw ESftpError("SFTP upload of " + localPath + " to " + Where() + " was stopped");
    case Failure::Sending:
    case Failure::Server:
        handles_->sftp->errnum = serverCode;
        Fail("upload to", target);
    }
    if (sent != total)
        throw ESftpError("SFTP upload of " + localPath + " to " + Where() + " is incomplete: " +
                         std::to_string(sent) + " of " + std::to_string(total) +
                         " bytes were read (the file changed while it was sent)");
    if (remote.Close() != 0)
        Fail("upload to", target);
}

void TSftpSession::FailAndEnd(const std::string& what, const std::string& path, sftp_file open) {
    // Nothing more can be read from the channel: the session ends here and the caller
    // connects again.
    try {
        Fail(what, path);
    } catch (...) {
        if (open != nullptr)
            ::sftp_close(open);
        Close();
        throw;
    }
}

bool TSftpSession::PosixRename(const std::string& from, const std::string& to) {
    return raw::PosixRename(handles_->sftp, from, to) == SSH_FX_OK;
}

} // namespace tavrin::sftp
