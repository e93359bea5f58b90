// Downloads and uploads of TSftpSession. Both keep several requests in flight: on a link
// with any delay, waiting for every block's answer before asking for the next one costs a
// round trip per block.
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

constexpr uint32_t kBlock = 64 * 1024;
constexpr size_t kInFlight = 32;

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

private:
    sftp_file file_;
};

std::string LocalError(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

bool WriteAt(int fd, const char* data, size_t length, uint64_t offset) {
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

// Reads blocks ahead of the one being written; every answer lands at its own offset, and
// an answer shorter than asked (allowed by the protocol) gets its rest asked for again.
class Reader {
public:
    Reader(sftp_file file, int fd, uint64_t expected) : file_(file), fd_(fd), expected_(expected) {}
    ~Reader() { Drain(); }

    // false: the server failed a request (the caller reports why).
    bool Step(int& localError) {
        Fill();
        if (inFlight_.empty()) {
            // Nothing asked and no end seen: never report that as a whole file.
            failed_ = failed_ || !EofSeen();
            return !failed_;
        }
        const Request r = inFlight_.front();
        inFlight_.pop_front();
        const int n = ::sftp_async_read(file_, buffer_.data(), r.length, r.id);
        if (n < 0)
            return false;
        if (n == 0) {
            eofAt_ = std::min(eofAt_, r.offset);
            return true;
        }
        if (!WriteAt(fd_, buffer_.data(), static_cast<size_t>(n), r.offset)) {
            localError = errno ? errno : EIO;
            return false;
        }
        received_ += static_cast<uint64_t>(n);
        receivedEnd_ = std::max(receivedEnd_, r.offset + static_cast<uint64_t>(n));
        if (static_cast<uint32_t>(n) < r.length)
            Ask(r.offset + static_cast<uint64_t>(n), r.length - static_cast<uint32_t>(n));
        return true;
    }
    bool Done() const { return inFlight_.empty() && (EofSeen() || failed_); }
    bool EofSeen() const { return eofAt_ != UINT64_MAX; }
    bool Whole() const { return EofSeen() && received_ == eofAt_; }
    uint64_t Received() const { return received_; }
    uint64_t EndOfFile() const { return eofAt_; }
    bool Failed() const { return failed_; }

private:
    struct Request {
        uint32_t id;
        uint64_t offset;
        uint32_t length;
    };

    // Asks up to the end the server reported (or the end received so far, should the file
    // have grown) and one block past it, whose empty answer confirms the end.
    void Fill() {
        while (!failed_ && !EofSeen() && inFlight_.size() < kInFlight &&
               next_ <= std::max(expected_, receivedEnd_)) {
            Ask(next_, kBlock);
            next_ += kBlock;
        }
    }
    void Ask(uint64_t offset, uint32_t length) {
        if (::sftp_seek64(file_, offset) != 0) {
            failed_ = true;
            return;
        }
        const int id = ::sftp_async_read_begin(file_, length);
        if (id < 0) {
            failed_ = true;
            return;
        }
        inFlight_.push_back({static_cast<uint32_t>(id), offset, length});
    }
    // Answers still on the way are collected, or libssh keeps them queued forever.
    void Drain() {
        while (!inFlight_.empty()) {
            const Request r = inFlight_.front();
            inFlight_.pop_front();
            if (::sftp_async_read(file_, buffer_.data(), r.length, r.id) < 0)
                break;
        }
    }

    sftp_file file_;
    int fd_;
    uint64_t expected_;
    std::vector<char> buffer_ = std::vector<char>(kBlock);
    std::deque<Request> inFlight_;
    uint64_t next_ = 0;
    uint64_t received_ = 0;
    uint64_t receivedEnd_ = 0;
    uint64_t eofAt_ = UINT64_MAX;
    bool failed_ = false;
};

} // namespace

void TSftpSession::Download(const std::string& remotePath, const std::string& localPath,
                            const TSftpProgress& progress) {
    RequireConnected();
    TSftpWatch watch = Watch();
    const std::string source = Resolve(remotePath);
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
        Reader reader(remote.Get(), local.Get(), expected);
        while (!reader.Done()) {
            watchdog_.Touch();
            if (!reader.Step(localError) || reader.Failed()) {
                if (localError != 0)
                    throw ESftpLocalFile(LocalError("Unable to write", localPath, localError));
                Fail("download of", source);
            }
            if (progress && !progress(reader.Received(), expected))
                throw ESftpError("SFTP download of " + source + " from " + Where() +
                                 " was stopped");
        }
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
    std::vector<char> buffer(kBlock);
    std::set<uint32_t> inFlight;
    uint64_t sent = 0;
    uint64_t confirmed = 0;
    bool endOfLocal = false;
    // The first thing that went wrong; the answers still due are read before reporting it.
    enum class Failure { None, LocalRead, Sending, Server, Stopped } failure = Failure::None;
    int readError = 0;
    int serverCode = SSH_FX_OK;
    while (!inFlight.empty() || (!endOfLocal && failure == Failure::None)) {
        while (failure == Failure::None && !endOfLocal && inFlight.size() < kInFlight) {
            const ssize_t n = ::pread(local.Get(), buffer.data(), kBlock, static_cast<off_t>(sent));
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
            const uint32_t id =
                raw::SendWrite(remote.Get(), sent, buffer.data(), static_cast<uint32_t>(n));
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
        if (code < 0 || inFlight.erase(id) == 0) {
            // The channel is gone or out of step: nothing more can be read from it, so the
            // session ends here and the caller connects again.
            try {
                Fail("upload to", target);
            } catch (...) {
                remote.Close();
                Close();
                throw;
            }
        }
        if (code != SSH_FX_OK && failure == Failure::None) {
            failure = Failure::Server;
            serverCode = code;
        }
        confirmed = std::min(sent, confirmed + kBlock);
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

bool TSftpSession::PosixRename(const std::string& from, const std::string& to) {
    return raw::PosixRename(handles_->sftp, from, to) == SSH_FX_OK;
}

} // namespace tavrin::sftp
