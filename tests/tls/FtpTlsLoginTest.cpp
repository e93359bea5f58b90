// Explicit TLS login through the OpenSSL handler against real and scripted servers: the
// exact command sequence the server saw, and every way the negotiation can fail, each
// ending with an exception and a disconnected client.
#include "FtpTlsSupport.h"

#include "ftp/IdExceptions.h"
#include "servers/RealServers.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using tlstest::ScratchDir;
using tlstest::TlsFtpClient;
using Auth = testsrv::PyFtpdOptions::Auth;

// pyftpdlib offers UTF8 in FEAT, so the client asks for it before TYPE.
const std::vector<std::string> kLoginSequence = {
    "AUTH SSL", "USER tavrin", "PASS secret", "FEAT", "OPTS UTF8 ON", "TYPE I", "SYST"};

testsrv::PyFtpdOptions TlsServerOptions(const ScratchDir& root, Auth auth = Auth::SslAndTls) {
    testsrv::PyFtpdOptions options;
    options.root = root.Path();
    options.tls = true;
    options.requireClientCert = true;
    options.auth = auth;
    return options;
}

std::vector<std::string> FirstCommands(const std::vector<std::string>& all, size_t count) {
    return std::vector<std::string>(all.begin(), all.begin() + std::min(count, all.size()));
}

std::string ConnectFailure(TIdFTP& ftp) {
    try {
        ftp.Connect();
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return "(connected)";
}

TEST(FtpTlsLogin, ClientCertificateLoginSendsTheMonitorSequence) {
    ScratchDir root;
    testsrv::PyFtpdServer server(TlsServerOptions(root));
    TlsFtpClient client(server.Port(), "tavrin", "secret");
    ASSERT_NO_THROW(client.ftp.Connect());
    EXPECT_TRUE(client.ftp.IsConnected());
    EXPECT_TRUE(client.ftp.TLSActive());
    EXPECT_EQ(client.ftp.SystemDescription(), "UNIX Type: L8");
    EXPECT_EQ(client.CipherReports(), 1);
    client.ftp.Disconnect();
    EXPECT_EQ(FirstCommands(server.Commands(), kLoginSequence.size()), kLoginSequence);
}

TEST(FtpTlsLogin, WrongKeyPasswordFailsBeforeAnyCommand) {
    ScratchDir root;
    testsrv::PyFtpdServer server(TlsServerOptions(root));
    {
        TlsFtpClient client(server.Port(), "tavrin", "secret");
        client.handler.OnGetPassword = [](std::string& answer) { answer = "wrong"; };
        EXPECT_EQ(ConnectFailure(client.ftp), "Could not load key, check password.");
        EXPECT_FALSE(client.ftp.IsConnected());
    }
    // A good login afterwards marks where the failed attempt's commands would have ended:
    // the server's log must start with the good session's AUTH.
    TlsFtpClient good(server.Port(), "tavrin", "secret");
    ASSERT_NO_THROW(good.ftp.Connect());
    good.ftp.Disconnect();
    EXPECT_EQ(FirstCommands(server.Commands(), kLoginSequence.size()), kLoginSequence);
}

TEST(FtpTlsLogin, UntrustedClientCertificateFailsCleanly) {
    ScratchDir root;
    testsrv::PyFtpdServer server(TlsServerOptions(root));
    TlsFtpClient client(server.Port(), "tavrin", "secret");
    client.handler.SSLOptions().CertFile = testsrv::Certificates().untrustedClientCert;
    client.handler.SSLOptions().KeyFile = testsrv::Certificates().untrustedClientKey;
    EXPECT_THROW(client.ftp.Connect(), EIdException);
    EXPECT_FALSE(client.ftp.IsConnected());
    const auto commands = server.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "PASS secret"), 0)
        << "the password must not reach a server that refused our certificate";
}

TEST(FtpTlsLogin, ServerRefusingAuthSslNegotiatesWithAuthTls) {
    ScratchDir root;
    testsrv::PyFtpdServer server(TlsServerOptions(root, Auth::TlsOnly));
    TlsFtpClient client(server.Port(), "tavrin", "secret");
    ASSERT_NO_THROW(client.ftp.Connect());
    EXPECT_TRUE(client.ftp.TLSActive());
    EXPECT_EQ(client.CipherReports(), 1);
    client.ftp.Disconnect();
    const std::vector<std::string> expected = {"AUTH SSL",    "AUTH TLS", "USER tavrin",
                                               "PASS secret", "FEAT",     "OPTS UTF8 ON",
                                               "TYPE I",      "SYST"};
    EXPECT_EQ(FirstCommands(server.Commands(), expected.size()), expected);
}

TEST(FtpTlsLogin, ServerWithoutTlsLeavesClientDisconnected) {
    ScratchDir root;
    testsrv::PyFtpdServer server(TlsServerOptions(root, Auth::NoAuth));
    TlsFtpClient client(server.Port(), "tavrin", "secret");
    EXPECT_EQ(ConnectFailure(client.ftp), "Start SSL negotiation command failed.");
    EXPECT_FALSE(client.ftp.IsConnected());
    const auto commands = server.Commands();
    EXPECT_EQ(FirstCommands(commands, 2), (std::vector<std::string>{"AUTH SSL", "AUTH TLS"}));
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "USER tavrin"), 0);
}

TEST(FtpTlsLogin, ScriptedRefusalsAndAHandshakeThatNeverHappens) {
    {
        SCOPED_TRACE("AUTH SSL and AUTH TLS both answered 500");
        testsrv::ScriptedFtpServer server;
        server.Reply("AUTH", "500 This security scheme is not implemented\r\n");
        TlsFtpClient client(server.Port(), "u", "p");
        EXPECT_EQ(ConnectFailure(client.ftp), "Start SSL negotiation command failed.");
        EXPECT_FALSE(client.ftp.IsConnected());
        server.WaitForCommands(3, std::chrono::seconds(5));
        EXPECT_EQ(server.Commands(), (std::vector<std::string>{"AUTH SSL", "AUTH TLS", "QUIT"}));
    }
    {
        SCOPED_TRACE("AUTH TLS answered 234, then the server hangs up instead of TLS");
        testsrv::ScriptedFtpServer server;
        server.Handle("AUTH", [](testsrv::ScriptedSession& session, const std::string& line) {
            if (line == "AUTH TLS") {
                session.Send("234 AUTH TLS successful\r\n");
                session.CloseControl();
            } else {
                session.Send("500 This security scheme is not implemented\r\n");
            }
        });
        TlsFtpClient client(server.Port(), "u", "p");
        EXPECT_EQ(ConnectFailure(client.ftp), "SSL is not available on this server.");
        EXPECT_FALSE(client.ftp.IsConnected());
        EXPECT_EQ(server.Commands(), (std::vector<std::string>{"AUTH SSL", "AUTH TLS"}));
        EXPECT_EQ(client.CipherReports(), 0);
    }
}

} // namespace
