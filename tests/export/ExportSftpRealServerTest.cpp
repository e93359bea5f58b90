// The export monitor over SFTP against OpenSSH's sshd on 127.0.0.1: straight or through the
// temp folder and renamed into place, size checked, the local file moved; a lost session
// retried, a read-only folder reported, a stop cutting a large upload off.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/ChildProcess.h"
#include "servers/PrivateHome.h"
#include "servers/SshdServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogSwitchesSetTo;
using exporttest::RandomBytes;
using exporttest::TestFolder;
namespace stdfs = std::filesystem;

class ExportSftp : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = testsrv::SshdServer::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        folder_.LetServersIn();
        home_.emplace(folder_.Root());
        remote_ = folder_.Root() + "/server";
    }
    // A fresh server root with in/ and tmp/, and the settings aimed at it; `prepare` fills
    // the root before the server gets it.
    void StartServer(const std::function<void()>& prepare = {}) {
        sshd_.reset();
        stdfs::remove_all(remote_);
        stdfs::remove_all(folder_.Root() + "/xdg"); // each server has a host key of its own
        for (const char* sub : {"", "/in", "/tmp"})
            stdfs::create_directories(remote_ + sub);
        if (prepare)
            prepare();
        sshd_ = std::make_unique<testsrv::SshdServer>(testsrv::SshdOptions{.root = remote_});
        config_ = RConfiguration{};
        config_.Protocol = "SFTP";
        config_.LocalFolder = folder_.Watched();
        config_.Host = "127.0.0.1";
        config_.Port = std::to_string(sshd_->Port());
        config_.Username = sshd_->User();
        config_.Password = sshd_->Password();
        config_.BinaryMode = true;
        config_.RemoteFolder = "in"; // from the login folder, as over FTP
        config_.TempFolder = remote_ + "/tmp";
        config_.SettleTime = 0;
    }
    std::string Remote(const std::string& path) const { return TestFolder::Read(remote_ + path); }
    std::string DoneLine(const std::string& name) const {
        return "Export > Uploading file \"" + folder_.Watched() + "/" + name + "\" done";
    }

    LogSwitchesSetTo switches_{true};
    TestFolder folder_;
    std::optional<testsrv::PrivateHome> home_;
    std::string remote_;
    std::unique_ptr<testsrv::SshdServer> sshd_;
    RConfiguration config_;
};

