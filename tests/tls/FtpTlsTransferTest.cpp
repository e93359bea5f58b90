// Protected (PROT P) transfers through the OpenSSL handler against both real servers:
// pyftpdlib lists with MLSD, vsftpd with LIST and refuses any data connection that does not
// resume the control connection's TLS session. Every file is compared by hash on both ends,
// and every data connection must report its own cipher.
#include "FtpTlsSupport.h"

#include "ftp/listing/IdFTPList.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using namespace tlstest;

enum class ServerKind { PyFtpd, Vsftpd };

// One server of each kind for the whole suite: starting them is the slow part.
struct SharedServers {
    ScratchDir pyRoot, vsRoot;
    std::unique_ptr<testsrv::PyFtpdServer> py;
    std::unique_ptr<testsrv::VsftpdServer> vs;
};
SharedServers* servers = nullptr;

class TlsTransfer : public ::testing::TestWithParam<ServerKind> {
protected:
    static void TearDownTestSuite() {
        delete servers;
        servers = nullptr;
    }

    void SetUp() override {
        if (servers == nullptr)
            servers = new SharedServers();
        if (GetParam() == ServerKind::PyFtpd && !servers->py) {
            testsrv::PyFtpdOptions options;
            options.root = servers->pyRoot.Path();
            options.tls = true;
            options.requireClientCert = true;
            servers->py = std::make_unique<testsrv::PyFtpdServer>(options);
        }
        if (GetParam() == ServerKind::Vsftpd && !servers->vs) {
            testsrv::VsftpdOptions options;
            options.root = servers->vsRoot.Path();
            options.tls = true;
            options.requireSslReuse = true;
            servers->vs = std::make_unique<testsrv::VsftpdServer>(options);
        }
    }

    bool IsPy() const { return GetParam() == ServerKind::PyFtpd; }
    std::string ServerPath(const std::string& name) const {
        return (IsPy() ? servers->pyRoot : servers->vsRoot) / name;
    }

    std::unique_ptr<TlsFtpClient> Login(bool passive, bool binary) {
        std::unique_ptr<TlsFtpClient> client;
        if (IsPy()) {
            client = std::make_unique<TlsFtpClient>(servers->py->Port(), "tavrin", "secret");
        } else {
            client = std::make_unique<TlsFtpClient>(servers->vs->Port(), servers->vs->User(),
                                                    servers->vs->Password());
        }
        client->ftp.SetPassive(passive);
        client->ftp.SetTransferType(binary ? ftBinary : ftASCII);
        client->ftp.Connect();
        return client;
    }

    ScratchDir local_;
};

std::string CaseName(bool passive, bool binary, size_t size) {
    return std::string(passive ? "pasv" : "port") + (binary ? "-bin-" : "-ascii-") +
           std::to_string(size);
}

TEST_P(TlsTransfer, SmallFilesUpAndDownInEveryMode) {
    for (bool passive : {true, false}) {
        for (bool binary : {true, false}) {
            auto client = Login(passive, binary);
            // ASCII content has our LF lines: they cross the wire as CR LF and come back as
            // LF, whether the server stores them converted or as sent.
            for (const std::string& content :
                 {std::string(), binary ? std::string("\x8f") : std::string("line one\n")}) {
                const std::string name = CaseName(passive, binary, content.size());
                SCOPED_TRACE(name);
                const std::string source = local_ / (name + ".up");
                const std::string back = local_ / (name + ".down");
                WriteFileBytes(source, content);
                ASSERT_NO_THROW(client->ftp.UploadFile(source, name, false));
                if (binary) {
                    EXPECT_EQ(ReadFileBytes(ServerPath(name)), content);
                }
                ASSERT_NO_THROW(client->ftp.DownloadFile(name, back, true, false));
                EXPECT_EQ(ReadFileBytes(back), content);
            }
            EXPECT_EQ(client->CipherReports(), 1 + 4) << "control plus one per data connection";
            client->ftp.Disconnect();
        }
    }
}

TEST_P(TlsTransfer, FiftyMegabytesOfRandomBytesBothWays) {
    const uint64_t size = 50ull * 1024 * 1024;
    const std::string source = local_ / "big.up";
    const std::string back = local_ / "big.down";
    WriteRandomFile(source, size, 42);
    const std::string expected = Sha256OfFile(source);
    auto client = Login(true, true);
    ASSERT_NO_THROW(client->ftp.UploadFile(source, "big.bin", false));
    EXPECT_EQ(Sha256OfFile(ServerPath("big.bin")), expected);
    ASSERT_NO_THROW(client->ftp.DownloadFile("big.bin", back, true, false));
    EXPECT_EQ(Sha256OfFile(back), expected);
    EXPECT_EQ(client->CipherReports(), 3);
    client->ftp.Disconnect();
}

TEST_P(TlsTransfer, ListingOverTlsInBothModes) {
    WriteFileBytes(ServerPath("listed-a.txt"), "12345");
    WriteFileBytes(ServerPath("listed-b.txt"), std::string(70000, 'b'));
    for (bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        auto client = Login(passive, true);
        std::vector<std::string> lines;
        ASSERT_NO_THROW(client->ftp.ListDirectory(&lines, "", true));
        EXPECT_EQ(client->ftp.UsingMLSD(), IsPy()) << "pyftpdlib offers MLST, vsftpd does not";
        TIdFTPListItems& entries = client->ftp.DirectoryEntries();
        int64_t sizeA = -1, sizeB = -1;
        for (size_t i = 0; i < entries.Count(); ++i) {
            if (entries[i].Name() == "listed-a.txt")
                sizeA = entries[i].ByteSize();
            if (entries[i].Name() == "listed-b.txt")
                sizeB = entries[i].ByteSize();
        }
        EXPECT_EQ(sizeA, 5) << ::testing::PrintToString(lines);
        EXPECT_EQ(sizeB, 70000);
        EXPECT_EQ(client->CipherReports(), 2);
        client->ftp.Disconnect();
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsTransfer,
                         ::testing::Values(ServerKind::PyFtpd, ServerKind::Vsftpd),
                         [](const auto& info) {
                             return std::string(info.param == ServerKind::PyFtpd ? "Pyftpdlib"
                                                                                 : "Vsftpd");
                         });

} // namespace
