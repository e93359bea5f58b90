// The handler on a real TLS session against the in-process server: the switch from clear
// to TLS, the cipher report, resumption by data-connection duplicates, and failures that
// must end as exceptions in bounded time (never a hang, never a signal).
#include "TlsTestServer.h"

#include "ftp/IdAntiFreezeBase.h"
#include "ftp/IdExceptions.h"
#include "ftp/IdStream.h"
#include "ftp/tls/IdSSLOpenSSL.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <future>
#include <poll.h>
#include <random>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

using tlstest::ServerAction;
using tlstest::TlsServerOptions;
using tlstest::TlsTestServer;

struct Reports {
    std::vector<std::string> lines;
    int Ciphers() const {
        int count = 0;
        for (const auto& line : lines)
            count += line.rfind("Cipher: name = ", 0) == 0 ? 1 : 0;
        return count;
    }
};

std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> NewHandler(Reports* reports = nullptr) {
    auto handler = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
    handler->SSLOptions().Method = sslvSSLv23;
    if (reports)
        handler->OnStatusInfo = [reports](const std::string& text) {
            reports->lines.push_back(text);
        };
    return handler;
}

// TCP connect in the clear, as the control connection starts; TLS comes with SetBypass.
void OpenClear(TIdSSLIOHandlerSocketBase& handler, uint16_t port, int readTimeout = 10000) {
    handler.SetHost("127.0.0.1");
    handler.SetPort(port);
    handler.SetReadTimeout(readTimeout);
    handler.SetBypass(true);
    handler.Open();
}

std::string EchoRoundTrip(TIdIOHandler& handler, const std::string& line) {
    handler.WriteLine(line);
    return handler.ReadLine();
}

