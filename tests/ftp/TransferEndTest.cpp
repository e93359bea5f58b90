// How a transfer ends: the upload's data connection is closed only once the server has
// read it all, and the final reply decides about success even when every byte went over.
#include "FtpTestSupport.h"
#include "ftp/IdExceptions.h"
#include "ftp/IdSSLIOHandlerSocketBase.h"
#include "ftp/IdStream.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using ftptest::MakeClient;
using testsrv::ScriptedFtpServer;
using testsrv::ScriptedSession;

namespace {

// Never gets as far as a handshake here: the server refuses every AUTH.
class NoHandshakeTlsHandler : public TIdSSLIOHandlerSocketBase {
public:
    std::unique_ptr<TIdSSLIOHandlerSocketBase> Duplicate() override {
        return std::make_unique<NoHandshakeTlsHandler>();
    }
    void BeginTls() override {}
};

TEST(FtpTransferEnd, UploadKeepsTheDataConnectionOpenUntilTheServerClosesIt) {
    // A server may still send on the data connection after the last byte of an upload (a
    // TLS 1.3 session ticket that comes late). If we had closed by then, the system answers
    // with a reset, which throws away the part of the upload still in flight. So the server
    // must be able to send after it saw our end, and we must hear its close.
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        const std::string payload = ftptest::RandomBytes(300000, 11);
        auto received = std::make_shared<std::string>();
        auto lateSendsArrived = std::make_shared<bool>(false);
        ScriptedFtpServer server;
        server.Handle("STOR", [=](ScriptedSession& session, const std::string&) {
            session.Send("150 Ok to send\r\n");
            *received = session.DataReceiveAll(10000ms);
            bool sent = session.DataTrySend("late");
            std::this_thread::sleep_for(200ms); // a reset from a closed client is back by now
            sent = session.DataTrySend("later") && sent;
            *lateSendsArrived = sent;
            session.DataClose();
            session.Send("226 Transfer complete\r\n");
        });
        auto client = MakeClient(server.Port(), nullptr, passive);
        client->Connect();
        TIdStringStream source(payload);
        client->UploadFromStream(source, "x.bin", false);
        EXPECT_TRUE(*received == payload);
        EXPECT_TRUE(*lateSendsArrived) << "the data connection was closed under the server";
        // The control connection is still in step.
        client->SendNoop();
    }
}

TEST(FtpTransferEnd, FailureReplyAfterAllDataFailsDownloadsAndUploads) {
    struct Row {
        const char* command;
        const char* reply;
    };
    const Row rows[] = {
        {"RETR", "426 Connection closed; transfer aborted.\r\n"},
        {"RETR", "451 Local error in processing.\r\n"},
        {"STOR", "426 Failure reading network stream.\r\n"},
        {"STOR", "451 Requested action aborted: local error.\r\n"},
    };
    const std::string payload = ftptest::RandomBytes(70000, 12);
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.command) + " " + row.reply);
        ScriptedFtpServer server;
        auto sink = std::make_shared<std::string>();
        if (std::string(row.command) == "RETR")
            server.Handle("RETR", testsrv::ServeData(payload, "150 Opening\r\n", row.reply));
        else
            server.Handle("STOR", testsrv::ReceiveData(sink, "150 Ok to send\r\n", row.reply));
        auto client = MakeClient(server.Port());
        client->Connect();
        TIdStringStream stream(std::string(row.command) == "RETR" ? std::string() : payload);
        const int code = std::stoi(std::string(row.reply).substr(0, 3));
        try {
            if (std::string(row.command) == "RETR")
                client->DownloadToStream("x.bin", stream, false);
            else
                client->UploadFromStream(stream, "x.bin", false);
            ADD_FAILURE() << "no failure raised";
        } catch (const EIdReplyRFCError& failure) {
            EXPECT_EQ(failure.ErrorCode(), code);
        }
        client->SendNoop(); // still in step after the failure
    }
}

TEST(FtpTransferEnd, AuthSslRefusedWithAny5xxFallsBackToAuthTls) {
    for (const char* refusal : {"500 Unknown command\r\n", "504 Security mechanism unknown\r\n",
                                "534 Request denied for policy reasons\r\n"}) {
        SCOPED_TRACE(refusal);
        ScriptedFtpServer server;
        server.Reply("AUTH", refusal);
        server.Reply("AUTH", "431 Unable to accept security mechanism\r\n");
        NoHandshakeTlsHandler handler;
        auto client = MakeClient(server.Port());
        client->SetIOHandler(&handler);
        client->SetUseTLS(utUseExplicitTLS);
        client->SetAUTHCmd(tAuthSSL);
        EXPECT_ANY_THROW(client->Connect()); // the second AUTH is refused too
        const auto commands = server.Commands();
        ASSERT_GE(commands.size(), 2u);
        EXPECT_EQ(commands[0], "AUTH SSL");
        EXPECT_EQ(commands[1], "AUTH TLS");
    }
}

} // namespace
