// Every export cycle over SFTP ends its SSH connection: after a run of uploads the process
// holds no more sockets than before and sshd has no session left, while the monitor still
// runs (a service keeps it for days).
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/ChildProcess.h"
#include "servers/PrivateHome.h"
#include "servers/SshdServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace stdfs = std::filesystem;

size_t OpenSockets() {
    size_t count = 0;
    for (const auto& entry : stdfs::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        const stdfs::path target = stdfs::read_symlink(entry.path(), ignored);
        if (!ignored && target.string().rfind("socket:", 0) == 0)
            ++count;
    }
    return count;
}

TEST(ExportSftpConnections, EachUploadLeavesNoSocketAndNoServerSessionBehind) {
    if (const std::string why = testsrv::SshdServer::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    exporttest::LogSwitchesSetTo switches{true};
    exporttest::TestFolder folder;
    folder.LetServersIn();
    testsrv::PrivateHome home(folder.Root());
    const std::string remote = folder.Root() + "/server";
    stdfs::create_directories(remote + "/in");
    testsrv::SshdServer sshd(testsrv::SshdOptions{.root = remote});

    RConfiguration config;
    config.Protocol = "SFTP";
    config.LocalFolder = folder.Watched();
    config.Host = "127.0.0.1";
    config.Port = std::to_string(sshd.Port());
    config.Username = sshd.User();
    config.Password = sshd.Password();
    config.BinaryMode = true;
    config.RemoteFolder = "in";
    config.SettleTime = 0;

    const size_t socketsBefore = OpenSockets();
    exporttest::LogCapture log;
    TFolderMonitor monitor(config, log.Sink());
    constexpr size_t kFiles = 6;
    for (size_t i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        folder.Write(name, "content " + std::to_string(i));
        // One at a time, so each cycle's connection is its own.
        ASSERT_TRUE(log.WaitFor("\" done", 60s, i + 1)) << log.Dump();
    }
    // The last cycle may still be letting go of its session: wait for it, bounded.
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end &&
           (OpenSockets() > socketsBefore || !testsrv::DescendantsOf(sshd.Pid()).empty()))
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(OpenSockets(), socketsBefore);
    EXPECT_TRUE(testsrv::DescendantsOf(sshd.Pid()).empty())
        << testsrv::DescendantsOf(sshd.Pid()).size() << " sshd session processes remain";
    for (size_t i = 0; i < kFiles; ++i)
        EXPECT_TRUE(stdfs::exists(remote + "/in/f" + std::to_string(i) + ".txt")) << i;
}

} // namespace
