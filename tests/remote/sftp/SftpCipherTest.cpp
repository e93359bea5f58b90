// The cipher a connection gets: the fastest one both ends share, and never one outside
// OpenSSH's default set, whatever the server would accept.
#include "SftpTestSupport.h"

#include "remote/sftp/SshCiphers.h"

#include <algorithm>
#include <sstream>

using namespace tavrin::sftp;

namespace {

std::vector<std::string> Split(const std::string& list) {
    std::vector<std::string> names;
    std::stringstream in(list);
    for (std::string name; std::getline(in, name, ',');)
        names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

class SftpCiphers : public sftptest::SftpTest {};

TEST_F(SftpCiphers, TheFastestSharedCipherAndNeverAWeakerOne) {
    const std::string fastest =
        AesInHardware() ? "aes128-gcm@openssh.com" : "chacha20-poly1305@openssh.com";
    struct Row {
        std::string serverConfig;
        std::string cipher; // "" when the connection must be refused
    };
    const std::vector<Row> rows = {
        {"", fastest},
        {"Ciphers chacha20-poly1305@openssh.com\n", "chacha20-poly1305@openssh.com"},
        {"Ciphers aes256-gcm@openssh.com\n", "aes256-gcm@openssh.com"},
        {"Ciphers aes192-ctr\nMACs hmac-sha2-256-etm@openssh.com\n", "aes192-ctr"},
        // CBC modes are outside OpenSSH's defaults: a server offering nothing else is refused.
        {"Ciphers aes128-cbc,aes256-cbc\n", ""},
    };
    testsrv::WriteWholeFile(root_ + "/file", sftptest::Pattern(1 << 20));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.serverConfig);
        testsrv::SshdServer server({.root = root_, .extraConfig = row.serverConfig});
        TSftpSession session;
        if (row.cipher.empty()) {
            EXPECT_THROW(session.Connect(SettingsFor(server)), ESftpError);
            continue;
        }
        session.Connect(SettingsFor(server));
        EXPECT_EQ(session.Cipher(), row.cipher);
        session.Download("file", dir_ + "/back");
        EXPECT_EQ(sftptest::FileSha256(dir_ + "/back"), sftptest::FileSha256(root_ + "/file"));
    }
    // Either processor gets the same set, in its own order.
    EXPECT_EQ(Split(PreferredCiphers(true)), Split(PreferredCiphers(false)));
    EXPECT_EQ(Split(PreferredCiphers(true)),
              Split("chacha20-poly1305@openssh.com,aes128-ctr,aes192-ctr,aes256-ctr,"
                    "aes128-gcm@openssh.com,aes256-gcm@openssh.com"));
}

} // namespace
