// Plain FTP against real servers started on 127.0.0.1: every transfer checked byte for byte,
// listings, delete and rename. This file holds the round trip and pyftpdlib (MLSD listings).
#include "RealServerFixture.h"
#include "ftp/IdExceptions.h"
#include "ftp/listing/IdFTPList.h"
#include "servers/RealServers.h"

#include <algorithm>
#include <chrono>
#include <thread>

using namespace ftptest;
using Lines = std::vector<std::string>;

namespace {

class PyFtpdRealServer : public RealServer {
public:
    PyFtpdRealServer() {
        testsrv::PyFtpdOptions options;
        options.root = Root();
        server = std::make_unique<testsrv::PyFtpdServer>(options);
        port = server->Port();
        user = options.user;
        password = options.password;
    }
    bool OffersMachineListings() const override { return true; }
    bool StoresAsciiAsSent() const override { return false; }
    std::unique_ptr<testsrv::PyFtpdServer> server;
};

std::unique_ptr<RealServer> StartPyFtpd() {
    return std::make_unique<PyFtpdRealServer>();
}

} // namespace

TEST_P(RealServerTransfer, RoundTripsListingsDeleteAndRename) {
    const TransferMode mode = GetParam();
    std::unique_ptr<RealServer> server = mode.start();
    auto client = server->Client(mode.passive, mode.type);
    client->Connect();
    EXPECT_NE(client->SystemDescription().find("UNIX"), std::string::npos);
    EXPECT_EQ(client->UsingMLSD(), server->OffersMachineListings());

    // In ASCII mode lines go over the wire with CR LF and come back with LF; a server
    // either stores LF (it converts) or the CR LF it received.
    struct File {
        std::string name, bytes, stored, back;
    };
    std::vector<File> files = {{"empty.bin", "", "", ""}, {"one.bin", "x", "x", "x"}};
    if (mode.type == ftBinary) {
        const std::string big = RandomBytes(50 * 1000 * 1000, 7);
        files.push_back({"big.bin", big, big, big});
    } else {
        const std::string lf = "line one\nline two\n\nlast\n";
        const std::string crlf = "line one\r\nline two\r\n\r\nlast\r\n";
        const std::string stored = server->StoresAsciiAsSent() ? crlf : lf;
        files.push_back({"text.txt", lf, stored, lf});
        files.push_back({"dos.txt", crlf, stored, lf});
        files.push_back({"cr.txt", "a\rb", "a\rb", "a\rb"});
    }

    TempDir local;
    for (const File& file : files) {
        SCOPED_TRACE(file.name);
        WriteWholeFile(local.File(file.name), file.bytes);
        client->UploadFile(local.File(file.name), file.name, false);
        EXPECT_TRUE(ReadWholeFile(server->RemoteFile(file.name)) == file.stored);
        client->DownloadFile(file.name, local.File(file.name + ".back"), true, false);
        EXPECT_TRUE(ReadWholeFile(local.File(file.name + ".back")) == file.back);
    }

    client->ListDirectory(nullptr, "", true);
    TIdFTPListItems& entries = client->DirectoryEntries();
    Lines names;
    for (size_t i = 0; i < entries.Count(); ++i) {
        if (entries[i].Kind() == ekFile)
            names.push_back(entries[i].Name());
        if (entries[i].Name() == "one.bin") {
            EXPECT_EQ(entries[i].ByteSize(), 1);
        }
    }
    std::sort(names.begin(), names.end());
    Lines expected;
    for (const auto& file : files)
        expected.push_back(file.name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(client->TransferType(), mode.type);

    client->RenameRemoteFile("one.bin", "renamed.bin");
    EXPECT_EQ(ReadWholeFile(server->RemoteFile("renamed.bin")), "x");
    client->DeleteRemoteFile("renamed.bin");
    EXPECT_FALSE(std::filesystem::exists(server->RemoteFile("renamed.bin")));
    EXPECT_THROW(client->DeleteRemoteFile("renamed.bin"), EIdReplyRFCError);
    EXPECT_THROW(client->DownloadFile("renamed.bin", local.File("gone"), true, false),
                 EIdReplyRFCError);
    EXPECT_EQ(client->SendNoop(), 200); // the session survives the refusals
    client->Disconnect();
}

INSTANTIATE_TEST_SUITE_P(PyFtpd, RealServerTransfer,
                         ::testing::Values(TransferMode{"PyFtpd", StartPyFtpd, true, ftBinary},
                                           TransferMode{"PyFtpd", StartPyFtpd, false, ftBinary},
                                           TransferMode{"PyFtpd", StartPyFtpd, true, ftASCII}),
                         TransferModeName);

TEST(RealServerSession, PyFtpdSeesTheLoginSequence) {
    PyFtpdRealServer server;
    auto client = server.Client(true, ftBinary);
    client->Connect();
    EXPECT_EQ(client->SystemDescription(), "UNIX Type: L8");
    EXPECT_EQ(client->QueryCurrentDirectory(), "/");
    client->Disconnect();
    const Lines expected{"USER " + server.user,
                         "PASS " + server.password,
                         "FEAT",
                         "OPTS UTF8 ON",
                         "TYPE I",
                         "SYST",
                         "PWD",
                         "QUIT"};
    Lines seen;
    // The server writes its log from its own process; poll it, bounded.
    for (int attempt = 0; attempt < 100 && seen.size() < expected.size(); ++attempt) {
        seen = server.server->Commands();
        if (seen.size() < expected.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(seen, expected);
}

TEST(RealServerSession, WrongPasswordFailsAndDisconnects) {
    PyFtpdRealServer server;
    auto client = server.Client(true, ftBinary);
    client->SetPassword("wrong");
    EXPECT_THROW(client->Connect(), EIdReplyRFCError);
    EXPECT_FALSE(client->IsConnected());
}
