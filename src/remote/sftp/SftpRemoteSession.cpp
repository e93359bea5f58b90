#include "remote/sftp/SftpRemoteSession.h"

#include "base/StrUtils.h"
#include "config/CommonTypesUnit.h"
#include "ftp/listing/IdDateTime.h"

#include <chrono>

namespace tavrin::remote {

namespace {

// The session's own failures become the interface's: a refusal stays a refusal and a local
// file failure stays one; every other failure means the connection is gone or in doubt.
template <class F> auto Translated(F&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const tavrin::sftp::ESftpRefused& refused) {
        throw ERemoteRefused(refused.Code(), refused.what());
    } catch (const tavrin::sftp::ESftpLocalFile& local) {
        throw ELocalFileFailed(local.what());
    }
}

TRemoteKind KindOf(tavrin::sftp::TSftpEntryKind kind) {
    switch (kind) {
    case tavrin::sftp::TSftpEntryKind::File:
        return TRemoteKind::File;
    case tavrin::sftp::TSftpEntryKind::Folder:
        return TRemoteKind::Directory;
    case tavrin::sftp::TSftpEntryKind::Link:
        return TRemoteKind::Link;
    default:
        return TRemoteKind::Other;
    }
}

std::string WithoutBrackets(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

} // namespace

double LocalDateTimeOf(std::time_t when) {
    std::tm local{};
    if (::localtime_r(&when, &local) == nullptr)
        return 0;
    TDateTime date = 0, time = 0;
    if (!tavrin::TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date) ||
        !tavrin::TryEncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), 0, time))
        return 0;
    return tavrin::ComposeDateTime(date, time);
}

tavrin::sftp::TSftpSettings SftpSettingsFor(const RConfiguration& config) {
    tavrin::sftp::TSftpSettings settings;
    settings.Host = WithoutBrackets(config.Host);
    settings.Port = StrToInt(config.Port);
    settings.Username = config.Username;
    settings.Password = config.Password;
    settings.KeyFile = config.SSHKey;
    settings.KeyPassphrase = config.SSHKeyPass;
    settings.UseAgent = config.SSHAgent;
    settings.UserKnownHosts = tavrin::sftp::DefaultUserKnownHosts();
    settings.OwnKnownHosts = tavrin::sftp::DefaultOwnKnownHosts();
    return settings;
}

TSftpRemoteSession::TSftpRemoteSession(const RConfiguration& config, const TRemoteEvents& events)
    : TSftpRemoteSession(SftpSettingsFor(config), events) {}

TSftpRemoteSession::TSftpRemoteSession(const tavrin::sftp::TSftpSettings& settings,
                                       const TRemoteEvents& events)
    : settings_(settings), events_(events) {
    // Host keys are trusted like server certificates, and reported the same way.
    session_.SetStatusCallback([this](const std::string& text) {
        if (events_.OnTlsInfo)
            events_.OnTlsInfo(text);
    });
    session_.SetConnectedCallback([this] { Status(TSessionStatus::Connected, "Connected."); });
}

TSftpRemoteSession::~TSftpRemoteSession() = default;

void TSftpRemoteSession::Status(TSessionStatus status, const std::string& text) const {
    if (events_.OnStatus)
        events_.OnStatus(status, text);
}

std::string TSftpRemoteSession::Where() const {
    const bool ipv6 = settings_.Host.find(':') != std::string::npos;
    return (ipv6 ? "[" + settings_.Host + "]" : settings_.Host) + ":" +
           std::to_string(settings_.Port);
}

void TSftpRemoteSession::Connect() {
    Status(TSessionStatus::Other, "Connecting to " + Where() + ".");
    Translated([&] { session_.Connect(settings_); });
    Status(TSessionStatus::Other, "Logged in over SFTP with " + session_.AuthenticatedWith() + ".");
}

bool TSftpRemoteSession::IsConnected() {
    return session_.Connected();
}

void TSftpRemoteSession::Close(bool sayGoodbye) {
    // SSH's goodbye is one message with no answer to wait for: sent whenever the connection
    // still stands.
    const bool wasOpen = session_.Connected();
    session_.Close();
    if (wasOpen)
        Status(TSessionStatus::Other, "Disconnected.");
}

void TSftpRemoteSession::SetReplyTimeout(int ms) {
    session_.SetReplyTimeout(std::chrono::milliseconds(ms));
}

std::string TSftpRemoteSession::SystemDescription() {
    return session_.ServerBanner();
}

std::string TSftpRemoteSession::CurrentFolder() {
    return Translated([&] { return session_.CurrentDirectory(); });
}

void TSftpRemoteSession::ChangeFolder(const std::string& path) {
    Translated([&] { session_.ChangeDirectory(path); });
}

std::vector<TRemoteEntry> TSftpRemoteSession::List() {
    return Translated([&] {
        std::vector<TRemoteEntry> entries;
        for (const tavrin::sftp::TSftpEntry& entry : session_.List()) {
            entries.push_back(
                {entry.Name, KindOf(entry.Kind), static_cast<int64_t>(entry.Size), entry.SizeKnown,
                 entry.ModifiedKnown ? LocalDateTimeOf(entry.Modified) : 0.0, entry.ModifiedKnown});
        }
        return entries;
    });
}

std::string TSftpRemoteSession::PathJoin(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    return tavrin::sftp::TSftpSession::JoinPath(folder, name);
}

bool TSftpRemoteSession::CanResume() {
    // Every download starts from the first byte.
    return false;
}

tavrin::sftp::TSftpProgress TSftpRemoteSession::WithByteReports(TByteReports& reports) {
    if (!onTransferBytes_)
        return progress_;
    // The session's first call (0 bytes, with the size) is the first report.
    return [this, &reports, started = false](uint64_t done, uint64_t total) mutable {
        if (!started) {
            started = true;
            reports.Start(total);
        } else {
            reports.At(done);
        }
        return !progress_ || progress_(done, total);
    };
}

void TSftpRemoteSession::Download(const std::string& remotePath, const std::string& localPath,
                                  bool) {
    TByteReports reports(onTransferBytes_, std::nullopt);
    const tavrin::sftp::TSftpProgress progress = WithByteReports(reports);
    Translated([&] { session_.Download(remotePath, localPath, progress); });
    reports.Finish();
}

void TSftpRemoteSession::Upload(const std::string& localPath, const std::string& remotePath) {
    TByteReports reports(onTransferBytes_, std::nullopt);
    const tavrin::sftp::TSftpProgress progress = WithByteReports(reports);
    Translated([&] { session_.Upload(localPath, remotePath, progress); });
    reports.Finish();
}

void TSftpRemoteSession::Rename(const std::string& fromPath, const std::string& toPath) {
    Translated([&] { session_.Rename(fromPath, toPath); });
}

void TSftpRemoteSession::Delete(const std::string& path) {
    Translated([&] { session_.Delete(path); });
}

void TSftpRemoteSession::MakeFolder(const std::string& path) {
    Translated([&] { session_.MakeDirectory(path); });
}

std::optional<int64_t> TSftpRemoteSession::Size(const std::string& path) {
    // Every SFTP server can stat: a file it cannot stat right after an upload is a failure,
    // not a size it cannot tell.
    return Translated([&] { return static_cast<int64_t>(session_.Size(path)); });
}

TKeepAliveReply TSftpRemoteSession::KeepAlive() {
    Translated([&] { session_.KeepAlive(); });
    return {0, "SSH keep-alive sent to " + Where() + "."};
}

} // namespace tavrin::remote
