// Subfolders on import against pyftpdlib, vsftpd and OpenSSH's sshd on 127.0.0.1: the tree below
// the remote folder arrives under the same relative paths (through the staging folder too), down to
// MaxDepth; a name in two folders is two files; a folder made during the run is picked up;
// files are deleted on the server but folders never are.
#include "ImportTestSupport.h"

#include "import/MonitorFTPUnit.h"
#include "servers/PrivateHome.h"
#include "servers/RealServers.h"
#include "servers/SshdServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

using namespace importtest;

namespace {

namespace stdfs = std::filesystem;

enum class Kind { PyFtpd, Vsftpd, Sftp };

class ImportTreeRealServer : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (GetParam() != Kind::Sftp)
            return;
        if (const std::string why = testsrv::SshdServer::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        home = std::make_unique<testsrv::PrivateHome>(scratch.root);
    }
    void StartServer() {
        if (GetParam() == Kind::Sftp) {
            sshd =
                std::make_unique<testsrv::SshdServer>(testsrv::SshdOptions{.root = scratch.server});
            config = LocalServerConfig(scratch, sshd->Port(), sshd->User(), sshd->Password());
            config.Protocol = "SFTP";
        } else if (GetParam() == Kind::PyFtpd) {
            testsrv::PyFtpdOptions options;
            options.root = scratch.server;
            pyftpd = std::make_unique<testsrv::PyFtpdServer>(options);
            config = LocalServerConfig(scratch, pyftpd->Port(), options.user, options.password);
        } else {
            vsftpd =
                std::make_unique<testsrv::VsftpdServer>(testsrv::VsftpdOptions{scratch.server});
            config = LocalServerConfig(scratch, vsftpd->Port(), vsftpd->User(), vsftpd->Password());
        }
    }
    // Folders open to the server's account, so it may delete the files in them.
    void Put(const std::string& path, const std::string& bytes) {
        const stdfs::path full = scratch.server + "/" + path;
        stdfs::path folder = scratch.server;
        for (const auto& part : stdfs::path(path).parent_path()) {
            folder /= part;
            ::mkdir(folder.c_str(), 0777);
            ::chmod(folder.c_str(), 0777);
        }
        WriteFile(full.string(), bytes);
    }
    // Every file below `root`, as relative paths.
    static std::vector<std::string> FilesBelow(const std::string& root) {
        std::vector<std::string> files;
        for (const auto& entry : stdfs::recursive_directory_iterator(root))
            if (entry.is_regular_file())
                files.push_back(stdfs::relative(entry.path(), root).string());
        std::sort(files.begin(), files.end());
        return files;
    }

    Scratch scratch;
    Recorder log;
    RConfiguration config;
    std::unique_ptr<testsrv::PyFtpdServer> pyftpd;
    std::unique_ptr<testsrv::VsftpdServer> vsftpd;
    std::unique_ptr<testsrv::PrivateHome> home;
    std::unique_ptr<testsrv::SshdServer> sshd;
};

TEST_P(ImportTreeRealServer, TreeArrivesUnderTheSamePathsDownToMaxDepth) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"top.txt", Payload(100, 1)},
        {"a/one.txt", Payload(2000, 2)},
        {"a/same.txt", Payload(300, 3)},
        {"b/same.txt", Payload(301, 4)}, // the same name in another folder is another file
        {"a/deep/two.txt", Payload(400, 5)},
        {"a/deep/deeper/three.txt", Payload(500, 6)}, // below MaxDepth
        {"a/skip.log", "log"},                        // excluded by its path
        {".hidden/x.txt", "x"},
        {"a/.h.txt", "h"},
    };
    for (const auto& [path, bytes] : files)
        Put(path, bytes);
    StartServer();
    config.Recursive = true;
    config.MaxDepth = 2;
    config.MoveDelete = true;
    config.FirstToTemp = true;
    config.Exclude = "**.log";
    const std::vector<std::string> fetched = {"a/deep/two.txt", "a/one.txt", "a/same.txt",
                                              "b/same.txt", "top.txt"};

    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    monitor.Checker().PollCycle();
    EXPECT_EQ(log.CountColour(clRed), 0u);
    EXPECT_TRUE(log.boxes.empty());
    EXPECT_EQ(FilesBelow(scratch.local), fetched);
    for (const auto& [path, bytes] : files) {
        if (std::find(fetched.begin(), fetched.end(), path) != fetched.end()) {
            EXPECT_TRUE(ReadFile(scratch.local + "/" + path) == bytes) << path;
        }
    }
    EXPECT_EQ(FilesBelow(scratch.temp), std::vector<std::string>{});
    // Fetched files went from the server, its folders stayed, the rest is untouched.
    EXPECT_EQ(FilesBelow(scratch.server),
              (std::vector<std::string>{".hidden/x.txt", "a/.h.txt", "a/deep/deeper/three.txt",
                                        "a/skip.log"}));
    for (const char* folder : {"a", "b", "a/deep"})
        EXPECT_TRUE(stdfs::is_directory(scratch.server + "/" + folder)) << folder;
    EXPECT_EQ(log.Count("Import > File \"a/skip.log\" is not fetched: excluded by **.log."), 1u);
    std::vector<std::string> registered =
        TDownloadedFilesRegister::SplitLines(ReadFile(scratch.registerPath));
    std::sort(registered.begin(), registered.end());
    EXPECT_EQ(registered, fetched);

    // A folder made while the monitor runs, and a file put again where one was fetched.
    Put("c/new/inner.txt", "new");
    Put("a/one.txt", "again");
    log.lines.clear();
    monitor.Checker().PollCycle();
    EXPECT_EQ(ReadFile(scratch.local + "/c/new/inner.txt"), "new");
    EXPECT_EQ(log.Count("Import > Getting file \"c/new/inner.txt\" done"), 1u);
    EXPECT_EQ(log.Count("Getting file \"a/one.txt\""), 0u); // registered under its path
    EXPECT_EQ(log.CountColour(clRed), 0u);
}

std::string ServerName(const ::testing::TestParamInfo<Kind>& info) {
    switch (info.param) {
    case Kind::PyFtpd:
        return "PyFtpd";
    case Kind::Vsftpd:
        return "Vsftpd";
    case Kind::Sftp:
        break;
    }
    return "Sftp";
}

INSTANTIATE_TEST_SUITE_P(Servers, ImportTreeRealServer,
                         ::testing::Values(Kind::PyFtpd, Kind::Vsftpd, Kind::Sftp), ServerName);

} // namespace
