#pragma once
// A session with a file server, as the monitors use it: log in, go to a folder, list it, move
// files both ways, rename, delete, ask a size, keep the session alive, close. Each protocol is
// one adapter behind this interface; the monitors never see which one they talk to.
#include "base/IdException.h"
#include "remote/TransferBytes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct RConfiguration;

namespace tavrin::remote {

enum class TRemoteKind { File, Directory, Link, Other };

// One entry of a folder listing. Listings need not tell size or time: the flags say whether
// they did.
struct TRemoteEntry {
    std::string name;
    TRemoteKind kind = TRemoteKind::File;
    int64_t size = 0;
    bool sizeKnown = false;
    // Days since 30 December 1899 (local midnight) with the time of day as the fraction, as
    // the server listed it.
    double modified = 0;
    bool modifiedKnown = false;
};

// The server answered and said no (a missing file, a refused login, a full disk there): the
// session itself still follows the conversation. `Code` is the server's reply code.
class ERemoteRefused : public EIdException {
public:
    ERemoteRefused(int code, const std::string& message) : EIdException(message), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

// A local file of a transfer could not be read or written; the session has ended that
// transfer with the server and goes on.
class ELocalFileFailed : public EIdException {
public:
    using EIdException::EIdException;
};

// What the server said to a keep-alive.
struct TKeepAliveReply {
    int code = 0;
    std::string text;
};

// Connected: the server's socket is open and the greeting, negotiation and login follow.
enum class TSessionStatus { Connected, Other };

struct TRemoteEvents {
    // The session's status lines (each step of connecting, logging in, transferring).
    std::function<void(TSessionStatus status, const std::string& text)> OnStatus;
    // TLS facts (cipher, certificate).
    std::function<void(const std::string& text)> OnTlsInfo;
    // The client key's password; without it the configured one is used.
    std::function<void(std::string& password)> OnKeyPassword;
};

// Every call may raise: ERemoteRefused, ELocalFileFailed, or another EIdException for a
// broken or silent connection (then the session is best closed without a goodbye).
class TRemoteSession {
public:
    virtual ~TRemoteSession() = default;

    // Connects and logs in; the session starts in the folder the login put it in.
    virtual void Connect() = 0;
    virtual bool IsConnected() = 0;
    // Ends the session; `sayGoodbye` tells the server first and waits for its answer.
    virtual void Close(bool sayGoodbye) = 0;
    // Bounds each further wait for the server (a goodbye to one that stopped answering).
    virtual void SetReplyTimeout(int ms) = 0;

    // What the server says it is, as learned at login (empty when it would not say).
    virtual std::string SystemDescription() = 0;
    virtual std::string CurrentFolder() = 0;
    virtual void ChangeFolder(const std::string& path) = 0;
    // The entries of the current folder.
    virtual std::vector<TRemoteEntry> List() = 0;
    // `name` inside `folder` in the server's own path form; an empty folder leaves the bare
    // name (the current folder). Valid once connected.
    virtual std::string PathJoin(const std::string& folder, const std::string& name) = 0;

    // Whether a download can go on from the size of the local file.
    virtual bool CanResume() = 0;
    // Writes the server file to `localPath`: from the start (replacing what is there), or,
    // with `resume`, appended from the local file's size on. No exception means every byte
    // was written and the server confirmed the transfer.
    virtual void Download(const std::string& remotePath, const std::string& localPath,
                          bool resume) = 0;
    virtual void Upload(const std::string& localPath, const std::string& remotePath) = 0;
    virtual void Rename(const std::string& fromPath, const std::string& toPath) = 0;
    virtual void Delete(const std::string& path) = 0;
    // Makes one folder; its parent must be there. A folder that already exists may be refused
    // like a real failure: FTP servers answer 550 for both.
    virtual void MakeFolder(const std::string& path) = 0;
    // The size the server gives for a file; none when it cannot tell.
    virtual std::optional<int64_t> Size(const std::string& path) = 0;
    virtual TKeepAliveReply KeepAlive() = 0;

    // Told how far each further Download and Upload has got (see TByteReports); empty:
    // nothing is reported. Called on the thread that runs the transfer.
    void SetOnTransferBytes(TTransferBytes report) { onTransferBytes_ = std::move(report); }

    // Folders this session made or found, for whoever makes folders: files that go into the
    // same folder over one login ask for it once. Lives and dies with the session.
    std::set<std::string>& KnownFolders() { return knownFolders_; }

protected:
    TTransferBytes onTransferBytes_;

private:
    std::set<std::string> knownFolders_;
};

// Raises when the settings cannot make a session at all (an unknown Protocol, TLS files or
// an SSH key file that cannot be used), so that a monitor fails its start instead of every
// cycle.
void CheckSessionSettings(const RConfiguration& config);
// The session for a direction's settings: SFTP when Protocol says so (in any case), FTP or
// FTPS otherwise. Raises EConvertError for a Port that is no number, EIdException for an
// unknown Protocol.
std::unique_ptr<TRemoteSession> MakeRemoteSession(const RConfiguration& config,
                                                  const TRemoteEvents& events);

} // namespace tavrin::remote
