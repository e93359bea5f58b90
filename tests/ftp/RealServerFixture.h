#pragma once
// A real FTP server on 127.0.0.1 over a fresh root folder the test can look into, and the
// transfer modes the round-trip test runs in.
#include "FtpTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace ftptest {

class RealServer {
public:
    RealServer() { std::filesystem::permissions(root_.Path(), std::filesystem::perms::all); }
    virtual ~RealServer() = default;
    std::unique_ptr<TIdFTP> Client(bool passive, TIdFTPTransferType type) const {
        auto client = MakeClient(port, nullptr, passive);
        client->SetUsername(user);
        client->SetPassword(password);
        client->SetTransferType(type);
        client->SetReadTimeout(20000);
        return client;
    }
    const std::string& Root() const { return root_.Path(); }
    std::string RemoteFile(const std::string& name) const { return root_.File(name); }
    virtual bool OffersMachineListings() const = 0;
    // In ASCII mode: keeps the CR LF line ends it received (else it stores LF).
    virtual bool StoresAsciiAsSent() const = 0;

    uint16_t port = 0;
    std::string user, password;

private:
    TempDir root_;
};

using RealServerStarter = std::unique_ptr<RealServer> (*)();

struct TransferMode {
    const char* server;
    RealServerStarter start;
    bool passive;
    TIdFTPTransferType type;
};

inline std::string TransferModeName(const ::testing::TestParamInfo<TransferMode>& info) {
    return std::string(info.param.server) + (info.param.passive ? "Passive" : "Active") +
           (info.param.type == ftBinary ? "Binary" : "Ascii");
}

class RealServerTransfer : public ::testing::TestWithParam<TransferMode> {};

} // namespace ftptest
