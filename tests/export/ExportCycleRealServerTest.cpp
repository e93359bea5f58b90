// The export monitor against real servers on 127.0.0.1, plain and over TLS: what arrives on
// the server, what happens to the local file, and what the activity log shows.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogLine;
using exporttest::LogSwitchesSetTo;
using exporttest::RandomBytes;
using exporttest::TestFolder;
namespace stdfs = std::filesystem;

struct ServerCase {
    const char* label;
    bool vsftpd;
    bool tls;
    bool passive;
};

const ServerCase kServers[] = {
    {"PyFtpdPlainPassive", false, false, true},
    {"PyFtpdTlsPassive", false, true, true},
    {"VsftpdPlainActive", true, false, false},
    {"VsftpdTlsPassive", true, true, true},
};

// One server of the case, serving `root` as its top folder.
class RealServer {
public:
    RealServer(const ServerCase& which, const std::string& root) {
        if (which.vsftpd) {
            // vsftpd starts the session in `root` but shows the whole file system.
            prefix_ = root;
            vsftpd_.emplace(testsrv::VsftpdOptions{root, which.tls, true});
            port_ = vsftpd_->Port();
            user_ = vsftpd_->User();
            password_ = vsftpd_->Password();
        } else {
            testsrv::PyFtpdOptions options;
            options.root = root;
            options.tls = which.tls;
            pyftpd_.emplace(options);
            port_ = pyftpd_->Port();
            user_ = options.user;
            password_ = options.password;
        }
    }
    uint16_t Port() const { return port_; }
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }
    // What the server's "/" + path is for a path under `root`.
    std::string Path(const std::string& underRoot) const { return prefix_ + underRoot; }
    // Logins the server saw, when it tells (pyftpdlib does).
    std::optional<size_t> Logins() const {
        if (!pyftpd_)
            return std::nullopt;
        auto commands = pyftpd_->Commands();
        return std::count_if(commands.begin(), commands.end(),
                             [](const std::string& line) { return line.rfind("USER ", 0) == 0; });
    }

private:
    std::optional<testsrv::VsftpdServer> vsftpd_;
    std::optional<testsrv::PyFtpdServer> pyftpd_;
    uint16_t port_ = 0;
    std::string user_, password_, prefix_;
};

class ExportRealServerTest : public ::testing::TestWithParam<ServerCase> {
protected:
    void SetUp() override {
        // The server may run as another account, which must reach its folder.
        folder.LetServersIn();
        remoteRoot = folder.Root() + "/server";
        for (const char* sub : {"", "/in", "/tmp"}) {
            stdfs::create_directory(remoteRoot + sub);
            stdfs::permissions(remoteRoot + sub, stdfs::perms::all);
        }
        server = std::make_unique<RealServer>(GetParam(), remoteRoot);
        config.LocalFolder = folder.Watched();
        config.Host = "127.0.0.1";
        config.Port = std::to_string(server->Port());
        config.Username = server->User();
        config.Password = server->Password();
        config.PassiveMode = GetParam().passive;
        config.BinaryMode = true;
        config.RemoteFolder = server->Path("/in");
        config.TempFolder = server->Path("/tmp");
        if (GetParam().tls) {
            const auto& certificates = testsrv::Certificates();
            config.SSL = true;
            config.SSLCertificate = certificates.clientCert;
            config.SSLKey = certificates.clientKey;
            config.SSLPass = certificates.clientKeyPassword;
        }
    }

    std::string Remote(const std::string& path) const {
        return TestFolder::Read(remoteRoot + path);
    }
    std::string LocalPathLine(const std::string& name, const std::string& tail = "") const {
        return "Export > Uploading file \"" + folder.Watched() + "/" + name + "\"" + tail;
    }

    LogSwitchesSetTo switches{true};
    TestFolder folder;
    std::string remoteRoot;
    std::unique_ptr<RealServer> server;
    RConfiguration config;
    LogCapture log;
};

