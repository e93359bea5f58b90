// Polling cycles over SFTP against OpenSSH's sshd on 127.0.0.1: the same rules as over FTP
// (whole files under their final names only, once each, the staging folder, delete after
// download, the stable-file wait, keep-alive) and failures as red lines retried next cycle.
#include "ImportTestSupport.h"

#include "config/LogSwitches.h"
#include "import/ImportPartName.h"
#include "import/MonitorFTPUnit.h"
#include "servers/ChildProcess.h"
#include "servers/PrivateHome.h"
#include "servers/SshdServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <thread>

using namespace importtest;
namespace stdfs = std::filesystem;

namespace {

// Kills the server's session processes once `path` has grown to `bytes`: a connection lost
// in the middle of a transfer. Bounded: gives up after a minute.
class KillWhenGrown {
public:
    KillWhenGrown(testsrv::SshdServer& server, std::string path, uintmax_t bytes)
        : thread_([this, &server, path, bytes] {
              const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
              while (!quit_ && std::chrono::steady_clock::now() < end) {
                  std::error_code ignored;
                  if (stdfs::file_size(path, ignored) >= bytes && !ignored) {
                      server.SignalSessions(SIGKILL);
                      killed_ = true;
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
          }) {}
    ~KillWhenGrown() {
        quit_ = true;
        thread_.join();
    }
    bool Killed() const { return killed_; }

private:
    std::atomic<bool> quit_{false}, killed_{false};
    std::thread thread_;
};

class LogSwitchesOn {
public:
    LogSwitchesOn() : saved_{LogMonitor, LogFileTransfer, LogSSL, LogVerbose} {
        LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
    }
    ~LogSwitchesOn() {
        LogMonitor = saved_[0];
        LogFileTransfer = saved_[1];
        LogSSL = saved_[2];
        LogVerbose = saved_[3];
    }

private:
    bool saved_[4];
};

class ImportSftp : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = testsrv::SshdServer::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        home_ = std::make_unique<testsrv::PrivateHome>(scratch_.root);
    }
    void StartServer() {
        sshd_ =
            std::make_unique<testsrv::SshdServer>(testsrv::SshdOptions{.root = scratch_.server});
        config_ = LocalServerConfig(scratch_, sshd_->Port(), sshd_->User(), sshd_->Password());
        config_.Protocol = "SFTP";
    }
    std::string Served(const std::string& name) const { return scratch_.server + "/" + name; }
    size_t Logins() const {
        const std::string log = sshd_->Output();
        size_t count = 0;
        for (size_t at = log.find("Accepted password"); at != std::string::npos;
             at = log.find("Accepted password", at + 1))
            ++count;
        return count;
    }
    size_t LinesWith(const std::string& part, TColor colour) const {
        return std::count_if(log_.lines.begin(), log_.lines.end(), [&](const LogLine& line) {
            return line.colour == colour && line.text.find(part) != std::string::npos;
        });
    }
    // Neither the final name nor a left-over part shows for a file that did not arrive whole.
    void ExpectNothingUnder(const std::string& name) {
        for (const std::string& folder : {scratch_.local, scratch_.temp})
            EXPECT_FALSE(Exists(folder + "/" + name)) << folder << "/" << name;
    }

