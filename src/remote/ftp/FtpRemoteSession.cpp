#include "remote/ftp/FtpRemoteSession.h"

#include "base/StrUtils.h"
#include "ftp/IdExceptions.h"
#include "ftp/IdFTP.h"
#include "ftp/listing/IdFTPList.h"
#include "ftp/listing/IdFTPListParseUnitree.h"
#include "ftp/listing/IdFTPListParseWindowsNT.h"
#include "ftp/tls/IdSSLOpenSSL.h"
#include "remote/ftp/FtpClientSetup.h"

#include <cstdlib>
#include <sys/stat.h>

namespace tavrin::remote {

namespace {

// The client's own failures become the session's: a refusal stays a refusal and a local
// file failure stays one, whatever the protocol; their texts are kept as they are.
template <class F> auto Translated(F&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const EIdReplyRFCError& refused) {
        throw ERemoteRefused(refused.ErrorCode(), refused.what());
    } catch (const EIdFileError& local) {
        throw ELocalFileFailed(local.what());
    }
}

TRemoteKind KindOf(EntryKind kind) {
    switch (kind) {
    case ekFile:
        return TRemoteKind::File;
    case ekDirectory:
        return TRemoteKind::Directory;
    case ekSymbolicLink:
    case ekSymbolicLinkDir:
        return TRemoteKind::Link;
    default:
        return TRemoteKind::Other;
    }
}

// The local file's size; 0 when it cannot be read (the transfer then says why).
int64_t LocalSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
}

} // namespace

TFtpRemoteSession::TFtpRemoteSession(const RConfiguration& config, const TRemoteEvents& events)
    : client_(std::make_unique<TIdFTP>()) {
    TFtpClientEvents clientEvents;
    if (events.OnStatus)
        clientEvents.OnStatus = [onStatus = events.OnStatus](const void*, TIdStatus status,
                                                             const std::string& text) {
            onStatus(status == hsConnected ? TSessionStatus::Connected : TSessionStatus::Other,
                     text);
        };
    clientEvents.OnTlsInfo = events.OnTlsInfo;
    clientEvents.OnKeyPassword = events.OnKeyPassword;
    tls_ = SetUpFtpClient(*client_, config, clientEvents);
}

TFtpRemoteSession::~TFtpRemoteSession() {
    client_.reset();
    tls_.reset();
}

void TFtpRemoteSession::Connect() {
    Translated([&] { client_->Connect(); });
}

bool TFtpRemoteSession::IsConnected() {
    return client_->IsConnected();
}

void TFtpRemoteSession::Close(bool sayGoodbye) {
    Translated([&] { client_->Disconnect(sayGoodbye); });
}

void TFtpRemoteSession::SetReplyTimeout(int ms) {
    client_->SetReadTimeout(ms);
}

std::string TFtpRemoteSession::SystemDescription() {
    return client_->SystemDescription();
}

bool TFtpRemoteSession::UnixLike() const {
    return client_->SystemDescription().find("UNIX") != std::string::npos;
}

std::string TFtpRemoteSession::CurrentFolder() {
    return Translated([&] { return client_->QueryCurrentDirectory(); });
}

void TFtpRemoteSession::ChangeFolder(const std::string& path) {
    Translated([&] { client_->ChangeDirectory(path); });
}

std::vector<TRemoteEntry> TFtpRemoteSession::List() {
    // Servers whose system description says "UNIX" get the Unitree preset; every other server
    // (also one that answered SYST with an error) gets Windows NT. The client's own detection
    // has the last word.
    client_->SetListParserClass(UnixLike()
                                    ? static_cast<TIdFTPListParseClass>(TIdFTPLPUnitree::Class())
                                    : TIdFTPLPWindowsNT::Class());
    return Translated([&] {
        client_->ListDirectory(nullptr, "", true);
        const TIdFTPListItems& items = client_->DirectoryEntries();
        std::vector<TRemoteEntry> entries;
        entries.reserve(items.Count());
        for (size_t i = 0; i < items.Count(); ++i) {
            const TIdFTPListItem& item = items[i];
            entries.push_back({item.Name(), KindOf(item.Kind()), item.ByteSize(),
                               item.ByteSizeKnown(), item.Modified(), item.ModifiedKnown()});
        }
        return entries;
    });
}

std::string TFtpRemoteSession::PathJoin(const std::string& folder, const std::string& name) {
    // Servers that do not call themselves UNIX get the backslash separator.
    if (folder.empty())
        return name;
    return folder + (UnixLike() ? "/" : "\\") + name;
}

bool TFtpRemoteSession::CanResume() {
    return Translated([&] { return client_->CanResume(); });
}

void TFtpRemoteSession::Download(const std::string& remotePath, const std::string& localPath,
                                 bool resume) {
    if (!onTransferBytes_) {
        Translated([&] { client_->DownloadFile(remotePath, localPath, !resume, resume); });
        return;
    }
    // A resumed download goes on from what the local file holds; the server is not asked
    // for the size (the caller knows it from the listing).
    const bool appends = resume && Translated([&] { return client_->CanResume(); });
    TByteReports reports(onTransferBytes_, std::nullopt,
                         appends ? static_cast<uint64_t>(LocalSize(localPath)) : 0);
    WithByteReports(reports, [&] {
        Translated([&] { client_->DownloadFile(remotePath, localPath, !resume, resume); });
    });
}

void TFtpRemoteSession::Upload(const std::string& localPath, const std::string& remotePath) {
    if (!onTransferBytes_) {
        Translated([&] { client_->UploadFile(localPath, remotePath, false); });
        return;
    }
    TByteReports reports(onTransferBytes_, static_cast<uint64_t>(LocalSize(localPath)));
    WithByteReports(
        reports, [&] { Translated([&] { client_->UploadFile(localPath, remotePath, false); }); });
}

void TFtpRemoteSession::WithByteReports(TByteReports& reports,
                                        const std::function<void()>& transfer) {
    client_->SetOnDataBytes([&reports](size_t bytes) { reports.Add(bytes); });
    reports.Start();
    try {
        transfer();
    } catch (...) {
        client_->SetOnDataBytes({});
        throw;
    }
    client_->SetOnDataBytes({});
    reports.Finish();
}

void TFtpRemoteSession::Rename(const std::string& fromPath, const std::string& toPath) {
    Translated([&] { client_->RenameRemoteFile(fromPath, toPath); });
}

void TFtpRemoteSession::Delete(const std::string& path) {
    Translated([&] { client_->DeleteRemoteFile(path); });
}

void TFtpRemoteSession::MakeFolder(const std::string& path) {
    Translated([&] { client_->SendCommand("MKD " + path, {257}); });
}

std::optional<int64_t> TFtpRemoteSession::Size(const std::string& path) {
    // A server that does not know SIZE, or answers it with something else than a number,
    // cannot tell.
    const int code = Translated([&] { return client_->SendCommand("SIZE " + path); });
    if (code != 213)
        return std::nullopt;
    const auto& text = client_->LastReply().Text();
    const std::string answer = text.empty() ? std::string() : tavrin::Trim(text[0]);
    char* end = nullptr;
    const long long size = std::strtoll(answer.c_str(), &end, 10);
    if (answer.empty() || end == nullptr || *end != '\0')
        return std::nullopt;
    return size;
}

TKeepAliveReply TFtpRemoteSession::KeepAlive() {
    Translated([&] { client_->SendNoop(); });
    return {client_->LastReply().NumericCode(), client_->LastReply().JoinedText()};
}

} // namespace tavrin::remote