TEST_P(ExportRealServerTest, DroppedFileArrivesWholeUnderRemoteFolder) {
    const std::string content = RandomBytes(1 << 20, 1);
    {
        TFolderMonitor monitor(config, log.Sink());
        folder.Write("a.bin", content);
        ASSERT_TRUE(log.WaitForCycleEnd(60s));
    }
    EXPECT_EQ(log.Count(LocalPathLine("a.bin", " done")), 1u);
    EXPECT_TRUE(Remote("/in/a.bin") == content) << "remote copy differs";
    EXPECT_TRUE(stdfs::exists(folder.Watched() + "/a.bin")); // MoveDelete is off
}

TEST_P(ExportRealServerTest, FirstToTempLandsInTempAndIsRenamedIntoPlace) {
    config.FirstToTemp = true;
    const std::string content = RandomBytes(100000, 2);
    {
        TFolderMonitor monitor(config, log.Sink());
        folder.Write("a.txt", content);
        ASSERT_TRUE(log.WaitForCycleEnd(60s));
    }
    EXPECT_EQ(log.Count(LocalPathLine("a.txt", " done")), 1u);
    EXPECT_TRUE(Remote("/in/a.txt") == content);
    EXPECT_FALSE(stdfs::exists(remoteRoot + "/tmp/a.txt"));
}

TEST_P(ExportRealServerTest, MoveDeleteMovesIntoACreatedFolderButNeverReplaces) {
    config.MoveDelete = true;
    config.MoveToFolder = folder.Root() + "/sent";
    TFolderMonitor monitor(config, log.Sink());
    folder.Write("a.txt", "first");
    ASSERT_TRUE(log.WaitForCycleEnd(60s));
    EXPECT_EQ(TestFolder::Read(config.MoveToFolder + "/a.txt"), "first");
    EXPECT_FALSE(stdfs::exists(folder.Watched() + "/a.txt"));

    TestFolder::Write("b.txt", "older", config.MoveToFolder);
    folder.Write("b.txt", "newer");
    ASSERT_TRUE(log.WaitFor(LocalPathLine("b.txt", " done"), 60s));
    EXPECT_EQ(Remote("/in/b.txt"), "newer");
    EXPECT_EQ(TestFolder::Read(config.MoveToFolder + "/b.txt"), "older");
    EXPECT_EQ(TestFolder::Read(folder.Watched() + "/b.txt"), "newer");
}

TEST_P(ExportRealServerTest, TenFilesDroppedAtOnceAllArriveOverOneConnectionEach) {
    TFolderMonitor monitor(config, log.Sink());
    for (int i = 0; i < 10; ++i)
        folder.Write("f" + std::to_string(i), RandomBytes(5000 + i, 10 + i));
    ASSERT_TRUE(log.WaitFor("\" done", 120s, 10)) << log.Count("not uploaded") << " failed";
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(Remote("/in/f" + std::to_string(i)) == RandomBytes(5000 + i, 10 + i)) << i;
    if (auto logins = server->Logins()) {
        EXPECT_EQ(*logins, 10u);
    }
}

TEST_P(ExportRealServerTest, RefusedLoginGivesTheRedLineAndItsReasonWithEverySwitchOff) {
    LogSwitchesSetTo off(false);
    config.Password = "wrong";
    {
        TFolderMonitor monitor(config, log.Sink());
        folder.Write("a.txt", "a");
        ASSERT_TRUE(log.WaitForCycleEnd(60s));
    }
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (LogLine{"Export > File a.txt not uploaded.", clRed}));
    EXPECT_EQ(lines[1].colour, clRed);
    EXPECT_GT(lines[1].text.size(), std::string("Export > ").size()) << "no reason given";
    EXPECT_TRUE(stdfs::exists(folder.Watched() + "/a.txt"));
}

