// Real servers reached over IPv6 (vsftpd with listen_ipv6 and pyftpdlib, both on ::1) and
// over implicit TLS (vsftpd with implicit_ssl): put, list and get back, plain and protected,
// passive (EPSV) and active (EPRT on IPv6).
#include "FtpTlsSupport.h"
#include "ftp/listing/IdFTPList.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace tlstest;

namespace {

struct ReachCase {
    const char* name;
    bool vsftpd;
    bool ipv6;
    bool tls;
    bool implicit;
    bool passive;
    const char* host; // how the user wrote it
};

struct RunningServer {
    std::unique_ptr<testsrv::PyFtpdServer> py;
    std::unique_ptr<testsrv::VsftpdServer> vs;
    uint16_t port = 0;
    std::string user, password;
};

RunningServer Start(const ReachCase& c, const std::string& root) {
    RunningServer s;
    if (c.vsftpd) {
        testsrv::VsftpdOptions options;
        options.root = root;
        options.tls = c.tls;
        options.ipv6 = c.ipv6;
        options.implicitTls = c.implicit;
        s.vs = std::make_unique<testsrv::VsftpdServer>(options);
        s.port = s.vs->Port();
        s.user = s.vs->User();
        s.password = s.vs->Password();
    } else {
        testsrv::PyFtpdOptions options;
        options.root = root;
        options.tls = c.tls;
        options.ipv6 = c.ipv6;
        s.py = std::make_unique<testsrv::PyFtpdServer>(options);
        s.port = s.py->Port();
        s.user = "tavrin";
        s.password = "secret";
    }
    return s;
}

// pyftpdlib's log of the data-port commands our client sent.
std::vector<std::string> DataPortCommands(const testsrv::PyFtpdServer& server) {
    std::vector<std::string> seen;
    for (const std::string& line : server.Commands())
        for (const char* verb : {"EPSV", "PASV", "EPRT", "PORT"})
            if (line.rfind(verb, 0) == 0)
                seen.push_back(verb);
    return seen;
}

TEST(FtpReachRealServers, PutListGetOverIPv6AndImplicitTls) {
    const std::vector<ReachCase> cases = {
        {"vsftpd ::1 plain passive", true, true, false, false, true, "::1"},
        {"vsftpd [::1] plain active", true, true, false, false, false, "[::1]"},
        {"vsftpd ::1 TLS passive", true, true, true, false, true, "::1"},
        {"vsftpd ::1 TLS active", true, true, true, false, false, "::1"},
        {"pyftpdlib ::1 plain passive", false, true, false, false, true, "[::1]"},
        {"pyftpdlib ::1 plain active", false, true, false, false, false, "::1"},
        {"pyftpdlib ::1 TLS passive", false, true, true, false, true, "::1"},
        {"pyftpdlib ::1 TLS active", false, true, true, false, false, "::1"},
        {"vsftpd implicit TLS passive", true, false, true, true, true, "127.0.0.1"},
        {"vsftpd implicit TLS active", true, false, true, true, false, "127.0.0.1"},
    };
    const std::string payload = "line one\nline two\n" + std::string(100000, 'x');
    for (const ReachCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir root, local;
        RunningServer server = Start(c, root.Path());
        TlsFtpClient client(server.port, server.user, server.password, false);
        client.ftp.SetHost(c.host); // "[::1]" as well: the socket layer takes it
        client.ftp.SetPassive(c.passive);
        client.ftp.SetReadTimeout(20000);
        if (!c.tls) {
            client.ftp.SetIOHandler(nullptr);
            client.ftp.SetUseTLS(utNoTLSSupport);
        } else if (c.implicit) {
            client.ftp.SetUseTLS(utUseImplicitTLS);
            client.ftp.SetDataPortProtection(ftpdpsPrivate);
        }
        client.ftp.SetPort(server.port);
        WriteFileBytes(local / "up.txt", payload);
        ASSERT_NO_THROW(client.ftp.Connect());
        EXPECT_EQ(client.ftp.TLSActive(), c.tls);
        if (c.tls) {
            EXPECT_GE(client.CipherReports(), 1);
        }
        const std::string folder = c.vsftpd ? root.Path() + "/" : "/";
        ASSERT_NO_THROW(client.ftp.UploadFile(local / "up.txt", folder + "up.txt", false));
        EXPECT_EQ(ReadFileBytes(root / "up.txt"), payload);
        ASSERT_NO_THROW(client.ftp.ListDirectory(nullptr, c.vsftpd ? root.Path() : "", true));
        TIdFTPListItems& entries = client.ftp.DirectoryEntries();
        bool listed = false;
        for (size_t i = 0; i < entries.Count(); ++i)
            listed = listed || entries[i].Name() == "up.txt";
        EXPECT_TRUE(listed);
        ASSERT_NO_THROW(
            client.ftp.DownloadFile(folder + "up.txt", local / "down.txt", true, false));
        EXPECT_EQ(ReadFileBytes(local / "down.txt"), payload);
        EXPECT_FALSE(client.ftp.EpsvRefused());
        client.ftp.Disconnect();
        if (server.py) {
            const std::vector<std::string> used = DataPortCommands(*server.py);
            ASSERT_FALSE(used.empty());
            const std::string expected = c.passive ? "EPSV" : "EPRT";
            EXPECT_TRUE(std::all_of(used.begin(), used.end(),
                                    [&](const std::string& verb) { return verb == expected; }));
        }
    }
}

} // namespace
