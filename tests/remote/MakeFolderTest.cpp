// Making remote folders over each protocol against real servers: a new folder appears, one
// that exists or whose parent is missing is refused as a refusal (the session goes on), and
// a file can go into the new folder at once.
#include "config/CommonTypesUnit.h"
#include "remote/RemoteSession.h"
#include "servers/PrivateHome.h"
#include "servers/RealServers.h"
#include "servers/SshdServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using tavrin::remote::ERemoteRefused;
using tavrin::remote::TRemoteSession;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(RemoteMakeFolder, NewFolderIsMadeExistingOrOrphanIsRefusedAndSessionGoesOn) {
    enum class Server { Pyftpd, Vsftpd, Sshd };
    for (Server server : {Server::Pyftpd, Server::Vsftpd, Server::Sshd}) {
        SCOPED_TRACE(static_cast<int>(server));
        if (server == Server::Sshd && !testsrv::SshdServer::Unavailable().empty())
            continue;
        const std::string scratch = testsrv::MakeTempDir("tavrin-mkd-");
        // The SSH test account must reach the root through the scratch folder.
        fs::permissions(scratch, fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
        const std::string root = scratch + "/root";
        fs::create_directories(root + "/there");
        std::ofstream(scratch + "/f.txt") << "into the new folder";
        std::optional<testsrv::PrivateHome> home;
        std::unique_ptr<testsrv::PyFtpdServer> py;
        std::unique_ptr<testsrv::VsftpdServer> vs;
        std::unique_ptr<testsrv::SshdServer> sshd;
        RConfiguration config;
        config.Host = "127.0.0.1";
        config.PassiveMode = true;
        config.BinaryMode = true;
        if (server == Server::Pyftpd) {
            py = std::make_unique<testsrv::PyFtpdServer>(testsrv::PyFtpdOptions{.root = root});
            config.Port = std::to_string(py->Port());
            config.Username = "tavrin", config.Password = "secret";
        } else if (server == Server::Vsftpd) {
            testsrv::VsftpdOptions options;
            options.root = root;
            vs = std::make_unique<testsrv::VsftpdServer>(options);
            config.Port = std::to_string(vs->Port());
            config.Username = vs->User(), config.Password = vs->Password();
        } else {
            home.emplace(scratch);
            sshd = std::make_unique<testsrv::SshdServer>(testsrv::SshdOptions{.root = root});
            config.Protocol = "SFTP";
            config.Port = std::to_string(sshd->Port());
            config.Username = sshd->User(), config.Password = sshd->Password();
        }
        std::unique_ptr<TRemoteSession> session = tavrin::remote::MakeRemoteSession(config, {});
        session->SetReplyTimeout(20000);
        ASSERT_NO_THROW(session->Connect());

        ASSERT_NO_THROW(session->MakeFolder("new"));
        ASSERT_NO_THROW(session->MakeFolder(session->PathJoin("new", "deeper")));
        EXPECT_TRUE(fs::is_directory(root + "/new/deeper"));
        for (const char* refused : {"new", "there", "missing/child"}) {
            SCOPED_TRACE(refused);
            EXPECT_THROW(session->MakeFolder(refused), ERemoteRefused);
            EXPECT_TRUE(session->IsConnected());
        }
        EXPECT_FALSE(fs::exists(root + "/missing"));
        ASSERT_NO_THROW(session->Upload(scratch + "/f.txt", "new/deeper/f.txt"));
        EXPECT_EQ(Read(root + "/new/deeper/f.txt"), "into the new folder");
        session->Close(true);
        session.reset();
        py.reset(), vs.reset(), sshd.reset();
        std::error_code ignored;
        fs::remove_all(scratch, ignored);
    }
}

} // namespace