TEST_P(ExportRealServerTest, SuccessfulCycleLogsItsLinesInOrderWithEverySwitchOn) {
    {
        TFolderMonitor monitor(config, log.Sink());
        folder.Write("a.txt", "a");
        ASSERT_TRUE(log.WaitForCycleEnd(60s));
    }
    const std::vector<LogLine> own = {
        {"Export > Monitor started", clMaroon}, {"Export > File a.txt ready for export.", clGreen},
        {LocalPathLine("a.txt"), clGreen},      {LocalPathLine("a.txt", " done"), clGreen},
        {"Export > Monitor closed", clMaroon},
    };
    EXPECT_EQ(log.WithoutStatusLines(), own);

    // Status lines of the client (and of the TLS handler) come between the transfer lines:
    // the connection and login before "Uploading", the transfer and QUIT after it.
    auto lines = log.Lines();
    auto at = [&](const LogLine& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    auto statusBetween = [&](long from, long to, TColor colour) {
        return std::count_if(lines.begin() + from, lines.begin() + to,
                             [&](const LogLine& line) { return line.colour == colour; });
    };
    long ready = at(own[1]), uploading = at(own[2]), done = at(own[3]);
    EXPECT_GT(statusBetween(ready, uploading, clHotLight), 0);
    EXPECT_GT(statusBetween(uploading, done, clHotLight), 0);
    if (GetParam().tls) {
        EXPECT_GT(statusBetween(ready, uploading, cl3DDkShadow), 0);
    }
    for (const LogLine& line : lines)
        EXPECT_EQ(line.text.rfind("Export > ", 0), 0u) << line.text;
}

TEST_P(ExportRealServerTest, StopDuringALargeUploadCutsItOffPromptlyAndTheFileStays) {
    const std::string content = RandomBytes(64 << 20, 3);
    folder.Write("big.bin", content, folder.Outside());
    std::chrono::steady_clock::duration stopping{};
    bool doneBeforeStop = false;
    {
        config.SettleTime = 0;
        std::optional<TFolderMonitor> monitor;
        monitor.emplace(config, log.Sink());
        // Moved in whole, so the cycle starts at once and uploads 64 MiB.
        stdfs::rename(folder.Outside() + "/big.bin", folder.Watched() + "/big.bin");
        ASSERT_TRUE(log.WaitFor(LocalPathLine("big.bin"), 60s));
        doneBeforeStop = log.Count("\" done") > 0;
        auto start = std::chrono::steady_clock::now();
        monitor.reset();
        stopping = std::chrono::steady_clock::now() - start;
    }
    if (doneBeforeStop || log.Count("\" done") > 0)
        GTEST_SKIP() << "the upload had ended before the stop was asked for";
    EXPECT_LT(stopping, 2s);
    EXPECT_EQ(log.Count("Export > File big.bin not uploaded."), 1u);
    EXPECT_EQ(log.Count("cut off because the monitor stopped"), 1u);
    EXPECT_TRUE(TestFolder::Read(folder.Watched() + "/big.bin") == content);
}

// The ways programs write files: appending in pieces with pauses, and writing under a
// temporary name then renaming. Each gives one upload, of the whole file, under its final
// name, and no red line.
TEST_P(ExportRealServerTest, AppendedAndRenamedFilesArriveOnceWholeUnderTheirFinalName) {
    config.SettleTime = 400;
    config.MoveDelete = true;
    config.MoveToFolder = folder.Root() + "/sent";
    const std::string pieces = RandomBytes(5 * 200000, 4);
    {
        TFolderMonitor monitor(config, log.Sink());
        for (int i = 0; i < 5; ++i) {
            std::ofstream(folder.Watched() + "/grow.bin", std::ios::binary | std::ios::app)
                << pieces.substr(i * 200000, 200000);
            std::this_thread::sleep_for(150ms); // shorter than the settle time
        }
        folder.Write(".x.tmp", "written under a temporary name", folder.Watched());
        stdfs::rename(folder.Watched() + "/.x.tmp", folder.Watched() + "/x");
        ASSERT_TRUE(log.WaitFor("\" done", 60s, 2)) << log.Dump();
        std::this_thread::sleep_for(600ms); // a second upload would start within the settle time
    }
    EXPECT_EQ(log.Count("\" done"), 2u);
    EXPECT_EQ(log.Count(" ready for export."), 2u);
    EXPECT_TRUE(Remote("/in/grow.bin") == pieces);
    EXPECT_EQ(Remote("/in/x"), "written under a temporary name");
    EXPECT_FALSE(stdfs::exists(remoteRoot + "/in/.x.tmp"));
    for (const LogLine& line : log.Lines())
        EXPECT_NE(line.colour, clRed) << line.text;
}

INSTANTIATE_TEST_SUITE_P(Servers, ExportRealServerTest, ::testing::ValuesIn(kServers),
                         [](const auto& info) { return std::string(info.param.label); });

} // namespace
