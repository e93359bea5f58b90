// Remote folders given relative to the login folder, or not at all, against real servers:
// vsftpd starts the session in its root but shows the whole file system (so "/" is not the
// login folder), pyftpdlib starts it at its top folder. Every path of a cycle - the STOR, the
// rename out of the temporary folder - must land where the same path given to STOR lands.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogSwitchesSetTo;
using exporttest::TestFolder;
namespace stdfs = std::filesystem;

TEST(ExportRemoteFolderTest, RelativeAndEmptyFoldersResolveAgainstTheLoginFolder) {
    LogSwitchesSetTo switches(true);
    TestFolder folder;
    folder.LetServersIn();
    struct Server {
        const char* label;
        std::string root;
        uint16_t port;
        std::string user, password;
    };
    std::vector<Server> servers;
    for (const char* label : {"vsftpd", "pyftpdlib"}) {
        const std::string root = folder.Root() + "/" + label;
        for (const char* sub : {"", "/in", "/tmp"}) {
            stdfs::create_directory(root + sub);
            stdfs::permissions(root + sub, stdfs::perms::all);
        }
        servers.push_back({label, root, 0, "", ""});
    }
    testsrv::VsftpdServer vsftpd({servers[0].root, false, true});
    servers[0].port = vsftpd.Port();
    servers[0].user = vsftpd.User();
    servers[0].password = vsftpd.Password();
    testsrv::PyFtpdOptions pyOptions;
    pyOptions.root = servers[1].root;
    testsrv::PyFtpdServer pyftpd(pyOptions);
    servers[1].port = pyftpd.Port();
    servers[1].user = "tavrin";
    servers[1].password = "secret";

    const struct Row {
        const char* label;
        const char* remote;
        bool firstToTemp;
        const char* temp;
        const char* landsIn; // under the server's root (its login folder)
    } rows[] = {
        {"empty folder: bare name", "", false, "", ""},
        {"empty folder through the temporary folder", "", true, "tmp", ""},
        {"relative folder through the temporary folder", "in", true, "tmp", "/in"},
        {"relative folder through an empty temporary folder", "in", true, "", "/in"},
    };
    for (const Server& server : servers) {
        int number = 0;
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(server.label) + ": " + row.label);
            const std::string name = "row" + std::to_string(number++) + ".txt";
            RConfiguration config;
            config.LocalFolder = folder.Watched();
            config.Host = "127.0.0.1";
            config.Port = std::to_string(server.port);
            config.Username = server.user;
            config.Password = server.password;
            config.PassiveMode = true;
            config.BinaryMode = true;
            config.SettleTime = 0;
            config.RemoteFolder = row.remote;
            config.FirstToTemp = row.firstToTemp;
            config.TempFolder = row.temp;
            LogCapture log;
            {
                TFolderMonitor monitor(config, log.Sink());
                folder.Write(name, "content of " + name);
                ASSERT_TRUE(log.WaitForCycleEnd(30s)) << log.Dump();
            }
            EXPECT_EQ(log.Count("\" done"), 1u) << log.Dump();
            EXPECT_EQ(TestFolder::Read(server.root + row.landsIn + "/" + name),
                      "content of " + name);
            if (row.firstToTemp) {
                EXPECT_FALSE(stdfs::exists(server.root + "/" + row.temp + "/" + name));
            }
            stdfs::remove(folder.Watched() + "/" + name);
        }
    }
}

} // namespace
