#pragma once
// Shared by the SFTP tests: a private HOME and XDG_STATE_HOME per test (so no known_hosts
// of the user is read or written), settings for a test sshd, and file helpers.
#include "remote/sftp/SftpSession.h"
#include "servers/ChildProcess.h"
#include "servers/SshdServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace sftptest {

class SftpTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = testsrv::SshdServer::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        dir_ = testsrv::MakeTempDir("tavrin-sftp-test-");
        home_ = dir_ + "/home";
        std::filesystem::create_directories(home_ + "/.ssh");
        ::setenv("HOME", home_.c_str(), 1);
        ::setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
        root_ = dir_ + "/root";
        std::filesystem::create_directories(root_);
    }
    void TearDown() override {
        std::error_code ignored;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ignored);
    }

    tavrin::sftp::TSftpSettings SettingsFor(const testsrv::SshdServer& server) const {
        tavrin::sftp::TSftpSettings s;
        s.Host = "127.0.0.1";
        s.Port = server.Port();
        s.Username = server.User();
        s.Password = server.Password();
        s.UserKnownHosts = tavrin::sftp::DefaultUserKnownHosts();
        s.OwnKnownHosts = tavrin::sftp::DefaultOwnKnownHosts();
        s.ConnectTimeoutSeconds = 20;
        return s;
    }
    std::string Where(const testsrv::SshdServer& server) const {
        return "127.0.0.1:" + std::to_string(server.Port());
    }

    std::string dir_, home_, root_;
};

// Bytes that differ at every offset of a block, so a misplaced block shows.
inline std::string Pattern(size_t size) {
    std::string data(size, '\0');
    uint32_t x = static_cast<uint32_t>(size) * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<char>(x >> 24);
    }
    return data;
}

// SHA-256 of a file, in hex ("" when unreadable).
std::string FileSha256(const std::string& path);

} // namespace sftptest
