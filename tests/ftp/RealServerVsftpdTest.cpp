// The round trip against vsftpd: LIST listings in Unix format, a second real server.
#include "RealServerFixture.h"
#include "ftp/IdExceptions.h"
#include "servers/RealServers.h"

using namespace ftptest;

namespace {

class VsftpdRealServer : public RealServer {
public:
    VsftpdRealServer() {
        testsrv::VsftpdOptions options;
        options.root = Root();
        server = std::make_unique<testsrv::VsftpdServer>(options);
        port = server->Port();
        user = server->User();
        password = server->Password();
    }
    bool OffersMachineListings() const override { return false; }
    bool StoresAsciiAsSent() const override { return true; }
    std::unique_ptr<testsrv::VsftpdServer> server;
};

std::unique_ptr<RealServer> StartVsftpd() {
    return std::make_unique<VsftpdRealServer>();
}

TEST(RealServerSession, VsftpdLoginAndSystem) {
    VsftpdRealServer server;
    auto client = server.Client(true, ftBinary);
    client->Connect();
    EXPECT_EQ(client->SystemDescription(), "UNIX Type: L8");
    EXPECT_FALSE(client->QueryCurrentDirectory().empty());
    client->Disconnect();
    client->SetPassword("wrong");
    EXPECT_THROW(client->Connect(), EIdReplyRFCError);
    EXPECT_FALSE(client->IsConnected());
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Vsftpd, RealServerTransfer,
                         ::testing::Values(TransferMode{"Vsftpd", StartVsftpd, true, ftBinary},
                                           TransferMode{"Vsftpd", StartVsftpd, false, ftBinary},
                                           TransferMode{"Vsftpd", StartVsftpd, false, ftASCII}),
                         TransferModeName);
