#include "servers/ScriptedFtpServer.h"
#include "harness/RawFtpClient.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

using namespace testsrv;
using namespace std::chrono_literals;

TEST(ScriptedFtpServer, AnswersDefaultsAndRecordsEveryLineInOrder) {
    ScriptedFtpServer server;
    RawFtpClient client(server.Port());
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.ReadReply(), "220 Scripted server ready\r\n");
    EXPECT_EQ(client.Command("USER u"), "331 Password required\r\n");
    EXPECT_EQ(client.Command("pass p"), "230 Logged in\r\n");
    EXPECT_EQ(client.Command("FEAT"), "211-Features:\r\n211 End\r\n");
    EXPECT_EQ(client.Command("PWD"), "257 \"/\" is current directory\r\n");
    EXPECT_EQ(client.Command("XYZZY now"), "502 Command not implemented\r\n");
    EXPECT_EQ(client.Command("QUIT"), "221 Bye\r\n");
    EXPECT_EQ(client.ReadReply(), ""); // the server hung up
    ASSERT_TRUE(server.WaitForCommands(6, 5s));
    EXPECT_EQ(server.Commands(),
              (std::vector<std::string>{"USER u", "pass p", "FEAT", "PWD", "XYZZY now", "QUIT"}));
    EXPECT_EQ(server.SessionsAccepted(), 1);
}

TEST(ScriptedFtpServer, QueuedRepliesAreUsedInOrderThenTheLastRepeats) {
    ScriptedFtpServer server("");
    server.Reply("syst", "500 first\r\n");
    server.Reply("SYST", "215 second\r\n");
    RawFtpClient client(server.Port());
    EXPECT_EQ(client.Command("SYST"), "500 first\r\n"); // no greeting came first
    EXPECT_EQ(client.Command("SYST"), "215 second\r\n");
    EXPECT_EQ(client.Command("syst"), "215 second\r\n");
}

TEST(ScriptedFtpServer, ServesAndReceivesOverPassiveData) {
    ScriptedFtpServer server;
    auto sink = std::make_shared<std::string>();
    server.Handle("RETR", ServeData(std::string(200000, 'x') + "end"));
    server.Handle("STOR", ReceiveData(sink));
    RawFtpClient client(server.Port());
    client.ReadReply();

    UniqueFd data = client.OpenPassiveData(client.Command("PASV"));
    ASSERT_TRUE(data.Valid());
    EXPECT_EQ(client.Command("RETR f"), "150 Opening\r\n");
    EXPECT_EQ(client.ReadAll(data), std::string(200000, 'x') + "end");
    EXPECT_EQ(client.ReadReply(), "226 Transfer complete\r\n");

    data = client.OpenPassiveData(client.Command("PASV"));
    EXPECT_EQ(client.Command("STOR g"), "150 Ok to send\r\n");
    ASSERT_TRUE(SendAll(data.Get(), "uploaded bytes", -1, 5s));
    data.Reset();
    EXPECT_EQ(client.ReadReply(), "226 Transfer complete\r\n");
    EXPECT_EQ(*sink, "uploaded bytes");
}

TEST(ScriptedFtpServer, ConnectsToTheLoopbackPortAddressAndRefusesOthers) {
    ScriptedFtpServer server;
    server.Handle("LIST", ServeData("listing line\r\n"));
    RawFtpClient client(server.Port());
    client.ReadReply();
    EXPECT_EQ(client.Command("PORT 10,0,0,1,4,1"), "500 Illegal PORT\r\n");

    uint16_t port = 0;
    UniqueFd listener = ListenLoopback(port);
    std::string arg = "127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256);
    EXPECT_EQ(client.Command("PORT " + arg), "200 PORT ok\r\n");
    EXPECT_EQ(client.Command("LIST"), "150 Opening\r\n");
    UniqueFd data = AcceptWithin(listener.Get(), -1, 5s);
    ASSERT_TRUE(data.Valid());
    EXPECT_EQ(client.ReadAll(data), "listing line\r\n");
    EXPECT_EQ(client.ReadReply(), "226 Transfer complete\r\n");
}

TEST(ScriptedFtpServer, HandlersCanDropOrStallTheDataConnection) {
    ScriptedFtpServer server;
    server.Handle("RETR", [](ScriptedSession& s, const std::string& line) {
        s.Send("150 Opening\r\n");
        if (line == "RETR stall") {
            s.DataSend(""); // connected, but nothing ever comes
            return;
        }
        s.DataSend("only half");
        s.DataAbort();
        s.CloseControl();
    });
    RawFtpClient client(server.Port());
    client.ReadReply();

    UniqueFd data = client.OpenPassiveData(client.Command("PASV"));
    EXPECT_EQ(client.Command("RETR stall"), "150 Opening\r\n");
    std::string got;
    bool timedOut = false;
    EXPECT_FALSE(ReceiveSome(data.Get(), got, -1, 300ms, &timedOut));
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(client.Command("NOOP"), "200 NOOP ok\r\n"); // the session goes on

    data = client.OpenPassiveData(client.Command("PASV"));
    EXPECT_EQ(client.Command("RETR half"), "150 Opening\r\n");
    std::string received;
    while (ReceiveSome(data.Get(), received, -1, 5s)) {
    }
    EXPECT_EQ(received, "only half");
    EXPECT_EQ(client.ReadReply(), ""); // control connection dropped too
}

TEST(ScriptedFtpServer, StopsPromptlyWhileAHandlerWaitsForAClientThatNeverConnects) {
    std::chrono::steady_clock::time_point stopping;
    {
        ScriptedFtpServer server;
        server.Handle("RETR", ServeData("never read"));
        RawFtpClient client(server.Port());
        client.ReadReply();
        client.Command("PASV");
        // The handler now waits for a data connection that never comes.
        EXPECT_EQ(client.Command("RETR f"), "150 Opening\r\n");
        stopping = std::chrono::steady_clock::now();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 5s);
}
