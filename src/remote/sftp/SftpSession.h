#pragma once
// One SFTP session over SSH: connect (TCP, host key check, authentication), then folder and
// file operations on the server. Blocking; one thread uses a session at a time. Failures
// raise ESftpError (or its subclasses) with a message naming host:port.
#include "remote/sftp/SftpErrors.h"
#include "remote/sftp/SftpSettings.h"
#include "remote/sftp/SftpWatchdog.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct sftp_file_struct; // libssh's open remote file

namespace tavrin::sftp {

enum class TSftpEntryKind { File, Folder, Link, Other };

struct TSftpEntry {
    std::string Name;
    TSftpEntryKind Kind = TSftpEntryKind::Other;
    uint64_t Size = 0;
    std::time_t Modified = 0; // seconds since the epoch, UTC
    bool SizeKnown = false;   // the server may leave either out
    bool ModifiedKnown = false;
};

// Called as a transfer goes on; returning false stops it (the transfer then raises).
using TSftpProgress = std::function<bool(uint64_t done, uint64_t total)>;
// Lines worth a note in the log, e.g. a host key trusted on first use.
using TSftpStatus = std::function<void(const std::string& text)>;

class TSftpSession {
public:
    TSftpSession();
    ~TSftpSession();
    TSftpSession(const TSftpSession&) = delete;
    TSftpSession& operator=(const TSftpSession&) = delete;

    void SetStatusCallback(TSftpStatus status);
    // Called once the TCP connection stands, before the key exchange and the login.
    void SetConnectedCallback(std::function<void()> connected);
    void Connect(const TSftpSettings& settings);
    bool Connected() const;
    void Close();
    // Bounds each further wait for an answer (until the next Connect); 0 or less: the
    // settings' time-out again.
    void SetReplyTimeout(std::chrono::milliseconds limit);
    // The server's identification, e.g. "SSH-2.0-OpenSSH_9.2p1 Debian-2"; "" before a login.
    std::string ServerBanner() const;
    // The cipher the connection encrypts with, e.g. "aes128-gcm@openssh.com"; "" before one.
    std::string Cipher() const;

    void ChangeDirectory(const std::string& path);
    std::string CurrentDirectory() const;
    // Entries of `path` (default: the current folder), without "." and "..".
    std::vector<TSftpEntry> List(const std::string& path = "");
    // Writes the remote file to localPath exactly (created or truncated); raises unless
    // every byte the server reported arrived.
    void Download(const std::string& remotePath, const std::string& localPath,
                  const TSftpProgress& progress = {});
    void Upload(const std::string& localPath, const std::string& remotePath,
                const TSftpProgress& progress = {});
    // Replaces an existing target where the server allows it.
    void Rename(const std::string& from, const std::string& to);
    void Delete(const std::string& path);
    // One level, with the permissions the server's own defaults give it.
    void MakeDirectory(const std::string& path);
    uint64_t Size(const std::string& path);
    // An SSH keep-alive, so idle firewalls and the server keep the connection.
    void KeepAlive();
    // `name` under `folder` with one "/" between them; an absolute name stays as it is.
    static std::string JoinPath(const std::string& folder, const std::string& name);

    // What the last login tried, e.g. "publickey (agent), password"; for logs and tests.
    const std::string& AuthenticatedWith() const { return authenticatedWith_; }

private:
    struct Handles;
    std::string Where() const;
    std::string Resolve(const std::string& path) const;
    // Raises ESftpRefused when the server answered the request with a failure, else
    // ESftpError (and the session counts as broken).
    [[noreturn]] void Fail(const std::string& what, const std::string& path) const;
    // The server answered, but not with what the operation needs (a folder for a file).
    [[noreturn]] void Refuse(const std::string& what, const std::string& path,
                             const std::string& reason) const;
    static std::string TimeoutText(std::chrono::milliseconds limit);
    void OpenSftpChannel();
    void RequireConnected() const;
    bool PosixRename(const std::string& from, const std::string& to);
    // The connection is gone or out of step: raises as Fail() after closing `open` (a file
    // of this session, or nullptr) and the session.
    [[noreturn]] void FailAndEnd(const std::string& what, const std::string& path,
                                 ::sftp_file_struct* open);
    // Asks the server once per connection how much one read and one write may carry;
    // false when the connection failed or fell out of step.
    bool LearnBlockSizes();
    // Bounds the operation it is made for: no answer within the timeout ends the session.
    TSftpWatch Watch();
    std::chrono::milliseconds Limit() const;

    std::unique_ptr<Handles> handles_;
    TSftpWatchdog watchdog_;
    TSftpSettings settings_;
    TSftpStatus status_;
    std::function<void()> connected_;
    std::chrono::milliseconds replyTimeout_{0};
    // Set when a failure left the connection gone or out of step.
    mutable bool broken_ = false;
    std::string currentDirectory_;
    std::string authenticatedWith_;
};

} // namespace tavrin::sftp
