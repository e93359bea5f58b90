#include "servers/RealServers.h"
#include "harness/RawFtpClient.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <unistd.h>

using namespace testsrv;

namespace {

// A fresh root folder with one file in it, removed afterwards.
class ServerRoot {
public:
    ServerRoot() : dir_(MakeTempDir("tavrin-root-")) {
        WriteWholeFile(dir_ + "/hello.txt", "Hello from the server\n");
    }
    ~ServerRoot() { std::filesystem::remove_all(dir_); }
    const std::string& Path() const { return dir_; }

private:
    std::string dir_;
};

// curl is the independent client: if it can log in and download, so can users.
int Curl(std::vector<std::string> args, std::string& output) {
    args.insert(args.begin(), {"/usr/bin/curl", "--silent", "--show-error", "--max-time", "20",
                               "--noproxy", "*"});
    return RunCommand(args, output);
}

std::string Url(uint16_t port, const std::string& path) {
    return "ftp://127.0.0.1:" + std::to_string(port) + "/" + path;
}

bool ProcessGone(int pid) {
    return ::kill(pid, 0) != 0;
}

} // namespace

TEST(PyFtpdServer, PlainServerAcceptsLoginRecordsCommandsAndStops) {
    ServerRoot root;
    PyFtpdServer server({.root = root.Path()});
    RawFtpClient client(server.Port());
    EXPECT_EQ(client.ReadReply().substr(0, 4), "220 ");
    EXPECT_EQ(client.Command("USER tavrin").substr(0, 4), "331 ");
    EXPECT_EQ(client.Command("PASS secret").substr(0, 4), "230 ");
    EXPECT_EQ(client.Command("TYPE I").substr(0, 4), "200 ");
    UniqueFd data = client.OpenPassiveData(client.Command("PASV"));
    ASSERT_TRUE(data.Valid());
    EXPECT_EQ(client.Command("RETR hello.txt")[0], '1'); // 125 or 150
    EXPECT_EQ(client.ReadAll(data), "Hello from the server\n");
    EXPECT_EQ(client.ReadReply().substr(0, 4), "226 ");
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER tavrin", "PASS secret", "TYPE I",
                                                           "PASV", "RETR hello.txt"}));
    const int pid = server.Pid();
    server.Stop();
    EXPECT_TRUE(ProcessGone(pid));
}

TEST(PyFtpdServer, AuthVariantsAnswerAsConfigured) {
    ServerRoot root;
    PyFtpdServer tlsOnly({.root = root.Path(), .tls = true, .auth = PyFtpdOptions::Auth::TlsOnly});
    RawFtpClient a(tlsOnly.Port());
    a.ReadReply();
    EXPECT_EQ(a.Command("AUTH SSL"), "500 This security scheme is not implemented\r\n");
    EXPECT_EQ(a.Command("AUTH TLS").substr(0, 4), "234 ");

    PyFtpdServer noAuth({.root = root.Path(), .tls = true, .auth = PyFtpdOptions::Auth::NoAuth});
    RawFtpClient b(noAuth.Port());
    b.ReadReply();
    EXPECT_EQ(b.Command("AUTH TLS").substr(0, 4), "500 ");
    EXPECT_EQ(b.Command("AUTH SSL").substr(0, 4), "500 ");
    EXPECT_EQ(noAuth.Commands(), (std::vector<std::string>{"AUTH TLS", "AUTH SSL"}));
}

TEST(PyFtpdServer, TlsDownloadsWorkAndClientCertificatesAreChecked) {
    const TestCertificates& certs = Certificates();
    ServerRoot root;
    std::string out;
    {
        PyFtpdServer server({.root = root.Path(), .tls = true});
        EXPECT_EQ(Curl({"--ssl-reqd", "--cacert", certs.caCert, "-u", "tavrin:secret",
                        Url(server.Port(), "hello.txt")},
                       out),
                  0)
            << out;
        EXPECT_EQ(out, "Hello from the server\n");
    }
    PyFtpdServer server({.root = root.Path(), .tls = true, .requireClientCert = true});
    // Protected data connections resume the session; this fails with 522 without a
    // session id context on the server.
    EXPECT_EQ(Curl({"--ssl-reqd", "--cacert", certs.caCert, "--cert", certs.clientCert, "--key",
                    certs.clientKey, "--pass", certs.clientKeyPassword, "-u", "tavrin:secret",
                    Url(server.Port(), "hello.txt")},
                   out),
              0)
        << out;
    EXPECT_EQ(out, "Hello from the server\n");
    // A certificate from no trusted CA, and none at all, are both turned away.
    EXPECT_NE(
        Curl({"--ssl-reqd", "--cacert", certs.caCert, "--cert", certs.untrustedClientCert, "--key",
              certs.untrustedClientKey, "-u", "tavrin:secret", Url(server.Port(), "hello.txt")},
             out),
        0);
    EXPECT_NE(Curl({"--ssl-reqd", "--cacert", certs.caCert, "-u", "tavrin:secret",
                    Url(server.Port(), "hello.txt")},
                   out),
              0);
}

TEST(VsftpdServer, LocalUserDownloadsAndUploadsPlainAndOverTls) {
    ServerRoot root;
    std::string out;
    {
        VsftpdServer server({.root = root.Path()});
        const std::string login = server.User() + ":" + server.Password();
        EXPECT_EQ(Curl({"-u", login, Url(server.Port(), "hello.txt")}, out), 0) << out;
        EXPECT_EQ(out, "Hello from the server\n");
        const std::string upload = root.Path() + "/../upload-source.txt";
        WriteWholeFile(upload, "uploaded\n");
        EXPECT_EQ(Curl({"-u", login, "-T", upload, Url(server.Port(), "up.txt")}, out), 0) << out;
        std::filesystem::remove(upload);
        EXPECT_EQ(ReadWholeFile(root.Path() + "/up.txt"), "uploaded\n");
        const int pid = server.Pid();
        server.Stop();
        EXPECT_TRUE(ProcessGone(pid));
    }
    VsftpdServer server({.root = root.Path(), .tls = true});
    EXPECT_EQ(Curl({"--ssl-reqd", "--cacert", Certificates().caCert, "-u",
                    server.User() + ":" + server.Password(), Url(server.Port(), "hello.txt")},
                   out),
              0)
        << out;
    EXPECT_EQ(out, "Hello from the server\n");
}

TEST(VsftpdServer, StopEndsLiveSessionsToo) {
    ServerRoot root;
    VsftpdServer server({.root = root.Path()});
    RawFtpClient client(server.Port());
    client.ReadReply();
    client.Command("USER " + server.User());
    ASSERT_EQ(client.Command("PASS " + server.Password()).substr(0, 4), "230 ");
    // vsftpd serves each session from a process of its own; a stopped server must not
    // leave it answering.
    server.Stop();
    EXPECT_EQ(client.Command("NOOP"), "");
}
