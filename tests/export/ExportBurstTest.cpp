// Bursts of files against real servers over FTP, FTPS and SFTP, one connection or four, each
// file logging in or the connections kept: every file arrives whole and once, every local file
// is moved, kept connections log in far less often than there are files and say goodbye once
// idle. A kept connection the server has dropped costs no file.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "ExportTestServers.h"
#include "export/FolderMonitorUnit.h"
#include "servers/PrivateHome.h"
#include "servers/RealServers.h"
#include "servers/ScriptedFtpServer.h"
#include "servers/SshdServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogSwitchesSetTo;
using exporttest::RandomBytes;
using exporttest::TestFolder;
namespace stdfs = std::filesystem;

enum class Protocol { Ftp, Ftps, Sftp };

struct BurstCase {
    const char* label;
    Protocol protocol;
    bool keep;
    int connections;
};

// How each file's progress ended, from any thread.
class Outcomes {
public:
    TProgressEvent Sink() {
        return [this](const TTransferProgress& report) {
            if (report.phase == TTransferPhase::Moving)
                return;
            std::lock_guard lock(mutex_);
            (report.phase == TTransferPhase::Done ? done_ : failed_)[report.file]++;
        };
    }
    std::map<std::string, int> Done() const {
        std::lock_guard lock(mutex_);
        return done_;
    }
    std::map<std::string, int> Failed() const {
        std::lock_guard lock(mutex_);
        return failed_;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, int> done_, failed_;
};

// The server of a case, serving `remote` (which holds "in" and "tmp") as its login folder.
exporttest::TestServer ServerFor(Protocol protocol, const std::string& remote) {
    using exporttest::ServerKind;
    if (protocol == Protocol::Sftp)
        return exporttest::TestServer(ServerKind::Sshd, remote);
    return exporttest::TestServer(ServerKind::Pyftpd, remote, protocol == Protocol::Ftps);
}

class ExportBurst : public ::testing::TestWithParam<BurstCase> {};

TEST_P(ExportBurst, EveryFileArrivesOnceWholeAndKeptConnectionsLogInLessAndLeaveWhenIdle) {
    const BurstCase& which = GetParam();
    if (which.protocol == Protocol::Sftp)
        if (const std::string why = testsrv::SshdServer::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
    LogSwitchesSetTo switches{true};
    TestFolder folder;
    folder.LetServersIn();
    testsrv::PrivateHome home(folder.Root());
    const std::string remote = folder.Root() + "/server";
    stdfs::create_directories(remote + "/in");
    stdfs::create_directories(remote + "/tmp");
    exporttest::TestServer server = ServerFor(which.protocol, remote);

    RConfiguration config = server.Config();
    config.LocalFolder = folder.Watched();
    config.RemoteFolder = "in";
    config.FirstToTemp = true;
    config.TempFolder = "tmp";
    config.MoveDelete = true;
    config.MoveToFolder = folder.Root() + "/sent";
    config.SettleTime = 0;
    config.KeepConnection = which.keep;
    config.Connections = which.connections;

    // 40 small files and one large, each made outside and moved in whole.
    std::map<std::string, std::string> files;
    for (int i = 0; i < 40; ++i)
        files["small" + std::to_string(i) + ".bin"] = RandomBytes(100 + 37 * i, i);
    files["large.bin"] = RandomBytes(5 * 1024 * 1024, 99);

    LogCapture log;
    Outcomes outcomes;
    {
        TFolderMonitor monitor(config, log.Sink(), {}, {}, outcomes.Sink(), 1500ms);
        ASSERT_TRUE(monitor.Watching());
        for (const auto& [name, content] : files) {
            TestFolder::Write(name, content, folder.Outside());
            stdfs::rename(folder.Outside() + "/" + name, folder.Watched() + "/" + name);
        }
        ASSERT_TRUE(log.WaitFor("\" done", 240s, files.size())) << log.Dump();
        // Kept connections say goodbye once idle; each ends as it began.
        if (which.keep) {
            EXPECT_TRUE(log.WaitFor("> Disconnected.", 20s, log.Count("> Connected.")))
                << log.Dump();
        }
        const size_t logins = log.Count("> Connected.");
        if (which.keep) {
            EXPECT_LT(logins, files.size() / 4) << log.Dump();
        } else {
            EXPECT_EQ(logins, files.size());
        }
        if (auto seen = server.Logins()) {
            EXPECT_EQ(*seen, logins);
        }
    }

    std::set<std::string> arrived;
    for (const auto& entry : stdfs::directory_iterator(remote + "/in"))
        arrived.insert(entry.path().filename());
    EXPECT_EQ(arrived.size(), files.size());
    for (const auto& [name, content] : files) {
        EXPECT_EQ(TestFolder::Read(remote + "/in/" + name), content) << name;
        EXPECT_TRUE(stdfs::exists(config.MoveToFolder + "/" + name)) << name;
        EXPECT_EQ(outcomes.Done()[name], 1) << name;
        EXPECT_EQ(log.Count("Uploading file \"" + folder.Watched() + "/" + name + "\" done"), 1u)
            << name;
    }
    EXPECT_TRUE(stdfs::is_empty(folder.Watched()));
    EXPECT_TRUE(stdfs::is_empty(remote + "/tmp"));
    EXPECT_TRUE(outcomes.Failed().empty());
}

std::vector<BurstCase> BurstCases() {
    std::vector<BurstCase> cases;
    const std::pair<const char*, Protocol> protocols[] = {
        {"Ftp", Protocol::Ftp}, {"Ftps", Protocol::Ftps}, {"Sftp", Protocol::Sftp}};
    for (const auto& [name, protocol] : protocols)
        for (bool keep : {false, true})
            for (int connections : {1, 4})
                cases.push_back({name, protocol, keep, connections});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ProtocolsKeptAndParallel, ExportBurst, ::testing::ValuesIn(BurstCases()),
                         [](const auto& info) {
                             return std::string(info.param.label) +
                                    (info.param.keep ? "Kept" : "PerFile") +
                                    std::to_string(info.param.connections);
                         });

// A kept connection whose server restarts between two files: the next file logs in afresh
// and arrives, and no file fails on the way.
TEST(ExportKeptRestart, TheFileAfterAServerRestartLogsInAfreshAndArrives) {
    for (const Protocol protocol : {Protocol::Ftp, Protocol::Ftps}) {
        SCOPED_TRACE(protocol == Protocol::Ftp ? "FTP" : "FTPS");
        LogSwitchesSetTo switches{true};
        TestFolder folder;
        const std::string remote = folder.Root() + "/remote";
        stdfs::create_directories(remote + "/in");
        exporttest::TestServer server = ServerFor(protocol, remote);
        RConfiguration config = server.Config();
        config.LocalFolder = folder.Watched();
        config.RemoteFolder = "in";
        config.SettleTime = 0;
        config.KeepConnection = true;
        LogCapture log;
        TFolderMonitor monitor(config, log.Sink());
        folder.Write("before.txt", "sent before the restart");
        ASSERT_TRUE(log.WaitFor("\" done", 20s, 1)) << log.Dump();
        server.Restart();
        folder.Write("after.txt", "sent after the restart");
        ASSERT_TRUE(log.WaitFor("\" done", 20s, 2)) << log.Dump();
        EXPECT_EQ(TestFolder::Read(remote + "/in/before.txt"), "sent before the restart");
        EXPECT_EQ(TestFolder::Read(remote + "/in/after.txt"), "sent after the restart");
        EXPECT_EQ(server.Logins(), 1u); // the restarted server's log: one fresh login
        for (const auto& line : log.Lines())
            EXPECT_NE(line.colour, clRed) << line.text;
    }
}

} // namespace
