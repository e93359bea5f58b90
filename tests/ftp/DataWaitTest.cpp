// Waits on the data side end in bounded time, and the control connection stays in step
// with the server's replies afterwards.
#include "FtpTestSupport.h"
#include "ftp/IdExceptions.h"
#include "ftp/IdStream.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using ftptest::StatusLog;
using testsrv::ScriptedFtpServer;
using testsrv::ScriptedSession;

namespace {

// A listener on 127.0.0.1 whose accept queue is full: the system drops further SYNs, so a
// connect to it hangs like one to an address that drops packets.
class FullListener {
public:
    FullListener() {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listen_, 0);
        socklen_t length = sizeof address;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        for (int& filler : fillers_) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        std::this_thread::sleep_for(100ms); // let the fillers' handshakes take the queue
    }
    ~FullListener() {
        for (int filler : fillers_)
            ::close(filler);
        ::close(listen_);
    }
    uint16_t Port() const { return port_; }
    std::string PasvReply() const {
        return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port_ / 256) + "," +
               std::to_string(port_ % 256) + ")\r\n";
    }
    void AcceptWaiting() {
        for (;;) {
            const int accepted = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK);
            if (accepted < 0)
                return;
            ::close(accepted);
        }
    }

private:
    int listen_ = -1;
    int fillers_[2] = {-1, -1};
    uint16_t port_ = 0;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct DataFailure {
    const char* name;
    bool passive;
    std::function<void(ScriptedFtpServer&)> script;
    std::function<void(TIdFTP&)> transfer;
    std::string message;     // what the failure says
    bool awaitsFinalReply;   // "Transfer complete" is reported before the final reply
    bool controlStaysUsable; // the next command works on the same connection
    double limitSeconds;
};

TEST(DataWaits, DataSideFailuresAreBoundedAndLeaveTheControlConnectionInStep) {
    FullListener full;
    uint16_t closedPort;
    {
        ScriptedFtpServer gone;
        closedPort = gone.Port();
    }
    const std::string closedPasv = "227 Entering Passive Mode (127,0,0,1," +
                                   std::to_string(closedPort / 256) + "," +
                                   std::to_string(closedPort % 256) + ")\r\n";
    const int busyPort = full.Port(); // bound already: our listener cannot have it
    auto download = [](TIdFTP& client) {
        TIdStringStream target;
        client.DownloadToStream("a", target, false);
    };
    auto upload = [](TIdFTP& client) {
        TIdStringStream source("data");
        client.UploadFromStream(source, "x", false);
    };
    const DataFailure cases[] = {
        {"stalled passive download, no final reply", true,
         [](ScriptedFtpServer& s) {
             s.Handle("RETR", [](ScriptedSession& session, const std::string&) {
                 session.Send("150 Opening\r\n");
                 session.DataSend("a start, then nothing");
             });
         },
         download, "Read Timeout", true, false, 15},
        {"active server that never connects", false,
         [](ScriptedFtpServer& s) { s.Reply("RETR", "150 Opening\r\n"); }, download,
         "Accept timed out.", true, false, 15},
        {"passive upload whose data connect fails after the server's 150", true,
         [&closedPasv](ScriptedFtpServer& s) {
             s.Reply("PASV", closedPasv);
             s.Reply("STOR", "150 Ok to send\r\n425 Can't open data connection\r\n");
         },
         upload, "Can't open data connection\r\n", true, true, 15},
        {"active listener that cannot be made", false, [](ScriptedFtpServer&) {}, upload,
         "Socket Error # " + std::to_string(EADDRINUSE) + "\r\nAddress already in use", false, true,
         15},
        {"passive address that drops packets, no connect time-out set", true,
         [&full](ScriptedFtpServer& s) { s.Reply("PASV", full.PasvReply()); }, download,
         "Connect timed out.", false, true, 40},
    };
    for (const DataFailure& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        c.script(server);
        StatusLog log;
        auto client = ftptest::MakeClient(server.Port(), &log, c.passive);
        client->SetReadTimeout(60000); // the control connection's own limit
        client->SetTransferTimeout(300);
        if (std::string(c.name).find("cannot be made") != std::string::npos)
            client->SetDataPort(busyPort);
        client->Connect();
        const auto start = std::chrono::steady_clock::now();
        try {
            c.transfer(*client);
            ADD_FAILURE() << "no exception";
        } catch (const std::exception& failure) {
            EXPECT_EQ(std::string(failure.what()), c.message);
        }
        EXPECT_LT(SecondsSince(start), c.limitSeconds);
        EXPECT_EQ(log.Has("Transfer complete"), c.awaitsFinalReply);
        if (c.controlStaysUsable) {
            EXPECT_EQ(client->SendNoop(), 200);
        } else {
            EXPECT_FALSE(client->IsConnected()); // its replies would be out of step
        }
    }
}

} // namespace
