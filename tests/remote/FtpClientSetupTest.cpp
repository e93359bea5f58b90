// The one set-up both monitors build their FTP client with: what each setting turns into,
// and real servers reached through it (implicit TLS, and an IPv6 host in brackets), with
// the monitors' certificate rules (trust on first use in the known-servers file).
#include "remote/ftp/FtpClientSetup.h"

#include "base/IdException.h"
#include "config/ConfigPaths.h"
#include "ftp/IdFTP.h"
#include "ftp/tls/IdSSLOpenSSL.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using tavrin::remote::SetUpFtpClient;
using tavrin::remote::TFtpClientEvents;

namespace {

RConfiguration Sample() {
    RConfiguration c;
    c.Host = "ftp.example";
    c.Port = "21";
    c.Username = "u";
    c.Password = "p";
    c.PassiveMode = true;
    c.BinaryMode = true;
    c.SSLCertificate = "/c.pem";
    c.SSLKey = "/k.pem";
    c.SSLPass = "kp";
    return c;
}

TEST(FtpClientSetup, EachSettingReachesTheClient) {
    struct Row {
        const char* name;
        std::function<void(RConfiguration&)> change;
        TIdUseTLS tls;
        int port;
        const char* host;
    };
    const std::vector<Row> rows = {
        {"plain", [](RConfiguration&) {}, utNoTLSSupport, 21, "ftp.example"},
        {"explicit TLS", [](RConfiguration& c) { c.SSL = true; }, utUseExplicitTLS, 21,
         "ftp.example"},
        // Choosing implicit TLS must not move a configured port 21 to 990.
        {"implicit TLS on 21", [](RConfiguration& c) { c.SSL = c.ImplicitTLS = true; },
         utUseImplicitTLS, 21, "ftp.example"},
        {"implicit TLS on 990",
         [](RConfiguration& c) {
             c.SSL = c.ImplicitTLS = true;
             c.Port = "990";
         },
         utUseImplicitTLS, 990, "ftp.example"},
        {"ImplicitTLS without SSL is plain", [](RConfiguration& c) { c.ImplicitTLS = true; },
         utNoTLSSupport, 21, "ftp.example"},
        {"IPv6 host in brackets", [](RConfiguration& c) { c.Host = "[::1]"; }, utNoTLSSupport, 21,
         "::1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RConfiguration config = Sample();
        row.change(config);
        config.ForcePASV = true;
        config.UsePasvAddress = true;
        config.UseMLSD = false;
        TIdFTP client;
        auto tls = SetUpFtpClient(client, config, {});
        EXPECT_EQ(client.UseTLS(), row.tls);
        EXPECT_EQ(client.Port(), row.port);
        EXPECT_EQ(client.Host(), row.host);
        EXPECT_TRUE(client.Passive() && client.ForcePasv() && client.UsePasvAddress());
        EXPECT_FALSE(client.UseMLIS());
        EXPECT_EQ(tls != nullptr, config.SSL);
        if (!tls)
            continue;
        EXPECT_EQ(client.DataPortProtection(), ftpdpsPrivate);
        EXPECT_EQ(client.AUTHCmd(), config.ImplicitTLS ? tAuto : tAuthSSL);
        EXPECT_EQ(tls->SSLOptions().CertFile, "/c.pem");
        EXPECT_EQ(tls->SSLOptions().KeyFile, "/k.pem");
        EXPECT_TRUE(tls->ServerTrust().Check);
        EXPECT_EQ(tls->ServerTrust().KnownServersFile, tavrin::KnownServersFilePath());
        std::string password;
        tls->OnGetPassword(password);
        EXPECT_EQ(password, "kp");
    }
    RConfiguration bad = Sample();
    bad.Port = "twenty-one";
    TIdFTP client;
    EXPECT_THROW(SetUpFtpClient(client, bad, {}), EConvertError);
}

std::string KnownServers() {
    std::ifstream in(tavrin::KnownServersFilePath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Implicit TLS (vsftpd, TLS from the first byte) and explicit TLS to "[::1]" (pyftpdlib),
// both set up as a monitor does it: the first connection's certificate is trusted and
// remembered, and TLS facts reach the TLS event.
TEST(FtpClientSetup, MonitorsReachImplicitTlsAndIPv6Servers) {
    const auto& certs = testsrv::Certificates(); // also gives this process its own state folder
    (void)certs;
    for (const bool implicit : {true, false}) {
        SCOPED_TRACE(implicit ? "implicit TLS, vsftpd" : "explicit TLS to [::1], pyftpdlib");
        const std::string root = testsrv::MakeTempDir("tavrin-setup-");
        std::unique_ptr<testsrv::VsftpdServer> vs;
        std::unique_ptr<testsrv::PyFtpdServer> py;
        RConfiguration config = Sample();
        config.SSL = true;
        config.SSLCertificate = config.SSLKey = config.SSLPass = "";
        if (implicit) {
            testsrv::VsftpdOptions options;
            options.root = root;
            options.tls = options.implicitTls = true;
            vs = std::make_unique<testsrv::VsftpdServer>(options);
            config.Host = "127.0.0.1";
            config.Port = std::to_string(vs->Port());
            config.Username = vs->User();
            config.Password = vs->Password();
            config.ImplicitTLS = true;
        } else {
            testsrv::PyFtpdOptions options;
            options.root = root;
            options.tls = options.ipv6 = true;
            py = std::make_unique<testsrv::PyFtpdServer>(options);
            config.Host = "[::1]";
            config.Port = std::to_string(py->Port());
            config.Username = "tavrin";
            config.Password = "secret";
        }
        std::vector<std::string> tlsLines;
        TFtpClientEvents events;
        events.OnTlsInfo = [&tlsLines](const std::string& text) { tlsLines.push_back(text); };
        for (int attempt = 0; attempt < 2; ++attempt) { // the second meets a known server
            TIdFTP client;
            auto tls = SetUpFtpClient(client, config, events);
            client.SetReadTimeout(20000);
            ASSERT_NO_THROW(client.Connect());
            EXPECT_TRUE(client.TLSActive());
            std::vector<std::string> lines;
            ASSERT_NO_THROW(client.ListDirectory(&lines, implicit ? root : "", true));
            client.Disconnect();
        }
        EXPECT_NE(KnownServers().find(implicit ? "127.0.0.1" : "::1"), std::string::npos);
        EXPECT_FALSE(tlsLines.empty());
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
}

} // namespace
