// The session against the scripted loopback server: greeting and reply edge cases, login,
// FEAT, SYST, PWD, QUIT and the exact command sequences.
#include "FtpTestSupport.h"
#include "ftp/IdExceptions.h"
#include "ftp/IdSSLIOHandlerSocketBase.h"
#include "ftp/IdStream.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;
using ftptest::MakeClient;
using ftptest::StatusLog;
using testsrv::ScriptedFtpServer;
using testsrv::ScriptedSession;
using Lines = std::vector<std::string>;

namespace {

TEST(FtpSession, LoginSequenceAndMultiLineGreeting) {
    ScriptedFtpServer server("220-Hello\r\n220-more\r\n220 ready\r\n");
    StatusLog log;
    auto client = MakeClient(server.Port(), &log);
    client->Connect();
    EXPECT_EQ(client->WelcomeReply().Code(), "220");
    EXPECT_EQ(client->WelcomeReply().Text(), (Lines{"Hello", "more", "ready"}));
    EXPECT_EQ(client->SystemDescription(), "UNIX Type: L8");
    EXPECT_EQ(server.Commands(), (Lines{"USER u", "PASS p", "FEAT", "TYPE I", "SYST"}));
    EXPECT_TRUE(log.Has("Connecting to 127.0.0.1."));
    EXPECT_TRUE(log.Has("Connected."));
    EXPECT_EQ(log.texts.back(), "Connection established");
    client->Disconnect();
    ASSERT_TRUE(server.WaitForCommands(6, 2000ms));
    EXPECT_EQ(server.Commands().back(), "QUIT");
    EXPECT_FALSE(client->IsConnected());
}

TEST(FtpSession, BlankLinesBeforeAReplyBareLineFeedsAndBlanksAroundTheCode) {
    ScriptedFtpServer server("\r\n\r\n  220 Hi  \r\n");
    server.Reply("SYST", "215-first\n215 Windows_NT\n");
    auto client = MakeClient(server.Port());
    client->Connect();
    EXPECT_EQ(client->WelcomeReply().Text(), (Lines{"Hi"}));
    EXPECT_EQ(client->SystemDescription(), "first");
    client->SetTransferType(ftASCII); // connected: sent at once
    EXPECT_EQ(server.Commands().back(), "TYPE A");
}

TEST(FtpSession, UserAnswered230SendsNoPassword) {
    ScriptedFtpServer server;
    server.Reply("USER", "230 No password needed\r\n");
    server.Reply("SYST", "500 SYST not understood\r\n");
    auto client = MakeClient(server.Port());
    client->SetTransferType(ftASCII); // disconnected: nothing sent until the login
    client->Connect();
    EXPECT_EQ(server.Commands(), (Lines{"USER u", "FEAT", "TYPE A", "SYST"}));
    EXPECT_EQ(client->SystemDescription(), "Unknown");
    client->SetTransferType(ftASCII); // unchanged: nothing sent
    EXPECT_EQ(server.Commands().size(), 4u);
}

TEST(FtpSession, FeatureListDecidesTheListingCommand) {
    {
        ScriptedFtpServer server;
        server.Reply("FEAT", "211-Features:\r\n MDTM\r\n MLSD\r\n SIZE\r\n211 End\r\n");
        auto client = MakeClient(server.Port());
        client->Connect();
        EXPECT_EQ(client->Capabilities(), (Lines{"MDTM", "MLSD", "SIZE"}));
        EXPECT_TRUE(client->UsingMLSD());
    }
    {
        ScriptedFtpServer server;
        server.Reply("FEAT", "500 FEAT not understood\r\n");
        auto client = MakeClient(server.Port());
        client->Connect();
        EXPECT_TRUE(client->Capabilities().empty());
        EXPECT_FALSE(client->UsingMLSD());
    }
}

TEST(FtpSession, RefusedRepliesRaiseWithTextAndCodeUnlessAnythingIsAccepted) {
    ScriptedFtpServer server;
    server.Reply("NOOP", "500 unknown\r\n");
    auto client = MakeClient(server.Port());
    client->Connect();
    try {
        client->SendCommand("NOOP", {200});
        FAIL() << "no exception";
    } catch (const EIdReplyRFCError& error) {
        EXPECT_STREQ(error.what(), "unknown\r\n");
        EXPECT_EQ(error.ErrorCode(), 500);
    }
    EXPECT_EQ(client->SendCommand("NOOP", {-1}), 500);
    // the connection is still usable after a refused command
    EXPECT_EQ(client->QueryCurrentDirectory(), "/");
}

TEST(FtpSession, PrintWorkingDirectoryWithAndWithoutQuotes) {
    ScriptedFtpServer server;
    server.Reply("PWD", "257 \"/home/u\" is current directory\r\n");
    server.Reply("PWD", "257 /home/u\r\n");
    auto client = MakeClient(server.Port());
    client->Connect();
    EXPECT_EQ(client->QueryCurrentDirectory(), "/home/u");
    EXPECT_EQ(client->QueryCurrentDirectory(), "");
}

TEST(FtpSession, InvalidFirstLineIsReadToTheNextCodeLineThenRaises) {
    ScriptedFtpServer server("Hello\r\n220 x\r\n");
    auto client = MakeClient(server.Port());
    try {
        client->Connect();
        FAIL() << "no exception";
    } catch (const EIdException& error) {
        EXPECT_STREQ(error.what(), "Reply Code is not valid: Hell");
    }
    EXPECT_FALSE(client->IsConnected());
}

TEST(FtpSession, GreetingOtherThan220FailsAndDisconnects) {
    ScriptedFtpServer server("421 Too many users\r\n");
    auto client = MakeClient(server.Port());
    EXPECT_THROW(client->Connect(), EIdReplyRFCError);
    EXPECT_FALSE(client->IsConnected());
    // The connection is still up after the refusal, so the client says goodbye first.
    ASSERT_TRUE(server.WaitForCommands(1, 5s));
    EXPECT_EQ(server.Commands(), Lines{"QUIT"});
}

TEST(FtpSession, ServerClosingWhileAReplyIsAwaited) {
    ScriptedFtpServer server;
    server.Handle("NOOP",
                  [](ScriptedSession& session, const std::string&) { session.CloseControl(); });
    StatusLog log;
    auto client = MakeClient(server.Port(), &log);
    client->Connect();
    try {
        client->SendNoop();
        FAIL() << "no exception";
    } catch (const EIdConnClosedGracefully& error) {
        EXPECT_STREQ(error.what(), "Connection Closed Gracefully.");
    }
    // Disconnect after the peer went: both statuses, and nothing sent.
    log.texts.clear();
    const size_t sent = server.Commands().size();
    client->Disconnect();
    EXPECT_TRUE(log.Has("Disconnecting."));
    EXPECT_TRUE(log.Has("Disconnected."));
    EXPECT_EQ(server.Commands().size(), sent);
    EXPECT_FALSE(client->IsConnected());
}

TEST(FtpSession, ConnectWhileConnectedKeepsTheSession) {
    ScriptedFtpServer server;
    auto client = MakeClient(server.Port());
    client->Connect();
    try {
        client->Connect();
        FAIL() << "no exception";
    } catch (const EIdAlreadyConnected& error) {
        EXPECT_STREQ(error.what(), "Already connected.");
    }
    EXPECT_TRUE(client->IsConnected());
    EXPECT_EQ(client->SendNoop(), 200);
    EXPECT_EQ(server.SessionsAccepted(), 1);
}

TEST(FtpSession, SilentServerFailsWithinOneReadTimeout) {
    ScriptedFtpServer server(""); // accepts, never greets
    auto client = MakeClient(server.Port());
    client->SetReadTimeout(300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client->Connect(), EIdReadTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(client->IsConnected());
}

TEST(FtpSession, EndlessMultiLineReplyIsRefusedNotCollected) {
    // Each line is short enough, but a reply that never ends would fill memory for ever.
    ScriptedFtpServer server;
    server.Handle("NOOP", [](ScriptedSession& session, const std::string&) {
        std::string block;
        for (int i = 0; i < 1000; ++i)
            block += "200-more and more\r\n";
        try {
            for (int i = 0; i < 2000; ++i) // 38 MB in all
                session.Send(block);
            session.Send("200 End\r\n");
        } catch (const std::exception&) {
            // the client hung up, as it should
        }
    });
    auto client = MakeClient(server.Port());
    client->Connect();
    EXPECT_THROW(client->SendNoop(), EIdReadLnMaxLineLengthExceeded);
    client->Disconnect(false);
}

TEST(FtpSession, QuitWithoutAnswerIsNotWaitedFor) {
    ScriptedFtpServer server;
    server.Handle("QUIT", [](ScriptedSession&, const std::string&) {});
    auto client = MakeClient(server.Port());
    client->Connect();
    const auto start = std::chrono::steady_clock::now();
    client->Disconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(client->IsConnected());
}

TEST(FtpSession, FileNamesCannotSmuggleASecondCommand) {
    ScriptedFtpServer server;
    auto client = MakeClient(server.Port());
    client->Connect();
    EXPECT_THROW(client->ChangeDirectory("in\r\nDELE important"), EIdUnsafeCommand);
    EXPECT_THROW(client->DeleteRemoteFile(std::string("a\0b", 3)), EIdUnsafeCommand);
    client->ChangeDirectory("in");
    EXPECT_EQ(server.Commands().back(), "CWD in");
    for (const std::string& line : server.Commands())
        EXPECT_EQ(line.find("DELE"), std::string::npos);
}

TEST(FtpSession, ConnectFailuresAreSocketErrors) {
    uint16_t closedPort;
    {
        ScriptedFtpServer gone;
        closedPort = gone.Port();
    }
    uint16_t closedV6Port;
    { testsrv::UniqueFd gone = testsrv::ListenLoopback(closedV6Port, "::1"); }
    // Blocking connect, then the connect thread; IPv4, IPv6 and IPv6 as URLs write it.
    for (const auto& [host, port] : {std::pair<std::string, uint16_t>{"127.0.0.1", closedPort},
                                     {"::1", closedV6Port},
                                     {"[::1]", closedV6Port}})
        for (int connectTimeout : {0, 2000}) {
            SCOPED_TRACE(host);
            auto client = MakeClient(port);
            client->SetHost(host);
            client->SetConnectTimeout(connectTimeout);
            try {
                client->Connect();
                FAIL() << "no exception";
            } catch (const EIdSocketError& error) {
                EXPECT_EQ(error.LastError(), ECONNREFUSED);
                EXPECT_EQ(std::string(error.what()), "Socket Error # " +
                                                         std::to_string(ECONNREFUSED) +
                                                         "\r\nConnection refused");
            }
            EXPECT_FALSE(client->IsConnected());
        }
    auto noHost = MakeClient(21);
    noHost->SetHost("");
    EXPECT_THROW(noHost->Connect(), EIdHostRequired);
    // (Name look-ups are not tried here: they could leave this machine.)
}

// Stands in for a TLS handler where only the negotiation is under test: it records the
// switch to TLS and keeps talking in the clear, so the scripted server can go on. Real
// handshakes are exercised with the OpenSSL handler in the TLS tests.
class RecordingTlsHandler : public TIdSSLIOHandlerSocketBase {
public:
    int tlsStarts = 0;
    // Shared with the duplicates made for data connections.
    std::shared_ptr<int> dataTlsStarts = std::make_shared<int>(0);
    bool isDuplicate = false;
    void SetBypass(bool value) override {
        if (!value)
            ++(isDuplicate ? *dataTlsStarts : tlsStarts);
        TIdSSLIOHandlerSocketBase::SetBypass(value);
    }
    std::unique_ptr<TIdSSLIOHandlerSocketBase> Duplicate() override {
        auto duplicate = std::make_unique<RecordingTlsHandler>();
        duplicate->dataTlsStarts = dataTlsStarts;
        duplicate->isDuplicate = true;
        return duplicate;
    }
    void BeginTls() override {}
};

std::unique_ptr<TIdFTP> MakeTlsClient(uint16_t port, RecordingTlsHandler& handler) {
    auto client = MakeClient(port);
    client->SetIOHandler(&handler);
    client->SetUseTLS(utUseExplicitTLS);
    client->SetAUTHCmd(tAuthSSL);
    client->SetDataPortProtection(ftpdpsPrivate);
    return client;
}

TEST(FtpSession, AuthSslRefusedFallsBackToAuthTls) {
    ScriptedFtpServer server;
    server.Reply("AUTH", "500 This security scheme is not implemented\r\n");
    server.Reply("AUTH", "234 AUTH TLS OK\r\n");
    RecordingTlsHandler handler;
    auto client = MakeTlsClient(server.Port(), handler);
    client->Connect();
    EXPECT_EQ(handler.tlsStarts, 1);
    EXPECT_TRUE(client->TLSActive());
    EXPECT_EQ(server.Commands(),
              (Lines{"AUTH SSL", "AUTH TLS", "USER u", "PASS p", "FEAT", "TYPE I", "SYST"}));
}

TEST(FtpSession, ProtectedSessionSendsDataPortCommandsBeforeEveryDataConnection) {
    ScriptedFtpServer server;
    server.Reply("AUTH", "234 AUTH SSL OK\r\n");
    server.Reply("FEAT", "211-Features:\r\n PRET\r\n211 End\r\n");
    server.Reply("PROT", "200 Protection level set\r\n");
    server.Handle("LIST", testsrv::ServeData("a\r\n"));
    server.Handle("RETR", testsrv::ServeData("data"));
    RecordingTlsHandler handler;
    auto client = MakeTlsClient(server.Port(), handler);
    client->Connect();
    client->ListDirectory(nullptr, "", true);
    TIdStringStream target;
    client->DownloadToStream("f", target, false);
    EXPECT_EQ(target.Data(), "data");
    EXPECT_EQ(*handler.dataTlsStarts, 2); // each data connection switched to TLS
    Lines commands = server.Commands();
    commands.erase(commands.begin(), std::find(commands.begin(), commands.end(), "SYST") + 1);
    EXPECT_EQ(commands, (Lines{"TYPE A", "PRET LIST", "PBSZ 0", "PROT P", "EPSV", "PASV", "LIST",
                               "TYPE I", "PRET RETR f", "PBSZ 0", "PROT P", "PASV", "RETR f"}));
}

TEST(FtpSession, AuthRefusedTwiceFailsAndDisconnects) {
    ScriptedFtpServer server;
    server.Reply("AUTH", "500 No TLS here\r\n");
    RecordingTlsHandler handler;
    auto client = MakeTlsClient(server.Port(), handler);
    try {
        client->Connect();
        FAIL() << "no exception";
    } catch (const EIdTLSClientTLSNotAvailable& error) {
        EXPECT_STREQ(error.what(), "Start SSL negotiation command failed.");
    }
    EXPECT_EQ(handler.tlsStarts, 0);
    EXPECT_FALSE(client->IsConnected());
    ASSERT_TRUE(server.WaitForCommands(3, 2000ms));
    EXPECT_EQ(server.Commands(), (Lines{"AUTH SSL", "AUTH TLS", "QUIT"}));
}

TEST(FtpSession, TlsSettingsAreCheckedBeforeTheyAreStored) {
    TIdFTP client;
    EXPECT_THROW(client.SetUseTLS(utUseExplicitTLS), EIdTLSClientSSLIOHandlerRequred);
    EXPECT_THROW(client.SetAUTHCmd(tAuthSSL), EIdFTPNoAUTHWOSSL);
    EXPECT_THROW(client.SetDataPortProtection(ftpdpsPrivate),
                 EIdFTPNoDataPortProtectionWOEncryption);
    RecordingTlsHandler handler;
    client.SetIOHandler(&handler);
    client.SetUseTLS(utUseImplicitTLS);
    EXPECT_EQ(client.Port(), 990);
    client.SetUseTLS(utNoTLSSupport);
    EXPECT_EQ(client.Port(), 21);
    client.SetIOHandler(nullptr);
}

} // namespace
