#pragma once
// The remote session over FTP and FTPS: one client and its TLS handler, built from a
// direction's settings.
#include "remote/RemoteSession.h"

#include <functional>
#include <memory>

class TIdFTP;
class TIdSSLIOHandlerSocketOpenSSL;

namespace tavrin::remote {

class TFtpRemoteSession : public TRemoteSession {
public:
    // Raises EConvertError for a Port that is no number.
    TFtpRemoteSession(const RConfiguration& config, const TRemoteEvents& events);
    // Closes without a goodbye.
    ~TFtpRemoteSession() override;
    TFtpRemoteSession(const TFtpRemoteSession&) = delete;
    TFtpRemoteSession& operator=(const TFtpRemoteSession&) = delete;

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

private:
    bool UnixLike() const;
    // Runs a download or upload with the client's data bytes going to `reports`.
    void WithByteReports(TByteReports& reports, const std::function<void()>& transfer);

    // The handler must outlive the client that uses it: declared first, freed last.
    std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> tls_;
    std::unique_ptr<TIdFTP> client_;
};

} // namespace tavrin::remote