std::string RandomBytes(size_t size) {
    std::mt19937 generator(7);
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

TEST(TlsHandler, SwitchesToTlsAndReportsCipherAndProgress) {
    TlsTestServer server({});
    Reports reports;
    auto handler = NewHandler(&reports);
    OpenClear(*handler, server.Port());
    EXPECT_TRUE(reports.lines.empty()) << "no TLS before the switch";
    handler->SetBypass(false);
    EXPECT_FALSE(handler->Bypass());
    EXPECT_EQ(EchoRoundTrip(*handler, "USER tavrin"), "USER tavrin");

    ASSERT_EQ(reports.Ciphers(), 1);
    std::string cipher;
    for (const auto& line : reports.lines)
        if (line.rfind("Cipher: ", 0) == 0)
            cipher = line;
    const TIdSSLCipher negotiated = handler->Cipher();
    EXPECT_EQ(cipher, "Cipher: name = " + negotiated.Name + "; description = " +
                          negotiated.Description + "; bits = " + std::to_string(negotiated.Bits) +
                          "; version = " + negotiated.Version + "; ");
    EXPECT_TRUE(std::regex_match(cipher, std::regex("Cipher: name = [A-Z0-9_-]+; description = "
                                                    "[^\n]+; bits = (128|256); version = "
                                                    "TLSv1\\.[23]; ")))
        << cipher;
    const std::regex progress("SSL status: \"[^\"]+\"");
    int progressLines = 0;
    for (const auto& line : reports.lines)
        progressLines += std::regex_match(line, progress) ? 1 : 0;
    EXPECT_GT(progressLines, 2);
    handler->Close();
    ASSERT_TRUE(server.WaitForConnections(1, std::chrono::seconds(10)));
    EXPECT_EQ(server.Connections()[0].received, "USER tavrin\r\n");
}

TEST(TlsHandler, SendsClientCertificateWhenConfigured) {
    TlsServerOptions options;
    options.requireClientCert = true;
    TlsTestServer server(options);
    const auto& c = testsrv::Certificates();
    auto handler = NewHandler();
    handler->SSLOptions().CertFile = c.clientCert;
    handler->SSLOptions().KeyFile = c.clientKey;
    handler->OnGetPassword = [&](std::string& password) { password = c.clientKeyPassword; };
    OpenClear(*handler, server.Port());
    handler->SetBypass(false);
    EXPECT_EQ(EchoRoundTrip(*handler, "PBSZ 0"), "PBSZ 0");
    handler->Close();
    ASSERT_TRUE(server.WaitForConnections(1, std::chrono::seconds(10)));
    EXPECT_TRUE(server.Connections()[0].clientCertificate);
}

class TlsResumption : public ::testing::TestWithParam<int> {};

TEST_P(TlsResumption, DuplicateResumesTheControlSessionAndReportsItsCipher) {
    TlsServerOptions options;
    options.maxVersion = GetParam();
    TlsTestServer server(options);
    Reports reports;
    auto control = NewHandler(&reports);
    OpenClear(*control, server.Port());
    control->SetBypass(false);
    // A reply read after the handshake takes in the TLS 1.3 ticket, as the login does.
    EXPECT_EQ(EchoRoundTrip(*control, "USER tavrin"), "USER tavrin");

    for (int transfer = 0; transfer < 2; ++transfer) {
        auto data = control->Duplicate();
        OpenClear(*data, server.Port());
        data->SetBypass(false);
        EXPECT_TRUE(static_cast<TIdSSLIOHandlerSocketOpenSSL&>(*data).SessionReused());
        EXPECT_EQ(EchoRoundTrip(*data, "data"), "data");
        data->Close();
    }
    control->Close();
    EXPECT_EQ(reports.Ciphers(), 3) << "every data connection reports its cipher";
    ASSERT_TRUE(server.WaitForConnections(3, std::chrono::seconds(10)));
    int reused = 0;
    for (const auto& connection : server.Connections())
        reused += connection.reused ? 1 : 0;
    EXPECT_EQ(reused, 2) << "both data connections, not the control connection";
}

INSTANTIATE_TEST_SUITE_P(Versions, TlsResumption, ::testing::Values(TLS1_2_VERSION, 0),
                         [](const auto& info) {
                             return std::string(info.param ? "TLS12" : "TLS13");
                         });

TEST(TlsHandler, ServerThatDoesNotResumeGetsAFullHandshake) {
    TlsServerOptions options;
    options.resumption = false;
    TlsTestServer server(options);
    auto control = NewHandler();
    OpenClear(*control, server.Port());
    control->SetBypass(false);
    EXPECT_EQ(EchoRoundTrip(*control, "USER tavrin"), "USER tavrin");
    auto data = control->Duplicate();
    OpenClear(*data, server.Port());
    ASSERT_NO_THROW(data->SetBypass(false));
    EXPECT_FALSE(static_cast<TIdSSLIOHandlerSocketOpenSSL&>(*data).SessionReused());
    EXPECT_EQ(EchoRoundTrip(*data, "data"), "data");
}

TEST(TlsHandler, ReceivesWholePayloadUpToTheServersClose) {
    for (bool closeNotify : {true, false}) {
        SCOPED_TRACE(closeNotify ? "with closing alert" : "socket closed without alert");
        TlsServerOptions options;
        options.action = ServerAction::SendPayloadAndClose;
        options.payload = RandomBytes(3 * 1024 * 1024 + 17);
        options.closeNotify = closeNotify;
        TlsTestServer server(options);
        auto handler = NewHandler();
        OpenClear(*handler, server.Port());
        handler->SetBypass(false);
        TIdStringStream received;
        handler->ReadStreamUntilClose(received);
        EXPECT_TRUE(received.Data() == options.payload) << "received " << received.Data().size();
    }
}

TEST(TlsHandler, ProbeWithOnlyASessionTicketWaitingDoesNotBlock) {
    TlsTestServer server({}); // TLS 1.3: tickets follow the handshake
    auto handler = NewHandler();
    OpenClear(*handler, server.Port(), -1); // no read limit, like a plain connection
    handler->SetBypass(false);
    pollfd ticket{handler->SocketHandle(), POLLIN, 0};
    ASSERT_EQ(poll(&ticket, 1, 5000), 1) << "the server's ticket should be on the socket";
    // The zero-time probe must take in the ticket and answer at once. A probe that waits in
    // a read for application data would hang here until the server goes away.
    auto probe = std::async(std::launch::async, [&] { return handler->Connected(); });
    ASSERT_EQ(probe.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "Connected() blocked on a session ticket";
    EXPECT_TRUE(probe.get());
    EXPECT_FALSE(handler->WaitReadable(0));
    EXPECT_EQ(EchoRoundTrip(*handler, "NOOP"), "NOOP");
}

TEST(TlsHandler, PeerResetDuringSendIsAnExceptionNotASignal) {
    TlsServerOptions options;
    options.action = ServerAction::ResetAfterHandshake;
    TlsTestServer server(options);
    auto handler = NewHandler();
    OpenClear(*handler, server.Port());
    handler->SetBypass(false);
    ASSERT_TRUE(server.WaitForConnections(1, std::chrono::seconds(10)));
    const std::string chunk(1 << 20, 'x');
    // Without MSG_NOSIGNAL under the session, the process would die of SIGPIPE here.
    EXPECT_THROW(
        {
            for (int i = 0; i < 64; ++i)
                handler->Write(chunk);
        },
        EIdSocketError);
}

TEST(TlsHandler, HandshakeFailuresAreBoundedAndReported) {
    {
        SCOPED_TRACE("server that never answers the handshake");
        TlsServerOptions options;
        options.action = ServerAction::NoHandshake;
        TlsTestServer server(options);
        auto handler = NewHandler();
        OpenClear(*handler, server.Port(), 300);
        try {
            handler->SetBypass(false);
            ADD_FAILURE() << "handshake with a silent server succeeded";
        } catch (const EIdOSSLConnectError& failure) {
            EXPECT_STREQ(failure.what(), "Error connecting with SSL.");
        }
        EXPECT_TRUE(handler->Bypass()) << "a failed switch leaves the connection in the clear";
        handler->Close();
    }
    {
        SCOPED_TRACE("no protocol version both sides accept");
        TlsTestServer server({});
        auto handler = NewHandler();
        handler->SSLOptions().Method = sslvTLSv1; // TLS 1.0 only: below today's minimum
        OpenClear(*handler, server.Port());
        EXPECT_THROW(handler->SetBypass(false), EIdOSSLConnectError);
    }
}

class CountingAntiFreeze : public TIdAntiFreezeBase {
public:
    int calls = 0;

protected:
    void Process(bool) override { ++calls; }
};

TEST(TlsHandler, StalledHandshakeOnTheWindowThreadKeepsTheEventLoopTurning) {
    TlsServerOptions options;
    options.action = ServerAction::NoHandshake;
    TlsTestServer server(options);
    CountingAntiFreeze antiFreeze;
    antiFreeze.IdleTimeOut = 50;
    antiFreeze.OnlyWhenIdle = false;
    auto handler = NewHandler();
    OpenClear(*handler, server.Port(), 600);
    const int before = antiFreeze.calls;
    EXPECT_THROW(handler->SetBypass(false), EIdOSSLConnectError);
    EXPECT_GE(antiFreeze.calls - before, 5) << "the window froze during the handshake";
    handler->Close();
}

TEST(TlsHandler, CloseFreesTheContextSoTheNextConnectLoadsOptionsAgain) {
    TlsTestServer server({});
    const auto& c = testsrv::Certificates();
    auto handler = NewHandler();
    handler->SSLOptions().CertFile = c.clientCert;
    handler->SSLOptions().KeyFile = c.clientKey;
    std::string password = c.clientKeyPassword;
    handler->OnGetPassword = [&](std::string& answer) { answer = password; };
    OpenClear(*handler, server.Port());
    handler->SetBypass(false);
    handler->Close();
    password = "changed";
    try {
        OpenClear(*handler, server.Port());
        ADD_FAILURE() << "the old context was used again";
    } catch (const EIdOSSLLoadingKeyError& failure) {
        EXPECT_STREQ(failure.what(), "Could not load key, check password.");
    }
    EXPECT_LT(handler->SocketHandle(), 0) << "a failed connect leaves no socket behind";
}

TEST(TlsHandler, SocketClosedByThePeerIsNeverWrittenToAgain) {
    // The server ends the session properly (closing alert, then FIN). The zero-time probe
    // finds that and closes our socket; the number is then free for the next connection
    // this process makes, and a closing alert sent later would land in that connection.
    TlsServerOptions options;
    options.action = ServerAction::SendPayloadAndClose;
    TlsTestServer server(options);
    auto handler = NewHandler();
    OpenClear(*handler, server.Port());
    handler->SetBypass(false);
    const int oldNumber = handler->SocketHandle();
    ASSERT_TRUE(server.WaitForConnections(1, std::chrono::seconds(10)));
    bool gone = false;
    for (int i = 0; i < 250 && !gone; ++i) {
        gone = !handler->Connected();
        if (!gone)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(gone);
    EXPECT_LT(handler->SocketHandle(), 0);

    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    if (pair[0] != oldNumber) { // make the reuse certain instead of likely
        ASSERT_EQ(::dup2(pair[0], oldNumber), oldNumber);
        ::close(pair[0]);
        pair[0] = oldNumber;
    }
    handler->Close();
    handler.reset();
    char byte = 0;
    EXPECT_EQ(::recv(pair[1], &byte, 1, MSG_DONTWAIT), -1) << "bytes reached the reused number";
    ::close(pair[0]);
    ::close(pair[1]);
}

// The window's event loop, run while a read waits, may close the very handler that waits
// (a stop command). The wait must end in an exception, not go on with the freed session.
class ClosingAntiFreeze : public TIdAntiFreezeBase {
public:
    TIdIOHandler* closeThis = nullptr;

protected:
    void Process(bool) override {
        if (closeThis)
            std::exchange(closeThis, nullptr)->Close();
    }
};

TEST(TlsHandler, HandlerClosedByTheEventLoopDuringAWaitFailsTheRead) {
    TlsTestServer server({});
    auto handler = NewHandler();
    OpenClear(*handler, server.Port());
    handler->SetBypass(false);
    ClosingAntiFreeze antiFreeze;
    antiFreeze.OnlyWhenIdle = false;
    antiFreeze.IdleTimeOut = 50;
    handler->WriteLine("echo me");
    pollfd entry{handler->SocketHandle(), POLLIN, 0};
    ASSERT_EQ(poll(&entry, 1, 5000), 1); // the echo is there before the read starts
    antiFreeze.closeThis = handler.get();
    EXPECT_THROW(handler->ReadLine(), EIdException);
    EXPECT_FALSE(handler->Opened());
}

} // namespace
