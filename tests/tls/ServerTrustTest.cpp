// Whom the client talks to: server certificates verified, trusted on first use, or refused
// before the login; client certificates the server refuses; TLS files checked at start.
#include "FtpTlsSupport.h"

#include "ftp/listing/IdFTPList.h"
#include "ftp/tls/IdSSLAlerts.h"
#include "ftp/tls/IdServerTrust.h"
#include "ftp/tls/TlsFilesCheck.h"
#include "platform/KnownServers.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace {

using tlstest::ScratchDir;
using tlstest::TlsFtpClient;

std::string FingerprintOfFile(const std::string& pem) {
    FILE* file = std::fopen(pem.c_str(), "rb");
    if (file == nullptr)
        return "(missing)";
    X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    const std::string result = tavrin::tls::CertificateFingerprint(certificate);
    X509_free(certificate);
    return result;
}

std::string ConnectFailure(TIdFTP& ftp) {
    try {
        ftp.Connect();
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return "";
}

size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

bool AnyContains(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(part) != std::string::npos;
    });
}

TEST(ServerTrust, FirstUseVerifiedChangedAndPinnedCertificates) {
    const auto& certs = testsrv::Certificates();
    const std::string caSigned = FingerprintOfFile(certs.serverCert);
    const std::string selfSigned = FingerprintOfFile(certs.otherServerCert);
    ASSERT_EQ(caSigned.size(), 95u);
    ASSERT_NE(caSigned, selfSigned);

    enum class Stored { Nothing, CaSigned, Other, Shown };
    struct Row {
        const char* what;
        bool otherCertificate; // the self-signed one instead of the CA-signed one
        bool trustTestCA;      // the test CA as a trusted authority
        Stored before;         // the known-servers file's line for this server beforehand
        const char* pin;       // --fingerprint
        bool accepted;
        const char* statusPart; // in a TLS status line (accepted) or the failure (refused)
        Stored after;
    };
    const Row rows[] = {
        {"first use stores the fingerprint", false, false, Stored::Nothing, "", true,
         "trusted on first use: SHA-256 fingerprint", Stored::Shown},
        {"the stored certificate again", false, false, Stored::CaSigned, "", true,
         "matches the stored SHA-256 fingerprint", Stored::CaSigned},
        {"another certificate than the stored one", true, false, Stored::CaSigned, "", false,
         "is not the one trusted before", Stored::CaSigned},
        {"verified by a trusted authority: nothing stored", false, true, Stored::Nothing, "", true,
         "verified", Stored::Nothing},
        {"verification beats an old stored line", false, true, Stored::Other, "", true, "verified",
         Stored::Other},
        {"self-signed with the authority trusted is still first use", true, true, Stored::Nothing,
         "", true, "trusted on first use", Stored::Shown},
        {"pinned and matching", false, false, Stored::Nothing, "pin", true,
         "matches the pinned SHA-256 fingerprint", Stored::Nothing},
        {"pinned and different, even when verified", true, true, Stored::Nothing, "pin", false,
         "not the pinned", Stored::Nothing},
        // The rows above trusted the test authority for their own connections only.
        {"an authority trusted by earlier connections is not trusted now", false, false,
         Stored::Nothing, "", true, "trusted on first use", Stored::Shown},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScratchDir root;
        tlstest::WriteFileBytes(root / "a.txt", "a");
        testsrv::PyFtpdOptions options;
        options.root = root.Path();
        options.tls = true;
        if (row.otherCertificate) {
            options.serverCert = certs.otherServerCert;
            options.serverKey = certs.otherServerKey;
        }
        testsrv::PyFtpdServer server(options);
        const std::string shown = row.otherCertificate ? selfSigned : caSigned;
        const std::string server_key = tavrin::known::ServerKey("127.0.0.1", server.Port());
        ScratchDir state;
        const std::string file = state / "tavrin/known-servers";
        const auto expectedLine = [&](Stored stored) {
            return stored == Stored::Nothing    ? std::string()
                   : stored == Stored::CaSigned ? caSigned
                   : stored == Stored::Shown    ? shown
                                                : std::string(64, 'A');
        };
        if (row.before != Stored::Nothing) {
            ASSERT_EQ(tavrin::known::RememberIfNew(file, server_key, expectedLine(row.before)), "");
        }

        TlsFtpClient client(server.Port(), "tavrin", "secret", false);
        TIdServerTrust& trust = client.handler.ServerTrust();
        trust.Check = true;
        trust.KnownServersFile = file;
        if (std::string(row.pin) == "pin")
            trust.Fingerprint = caSigned;
        if (row.trustTestCA)
            client.handler.SSLOptions().RootCertFile = certs.caCert;

        const std::string failure = ConnectFailure(client.ftp);
        if (row.accepted) {
            ASSERT_EQ(failure, "");
            EXPECT_TRUE(AnyContains(client.tlsReports, row.statusPart));
            EXPECT_TRUE(AnyContains(client.tlsReports, shown));
            EXPECT_EQ(client.handler.AcceptedFingerprint(), shown);
            // The data connection shows the same certificate and is accepted for it.
            client.ftp.ListDirectory(nullptr, "", true);
            EXPECT_EQ(client.ftp.DirectoryEntries().Count(), 1u);
            EXPECT_TRUE(AnyContains(client.tlsReports, "control connection's SHA-256"));
            client.ftp.Disconnect();
        } else {
            EXPECT_NE(failure.find(row.statusPart), std::string::npos) << failure;
            EXPECT_NE(failure.find(shown), std::string::npos) << failure;
            if (row.before != Stored::Nothing) {
                EXPECT_NE(failure.find(expectedLine(row.before)), std::string::npos) << failure;
                EXPECT_NE(failure.find(file), std::string::npos) << failure;
            }
            EXPECT_FALSE(client.ftp.IsConnected());
            EXPECT_EQ(CountOf(server.Commands(), "USER tavrin"), 0u)
                << "the login must not reach a server we do not trust";
        }
        EXPECT_EQ(tavrin::known::Find(file, server_key), expectedLine(row.after));
        struct stat st {};
        if (::stat(file.c_str(), &st) == 0) {
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
    }
}

// The system's bundle is shared by every connection, and a change to it (an authority added
// or withdrawn) reaches the next connection of the same process.
TEST(ServerTrust, AChangedSystemBundleReachesTheNextConnection) {
    const auto& certs = testsrv::Certificates();
    ScratchDir root, state, roots;
    tlstest::WriteFileBytes(root / "a.txt", "a");
    testsrv::PyFtpdOptions options;
    options.root = root.Path();
    options.tls = true;
    testsrv::PyFtpdServer server(options);
    const std::string bundle = roots / "bundle.pem";
    ::setenv("SSL_CERT_FILE", bundle.c_str(), 1);
    ::setenv("SSL_CERT_DIR", (roots / "no-folder").c_str(), 1);
    const std::string authority = tlstest::ReadFileBytes(certs.caCert);
    const struct {
        const char* what;
        std::string bundle;
        const char* statusPart;
    } steps[] = {
        {"the test authority in the bundle", authority, "verified"},
        {"the authority withdrawn", "", "trusted on first use"},
        {"the authority back, after a line was stored", authority, "verified"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        tlstest::WriteFileBytes(bundle, step.bundle);
        TlsFtpClient client(server.Port(), "tavrin", "secret", false);
        client.handler.ServerTrust().Check = true;
        client.handler.ServerTrust().KnownServersFile = state / "known-servers";
        EXPECT_EQ(ConnectFailure(client.ftp), "");
        EXPECT_TRUE(AnyContains(client.tlsReports, step.statusPart));
        client.ftp.Disconnect();
    }
    ::unsetenv("SSL_CERT_FILE");
    ::unsetenv("SSL_CERT_DIR");
}

TEST(ServerTrust, KnownServersFileKeepsCommentsAndForgets) {
    ScratchDir dir;
    const std::string file = dir / "deep/er/known-servers";
    EXPECT_EQ(tavrin::known::RememberIfNew(file, "ftp.example:21", "AA"), "");
    EXPECT_EQ(tavrin::known::RememberIfNew(file, "[::1]:990", "BB"), "");
    EXPECT_EQ(tavrin::known::RememberIfNew(file, "ftp.example:21", "CC"), "AA");
    EXPECT_TRUE(tavrin::known::Forget(file, "ftp.example:21"));
    EXPECT_FALSE(tavrin::known::Forget(file, "ftp.example:21"));
    const std::string text = tlstest::ReadFileBytes(file);
    EXPECT_EQ(text.substr(0, 2), "# ");
    EXPECT_EQ(text.substr(text.find("\n[") + 1), "[::1]:990 BB\n");
    EXPECT_EQ(tavrin::known::ServerKey("FTP.Example", 21), "ftp.example:21");
    EXPECT_EQ(tavrin::known::ServerKey("::1", 990), "[::1]:990");
    const std::string hex(64, 'a');
    EXPECT_EQ(tavrin::tls::NormalizeFingerprint("SHA256:" + hex).size(), 95u);
    EXPECT_EQ(tavrin::tls::NormalizeFingerprint(hex.substr(1)), "");
    EXPECT_EQ(tavrin::tls::NormalizeFingerprint(hex.substr(1) + "g"), "");
}

TEST(ServerTrust, RefusedClientCertificateNamesTheAlert) {
    const auto& certs = testsrv::Certificates();
    struct Row {
        const char* what;
        bool withCertificate;
        bool untrusted;
        const char* message;
    };
    const Row rows[] = {
        {"certificate from an unknown authority", true, true,
         "The server refused the client certificate (TLS alert \"unknown CA\")."},
        {"no certificate at all", false, false,
         "The server wants a client certificate, and none is set (TLS alert \"certificate "
         "required\")."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScratchDir root;
        testsrv::PyFtpdOptions options;
        options.root = root.Path();
        options.tls = true;
        options.requireClientCert = true;
        testsrv::PyFtpdServer server(options);
        TlsFtpClient client(server.Port(), "tavrin", "secret", row.withCertificate);
        if (row.untrusted) {
            client.handler.SSLOptions().CertFile = certs.untrustedClientCert;
            client.handler.SSLOptions().KeyFile = certs.untrustedClientKey;
        }
        EXPECT_EQ(ConnectFailure(client.ftp), row.message);
        EXPECT_FALSE(client.ftp.IsConnected());
        EXPECT_EQ(CountOf(server.Commands(), "USER tavrin"), 0u);
    }
}

TEST(ServerTrust, TlsFilesCheckNamesTheFile) {
    const auto& c = testsrv::Certificates();
    ScratchDir dir;
    const std::string missing = dir / "missing.pem";
    const std::string q = "\"";
    struct Row {
        std::string cert, key, password, message;
    };
    const Row rows[] = {
        {c.clientCert, c.clientKey, c.clientKeyPassword, ""},
        {"", "", "", ""},
        {c.untrustedClientCert, c.untrustedClientKey, "", ""}, // a key without a password
        {missing, c.clientKey, c.clientKeyPassword,
         "Could not load certificate " + q + missing + q + ": No such file or directory."},
        {c.clientCert, missing, c.clientKeyPassword,
         "Could not load key " + q + missing + q + ": No such file or directory."},
        {c.clientCert, c.clientKey, "wrong",
         "Could not load key " + q + c.clientKey + q + ": the key password is wrong."},
        {c.clientCert, c.clientKey, "",
         "Could not load key " + q + c.clientKey + q + ": the key password is wrong."},
        {c.clientKey, c.clientKey, c.clientKeyPassword,
         "Could not load certificate " + q + c.clientKey + q + ": it holds no PEM certificate."},
        {c.clientCert, c.clientCert, "",
         "Could not load key " + q + c.clientCert + q + ": it holds no PEM private key."},
        {c.clientCert, c.untrustedClientKey, "",
         "Could not load key " + q + c.untrustedClientKey + q +
             ": it does not belong to the certificate " + q + c.clientCert + q + "."},
        {dir.Path(), "", "",
         "Could not load certificate " + q + dir.Path() + q + ": Is a directory."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.cert + " / " + row.key + " / " + row.password);
        std::string message;
        try {
            tavrin::tls::CheckTlsFiles(row.cert, row.key, row.password);
        } catch (const EIdTLSFileError& failure) {
            message = failure.what();
        }
        EXPECT_EQ(message, row.message);
    }
}

} // namespace
