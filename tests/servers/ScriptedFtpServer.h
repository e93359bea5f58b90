#pragma once
// An FTP server in this process, on 127.0.0.1, that answers from a script: canned replies
// per verb, or a handler that takes full control of the session for that verb. It records
// every command line it receives, so a test can compare the whole exchange.
//
// Each control connection runs on its own thread; handlers run on that thread. All waits
// are bounded and the destructor wakes and joins every thread.

#include "servers/LoopbackSocket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testsrv {

// Raised by the data calls when no data connection could be made (the client never
// connected to the passive port, the PORT address refused, or the server is stopping).
class DataConnectionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One accepted control connection, handed to handlers.
class ScriptedSession {
public:
    // How long a data call waits for the client to connect to the passive port, and how
    // long a single send may stall, before it gives up.
    static constexpr std::chrono::milliseconds kDataConnectLimit{30000};
    static constexpr std::chrono::milliseconds kSendLimit{30000};

    // `address`: where the server listens, and so where its passive data ports open.
    ScriptedSession(UniqueFd control, int stopFd, std::string address = "127.0.0.1");
    ScriptedSession(const ScriptedSession&) = delete;
    ScriptedSession& operator=(const ScriptedSession&) = delete;

    void Send(const std::string& raw); // raw bytes, caller includes CR LF
    void CloseControl();               // the server hangs up the control connection
    bool ControlClosed() const { return !control_.Valid(); }

    // Listens on 127.0.0.1:0 and returns the whole 227 reply for it (not sent).
    std::string OpenPassive();
    // Listens on the server's own address (127.0.0.1 or ::1) and returns the whole 229
    // reply for it (not sent).
    std::string OpenExtendedPassive();
    // Sends over the data connection, establishing it first (accepting the passive peer,
    // or connecting to the last PORT address). DataSend("") only establishes it.
    void DataSend(const std::string& bytes);
    // Everything the client sends until it closes the data connection or the limit passes.
    std::string DataReceiveAll(std::chrono::milliseconds limit);
    // Like DataSend, but says whether the bytes went out (false: the client reset or closed).
    bool DataTrySend(const std::string& bytes);
    void DataClose(); // orderly close (FIN), also drops the passive listener
    void DataAbort(); // reset (RST), like a server that crashed mid-transfer

    std::string LastPortArgument() const { return lastPortArgument_; }

    // Used by the server's read loop.
    bool ReadLine(std::string& line);
    bool RememberPort(const std::string& argument); // true if it names a 127.x address
    // EPRT "|1|127.x|port|" or "|2|::1|port|"; true if it names a loopback address.
    bool RememberExtendedPort(const std::string& argument);

private:
    void EnsureData();

    UniqueFd control_;
    int stopFd_;
    std::string address_;
    std::string pending_; // bytes read past the last line
    UniqueFd passiveListen_;
    UniqueFd data_;
    bool activeMode_ = false;
    std::string lastPortArgument_;
    std::string activeHost_;
    uint16_t activePort_ = 0;
};

class ScriptedFtpServer {
public:
    using Handler = std::function<void(ScriptedSession&, const std::string& line)>;

    // On "::1" the server answers EPSV and EPRT by default (an IPv6 client has nothing else);
    // on 127.0.0.1 it refuses them with 502 unless scripted, as servers of old did.
    explicit ScriptedFtpServer(std::string greeting = "220 Scripted server ready\r\n",
                               std::string address = "127.0.0.1");
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    uint16_t Port() const { return port_; }
    // Canned reply for a verb (first word, upper-cased). Several calls queue replies that
    // are used in order; the last one then repeats.
    void Reply(const std::string& verb, const std::string& raw);
    void Handle(const std::string& verb, Handler handler);
    std::vector<std::string> Commands() const;
    bool WaitForCommands(size_t count, std::chrono::milliseconds limit) const;
    int SessionsAccepted() const { return sessionsAccepted_.load(); }

private:
    void AcceptLoop();
    void RunSession(ScriptedSession& session);
    void Dispatch(ScriptedSession& session, const std::string& line);
    void DefaultReply(ScriptedSession& session, const std::string& verb, bool portAccepted);

    std::string greeting_;
    std::string address_;
    UniqueFd listen_;
    UniqueFd stop_;
    uint16_t port_ = 0;
    std::atomic<int> sessionsAccepted_{0};

    mutable std::mutex mutex_;
    mutable std::condition_variable commandsChanged_;
    std::vector<std::string> commands_;
    std::map<std::string, std::deque<std::string>> replies_;
    std::map<std::string, Handler> handlers_;

    std::mutex sessionsMutex_;
    std::vector<std::unique_ptr<ScriptedSession>> sessions_;
    std::vector<std::thread> sessionThreads_;
    std::thread acceptThread_;
};

// Ready-made data handlers: preliminary reply, data over the data connection (passive or
// active, whichever the client set up), close, final reply. Without a data connection they
// answer "425 Can't open data connection".
ScriptedFtpServer::Handler ServeData(std::string payload,
                                     std::string preliminary = "150 Opening\r\n",
                                     std::string final = "226 Transfer complete\r\n");
ScriptedFtpServer::Handler ReceiveData(std::shared_ptr<std::string> sink,
                                       std::string preliminary = "150 Ok to send\r\n",
                                       std::string final = "226 Transfer complete\r\n");

} // namespace testsrv
