#pragma once
// The remote session over SFTP: a TSftpSession built from a direction's settings, its
// failures turned into the session interface's own, so the monitors' retry and red-line
// rules apply unchanged.
#include "remote/RemoteSession.h"
#include "remote/sftp/SftpSession.h"

namespace tavrin::remote {

// The SFTP settings of a direction: Host (an IPv6 address may be in brackets), Port,
// Username, Password, SSHKey, SSHKeyPass, SSHAgent; host keys checked against the user's
// known_hosts and our own. Raises EConvertError for a Port that is no number.
tavrin::sftp::TSftpSettings SftpSettingsFor(const RConfiguration& config);

class TSftpRemoteSession : public TRemoteSession {
public:
    // Raises EConvertError for a Port that is no number.
    TSftpRemoteSession(const RConfiguration& config, const TRemoteEvents& events);
    // With settings made elsewhere (the command-line tool pins its own host key files).
    TSftpRemoteSession(const tavrin::sftp::TSftpSettings& settings, const TRemoteEvents& events);
    ~TSftpRemoteSession() override;
    TSftpRemoteSession(const TSftpRemoteSession&) = delete;
    TSftpRemoteSession& operator=(const TSftpRemoteSession&) = delete;

    void Connect() override;
    bool IsConnected() override;
    void Close(bool sayGoodbye) override;
    void SetReplyTimeout(int ms) override;
    std::string SystemDescription() override;
    std::string CurrentFolder() override;
    void ChangeFolder(const std::string& path) override;
    std::vector<TRemoteEntry> List() override;
    std::string PathJoin(const std::string& folder, const std::string& name) override;
    bool CanResume() override;
    void Download(const std::string& remotePath, const std::string& localPath,
                  bool resume) override;
    void Upload(const std::string& localPath, const std::string& remotePath) override;
    void Rename(const std::string& fromPath, const std::string& toPath) override;
    void Delete(const std::string& path) override;
    void MakeFolder(const std::string& path) override;
    std::optional<int64_t> Size(const std::string& path) override;
    TKeepAliveReply KeepAlive() override;

    // Each transfer's progress; returning false stops it (the transfer then raises).
    void SetProgress(tavrin::sftp::TSftpProgress progress) { progress_ = std::move(progress); }

private:
    void Status(TSessionStatus status, const std::string& text) const;
    std::string Where() const;
    // The progress a transfer gets: the tool's own, plus the byte reports when asked for.
    tavrin::sftp::TSftpProgress WithByteReports(TByteReports& reports);

    tavrin::sftp::TSftpSettings settings_;
    TRemoteEvents events_;
    tavrin::sftp::TSftpProgress progress_;
    tavrin::sftp::TSftpSession session_;
};

// Days since 30 December 1899 (local midnight), the time of day as the fraction, for a
// time in seconds since the epoch: how listings carry modification times.
double LocalDateTimeOf(std::time_t when);

} // namespace tavrin::remote