TEST_F(ExportSftp, FilesArriveWholeUnderTheirFinalNameWithEachRule) {
    const std::vector<std::pair<std::string, size_t>> files = {
        {"empty", 0}, {"one", 1}, {"mebi.bin", 1 << 20}, {"fifty.bin", 50 << 20}};
    struct Row {
        const char* what;
        std::function<void(RConfiguration&)> set;
    } rows[] = {
        {"straight to the final name", [](RConfiguration&) {}},
        // The final name is already taken: the rename replaces it whole.
        {"temp folder, renamed over an older copy",
         [](RConfiguration& c) { c.FirstToTemp = true; }},
        {"local file moved afterwards",
         [this](RConfiguration& c) {
             c.MoveDelete = true;
             c.MoveToFolder = folder_.Root() + "/sent";
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        StartServer([&] {
            for (const auto& [name, size] : files)
                TestFolder::Write(name, "an older copy", remote_ + "/in");
        });
        row.set(config_);
        LogCapture log_;
        {
            TFolderMonitor monitor(config_, log_.Sink());
            for (size_t i = 0; i < files.size(); ++i)
                folder_.Write(files[i].first, RandomBytes(files[i].second, unsigned(i)));
            ASSERT_TRUE(log_.WaitFor("\" done", 120s, files.size())) << log_.Dump();
        }
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string& name = files[i].first;
            const std::string content = RandomBytes(files[i].second, unsigned(i));
            EXPECT_TRUE(Remote("/in/" + name) == content) << name;
            EXPECT_FALSE(stdfs::exists(remote_ + "/tmp/" + name)) << name;
            const std::string moved = config_.MoveToFolder + "/" + name;
            EXPECT_TRUE(TestFolder::Read(
                            config_.MoveDelete ? moved : folder_.Watched() + "/" + name) == content)
                << name;
            EXPECT_EQ(stdfs::exists(folder_.Watched() + "/" + name), !config_.MoveDelete);
            EXPECT_EQ(log_.Count(DoneLine(name)), 1u);
        }
        EXPECT_EQ(log_.Count("on first use: SHA256:"), 1u);
        for (const exporttest::LogLine& line : log_.Lines())
            EXPECT_NE(line.colour, clRed) << line.text;
        stdfs::remove_all(folder_.Watched());
        stdfs::create_directories(folder_.Watched());
    }
}

// A session killed mid-upload leaves nothing under the final name and the retry sends it
// whole; a read-only folder is a clear red line and the local file stays.
TEST_F(ExportSftp, FailuresLeaveTheFinalNameAloneAndTheFileInPlace) {
    const std::string big = RandomBytes(32 << 20, 9);
    folder_.Write("big.bin", big, folder_.Outside());

    StartServer();
    config_.FirstToTemp = true;
    config_.RetryFailed = true;
    LogCapture log_;
    std::atomic<bool> killed{false}, finalSeenEarly{false};
    {
        TFolderMonitor monitor(config_, log_.Sink(), {200ms});
        // Kills the server's session processes once the temp copy holds 1 MiB; until then,
        // and until the kill, the final name must not show.
        std::thread killer([&] {
            const auto end = std::chrono::steady_clock::now() + 60s;
            while (!killed && std::chrono::steady_clock::now() < end) {
                std::error_code ignored;
                if (stdfs::exists(remote_ + "/in/big.bin"))
                    finalSeenEarly = true;
                if (stdfs::file_size(remote_ + "/tmp/big.bin", ignored) >= (1u << 20) && !ignored) {
                    sshd_->SignalSessions(SIGKILL);
                    killed = true;
                }
                std::this_thread::sleep_for(1ms);
            }
        });
        stdfs::rename(folder_.Outside() + "/big.bin", folder_.Watched() + "/big.bin");
        const bool done = log_.WaitFor(DoneLine("big.bin"), 120s);
        killer.join();
        ASSERT_TRUE(done) << log_.Dump();
    }
    EXPECT_TRUE(killed);
    EXPECT_FALSE(finalSeenEarly);
    EXPECT_EQ(log_.Count("Export > File big.bin not uploaded."), 1u) << log_.Dump();
    EXPECT_EQ(log_.Count("Retrying file big.bin (retry 1)."), 1u) << log_.Dump();
    EXPECT_TRUE(Remote("/in/big.bin") == big);
    EXPECT_FALSE(stdfs::exists(remote_ + "/tmp/big.bin"));

    StartServer();
    ::chmod((remote_ + "/in").c_str(), 0555);
    LogCapture refusedLog;
    {
        TFolderMonitor monitor(config_, refusedLog.Sink());
        folder_.Write("refused.txt", "refused");
        ASSERT_TRUE(refusedLog.WaitForCycleEnd(60s));
    }
    EXPECT_EQ(refusedLog.Count("Export > File refused.txt not uploaded."), 1u);
    EXPECT_EQ(refusedLog.Count("permission denied"), 1u) << refusedLog.Dump();
    EXPECT_EQ(TestFolder::Read(folder_.Watched() + "/refused.txt"), "refused");
    EXPECT_FALSE(stdfs::exists(remote_ + "/in/refused.txt"));
}

TEST_F(ExportSftp, StopDuringALargeUploadCutsItOffPromptlyAndTheFileStays) {
    StartServer();
    LogCapture log_;
    const std::string content = RandomBytes(256 << 20, 3);
    folder_.Write("big.bin", content, folder_.Outside());
    std::chrono::steady_clock::duration stopping{};
    {
        std::optional<TFolderMonitor> monitor;
        monitor.emplace(config_, log_.Sink());
        stdfs::rename(folder_.Outside() + "/big.bin", folder_.Watched() + "/big.bin");
        // The server stops reading once part of the file is there: the upload is blocked.
        const auto end = std::chrono::steady_clock::now() + 60s;
        std::error_code ignored;
        while (std::chrono::steady_clock::now() < end &&
               !(stdfs::file_size(remote_ + "/in/big.bin", ignored) >= (1u << 20) && !ignored))
            std::this_thread::sleep_for(1ms);
        sshd_->SignalSessions(SIGSTOP);
        const auto start = std::chrono::steady_clock::now();
        monitor.reset();
        stopping = std::chrono::steady_clock::now() - start;
    }
    sshd_->SignalSessions(SIGCONT);
    EXPECT_LT(stopping, 5s); // the reply time-out alone would take 30 s
    EXPECT_EQ(log_.Count("Export > File big.bin not uploaded."), 1u) << log_.Dump();
    EXPECT_EQ(log_.Count("cut off because the monitor stopped"), 1u) << log_.Dump();
    EXPECT_TRUE(TestFolder::Read(folder_.Watched() + "/big.bin") == content);
}

} // namespace