    Scratch scratch_;
    std::unique_ptr<testsrv::PrivateHome> home_;
    LogSwitchesOn switches_;
    Recorder log_;
    RConfiguration config_;
    std::unique_ptr<testsrv::SshdServer> sshd_;
};

TEST_F(ImportSftp, FetchesWholeRegularFilesOnceUnderTheirFinalNamesWithEachRule) {
    const std::vector<std::pair<std::string, size_t>> files = {
        {"empty", 0}, {"one", 1}, {"mebi.bin", 1 << 20}, {"fifty.bin", 50 << 20}};
    struct Row {
        const char* what;
        std::function<void(RConfiguration&)> set;
        int cyclesUntilFetched; // the stable-file wait needs a second listing
    } rows[] = {
        {"straight into the folder", [](RConfiguration&) {}, 1},
        {"staging folder, delete after download",
         [](RConfiguration& c) { c.FirstToTemp = c.MoveDelete = true; }, 1},
        {"keep-alive", [](RConfiguration& c) { c.KeepAlive = true; }, 1},
        {"stable-file wait", [](RConfiguration& c) { c.WaitForStableFiles = true; }, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        for (const std::string& folder : {scratch_.server, scratch_.local, scratch_.temp}) {
            stdfs::remove_all(folder);
            stdfs::create_directories(folder);
        }
        stdfs::remove(scratch_.registerPath);
        stdfs::remove_all(scratch_.root + "/xdg"); // each server has a key of its own
        log_.lines.clear();
        for (size_t i = 0; i < files.size(); ++i)
            WriteFile(Served(files[i].first), Payload(files[i].second, unsigned(i)));
        WriteFile(Served(".hidden"), "hidden");
        stdfs::create_directories(Served("folder"));
        WriteFile(Served("folder/inner"), "inner");
        stdfs::create_symlink("one", Served("link"));
        StartServer();
        row.set(config_);

        TMonitorFTP monitor(config_, log_.Sink(), scratch_.registerPath);
        for (int cycle = 1; cycle < row.cyclesUntilFetched; ++cycle) {
            monitor.Checker().PollCycle();
            EXPECT_EQ(monitor.Checker().LocalFileList().Count(), 0u) << "fetched before stable";
        }
        monitor.Checker().PollCycle();
        EXPECT_EQ(log_.boxes, std::vector<std::string>{});
        EXPECT_EQ(log_.CountColour(clRed), 0u);
        EXPECT_EQ(monitor.Checker().LocalFileList().Count(), files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string& name = files[i].first;
            EXPECT_TRUE(ReadFile(scratch_.local + "/" + name) ==
                        Payload(files[i].second, unsigned(i)))
                << name;
            EXPECT_FALSE(Exists(scratch_.local + "/" + tavrin::importpart::PartFileName(name)));
            EXPECT_FALSE(Exists(scratch_.temp + "/" + name));
            EXPECT_EQ(Exists(Served(name)), !config_.MoveDelete) << name;
            EXPECT_NE(ReadFile(scratch_.registerPath).find(name + "\r\n"), std::string::npos);
        }
        // Hidden files, folders and links are never fetched.
        for (const char* name : {".hidden", "folder", "inner", "link"})
            EXPECT_FALSE(Exists(scratch_.local + "/" + name)) << name;
        const size_t logins = config_.KeepAlive ? 1 : size_t(row.cyclesUntilFetched);
        EXPECT_EQ(LinesWith("Server is a \"SSH-2.0-OpenSSH", clHotLight), logins);
        EXPECT_EQ(LinesWith("on first use: SHA256:", cl3DDkShadow), 1u);
        EXPECT_EQ(monitor.Checker().Session().IsConnected(), config_.KeepAlive);

        // A later cycle fetches a new name only; with keep-alive over the same login.
        WriteFile(Served("later"), "later");
        monitor.Checker().KeepAliveTick();
        for (int cycle = 0; cycle < row.cyclesUntilFetched; ++cycle)
            monitor.Checker().PollCycle();
        EXPECT_EQ(ReadFile(scratch_.local + "/later"), "later");
        EXPECT_EQ(log_.Count("Import > Getting file \"mebi.bin\""), 1u);
        EXPECT_EQ(Logins(), 2 * logins - (config_.KeepAlive ? 1 : 0));
        EXPECT_EQ(LinesWith("SSH keep-alive sent to ", clHotLight), config_.KeepAlive ? 1u : 0u);
        EXPECT_EQ(LinesWith("on first use", cl3DDkShadow), 1u) << "the host key is stored";
        monitor.RequestStop();
    }
}

// Each failure gives red lines and leaves nothing under a final name; once its cause is
// gone, the next cycle fetches the file whole without anybody doing anything.
TEST_F(ImportSftp, FailuresAreRedLinesAndTheNextCycleFetchesTheFileWhole) {
    struct Row {
        const char* what;
        std::function<void()> before;          // after the server started
        std::function<void()> mend;            // between the cycles
        std::vector<std::string> redLineParts; // each in some red line
        bool killMidDownload = false;
    } rows[] = {
        {"the server's session killed mid-download",
         [] {},
         [] {},
         {"big.bin is not a file or is demaged."},
         true},
        {"a file the server may not read",
         [&] {
             // The server's account got the folder and its files; this one is root's again.
             EXPECT_EQ(::chown(Served("big.bin").c_str(), 0, 0), 0);
             ::chmod(Served("big.bin").c_str(), 0600);
         },
         [&] { ::chmod(Served("big.bin").c_str(), 0644); },
         {"big.bin is not a file or is demaged.", "permission denied"}},
        {"a changed host key",
         [&] {
             // Our own file holds another key for the server.
             stdfs::create_directories(scratch_.root + "/xdg/tavrin");
             const std::string other = scratch_.root + "/other_key";
             testsrv::MakeSshKey(other, "ed25519");
             const std::string key = testsrv::ReadWholeFile(other + ".pub");
             WriteFile(scratch_.root + "/xdg/tavrin/known_hosts",
                       "[127.0.0.1]:" + std::to_string(sshd_->Port()) + " " +
                           key.substr(0, key.rfind(' ')) + "\n");
         },
         [&] { stdfs::remove(scratch_.root + "/xdg/tavrin/known_hosts"); },
         {"has changed", "SHA256:", scratch_.root + "/xdg/tavrin/known_hosts"}},
    };
    const std::string content = Payload(32 << 20, 7);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        stdfs::remove_all(scratch_.root + "/xdg");
        stdfs::remove(scratch_.registerPath);
        stdfs::remove(scratch_.local + "/big.bin");
        log_.lines.clear();
        log_.boxes.clear();
        WriteFile(Served("big.bin"), content);
        StartServer();
        row.before();

        TMonitorFTP monitor(config_, log_.Sink(), scratch_.registerPath);
        {
            std::unique_ptr<KillWhenGrown> killer;
            if (row.killMidDownload)
                killer = std::make_unique<KillWhenGrown>(
                    *sshd_, scratch_.local + "/" + tavrin::importpart::PartFileName("big.bin"),
                    1 << 20);
            monitor.Checker().PollCycle();
            if (killer) {
                EXPECT_TRUE(killer->Killed());
            }
        }
        for (const std::string& part : row.redLineParts)
            EXPECT_GT(LinesWith(part, clRed), 0u) << part;
        ExpectNothingUnder("big.bin");
        EXPECT_FALSE(monitor.Checker().Session().IsConnected());

        row.mend();
        monitor.Checker().PollCycle();
        EXPECT_TRUE(ReadFile(scratch_.local + "/big.bin") == content);
        EXPECT_EQ(monitor.Checker().LocalFileList().Count(), 1u);
        EXPECT_FALSE(Exists(scratch_.local + "/" + tavrin::importpart::PartFileName("big.bin")));
        monitor.RequestStop();
    }
}

// A refused login names what was tried and what the server offers; nothing is fetched.
TEST_F(ImportSftp, RefusedLoginNamesTheMethodsTriedAndOffered) {
    WriteFile(Served("a"), "a");
    StartServer();
    config_.Password = "wrong";
    TMonitorFTP monitor(config_, log_.Sink(), scratch_.registerPath);
    monitor.Checker().PollCycle();
    EXPECT_EQ(LinesWith("Tried: password. The server offers: publickey, password", clRed), 1u);
    ExpectNothingUnder("a");
}

} // namespace
