#pragma once
// A connection over an I/O handler, with the reply layer on top: commands out, replies in,
// codes checked. TIdTCPClient adds the client side (host, port, time-outs, Connect).
#include "ftp/IdIOHandler.h"
#include "ftp/IdReplyFTP.h"
#include "ftp/IdStatus.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Accepted reply codes; empty or the single code -1 accepts anything.
using TIdReplyCodes = std::vector<int16_t>;

class TIdTCPConnection {
public:
    TIdTCPConnection();
    virtual ~TIdTCPConnection();
    TIdTCPConnection(const TIdTCPConnection&) = delete;
    TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

    TIdIOHandler* IOHandler() const { return ioHandler_; }
    // Not owned: the caller keeps the handler alive while attached (it tells us if not).
    virtual void SetIOHandler(TIdIOHandler* handler);

    const TIdReplyFTP& LastReply() const { return lastReply_; }
    const TIdReplyFTP& WelcomeReply() const { return welcomeReply_; }

    virtual bool IsConnected();
    // Notifies the peer (QUIT for FTP) when asked and still connected, then closes.
    virtual void Disconnect(bool notifyPeer = true);

    // Writes the line, reads the reply, checks it; returns the numeric code. A line with CR,
    // LF or NUL in it is refused (EIdUnsafeCommand) before anything is written.
    int16_t SendCommand(const std::string& line, const TIdReplyCodes& accepted = {});
    // A reply that times out, or whose lines exceed the limits, closes the connection.
    void ReadReply();
    int16_t ReadExpectedReply(const TIdReplyCodes& accepted);
    void CheckReplyCode(int16_t code, const TIdReplyCodes& accepted) const;
    // Writes a command line without reading a reply (same safety check as SendCommand).
    void WriteCommand(const std::string& line);

    TIdStatusEvent OnStatus;
    std::function<void()> OnDisconnected;

    // Called by a handler that is being destroyed while attached.
    void ForgetIOHandler(TIdIOHandler* handler);

protected:
    virtual void NotifyPeerOnDisconnect() {}
    void DoStatus(TIdStatus status, const std::string& arg = std::string());
    // Makes and attaches a plain handler when none is set (owned by the connection).
    void EnsureIOHandler();
    bool HandlerIsManaged() const { return managedHandler_ != nullptr; }
    void DropManagedHandler();

    TIdReplyFTP lastReply_;
    TIdReplyFTP welcomeReply_;

private:
    std::vector<std::string> ReadReplyLines();
    // Closes a connection whose replies can no longer be matched to commands.
    void DropOutOfStepConnection();

    TIdIOHandler* ioHandler_ = nullptr;
    std::unique_ptr<TIdIOHandler> managedHandler_;
};

class TIdTCPClient : public TIdTCPConnection {
public:
    const std::string& Host() const { return host_; }
    void SetHost(const std::string& host) { host_ = host; }
    int Port() const { return port_; }
    void SetPort(int port) { port_ = port; }
    int ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int ms) { connectTimeout_ = ms; }
    int ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int ms);
    const std::string& BoundIP() const { return boundIP_; }
    void SetBoundIP(const std::string& ip) { boundIP_ = ip; }
    int BoundPort() const { return boundPort_; }
    void SetBoundPort(int port) { boundPort_ = port; }

    void SetIOHandler(TIdIOHandler* handler) override;
    // Opens the TCP connection; raises "Already connected.", EIdHostRequired,
    // EIdPortRequired, connect errors.
    virtual void Connect();

protected:
    void CopySettingsInto(TIdIOHandler* handler) const;

private:
    std::string host_;
    int port_ = 0;
    int connectTimeout_ = 0;
    int readTimeout_ = -1;
    std::string boundIP_;
    int boundPort_ = 0;
};
