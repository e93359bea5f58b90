// Kept and parallel export connections against the scripted server: a kept connection the
// server drops while it idles costs no file, and a stop cuts every stalled upload at once.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogSwitchesSetTo;
using exporttest::TestFolder;
namespace stdfs = std::filesystem;

RConfiguration ScriptedConfig(const testsrv::ScriptedFtpServer& server, const TestFolder& folder) {
    RConfiguration config = exporttest::LoopbackExport(folder, server.Port());
    config.KeepConnection = true;
    return config;
}

size_t CountOf(const std::vector<std::string>& commands, const std::string& start) {
    return std::count_if(commands.begin(), commands.end(),
                         [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

// What the server stored, by path.
class Stored {
public:
    testsrv::ScriptedFtpServer::Handler Stor() {
        return [this](testsrv::ScriptedSession& s, const std::string& line) {
            s.Send("150 Ok to send\r\n");
            const std::string bytes = s.DataReceiveAll(10s);
            s.DataClose();
            {
                std::lock_guard lock(mutex_);
                files_[line.substr(5)] = bytes;
            }
            s.Send("226 Transfer complete\r\n");
        };
    }
    std::string SizeReply(const std::string& line) {
        std::lock_guard lock(mutex_);
        return "213 " + std::to_string(files_[line.substr(5)].size()) + "\r\n";
    }
    std::map<std::string, std::string> Files() const {
        std::lock_guard lock(mutex_);
        return files_;
    }
    // RNFR and RNTO, as a server that keeps the pending name per connection.
    void HandleRenames(testsrv::ScriptedFtpServer& server) {
        server.Handle("RNFR", [this](testsrv::ScriptedSession& s, const std::string& line) {
            std::lock_guard lock(mutex_);
            renameFrom_[&s] = line.substr(5);
            s.Send("350 Ready for RNTO\r\n");
        });
        server.Handle("RNTO", [this](testsrv::ScriptedSession& s, const std::string& line) {
            std::lock_guard lock(mutex_);
            auto from = files_.find(renameFrom_[&s]);
            if (from == files_.end()) {
                s.Send("550 No such file\r\n");
                return;
            }
            files_[line.substr(5)] = std::move(from->second);
            files_.erase(from);
            s.Send("250 Renamed\r\n");
        });
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> files_;
    std::map<const testsrv::ScriptedSession*, std::string> renameFrom_;
};

struct DropCase {
    const char* label;
    const char* goodbye; // what the server says about the idle connection
    bool hangUp;         // and whether it hangs up at once or only later
};

class KeptConnectionDropped : public ::testing::TestWithParam<DropCase> {};

TEST_P(KeptConnectionDropped, NextFileLogsInAfreshAndArrivesWithoutAFailure) {
    LogSwitchesSetTo switches{true};
    TestFolder folder;
    testsrv::ScriptedFtpServer server;
    Stored stored;
    server.Handle("STOR", stored.Stor());
    // The size check is the last word of each file; right after it the server drops the
    // connection as one does that times idle clients out.
    const DropCase& drop = GetParam();
    server.Handle("SIZE", [&](testsrv::ScriptedSession& s, const std::string& line) {
        s.Send(stored.SizeReply(line) + drop.goodbye);
        if (drop.hangUp)
            s.CloseControl();
    });
    LogCapture log;
    TFolderMonitor monitor(ScriptedConfig(server, folder), log.Sink());
    folder.Write("first.txt", "first file");
    ASSERT_TRUE(log.WaitFor("\" done", 20s, 1)) << log.Dump();
    folder.Write("second.txt", "second file");
    ASSERT_TRUE(log.WaitFor("\" done", 20s, 2)) << log.Dump();

    EXPECT_EQ(stored.Files(),
              (std::map<std::string, std::string>{{"/in/first.txt", "first file"},
                                                  {"/in/second.txt", "second file"}}));
    EXPECT_EQ(CountOf(server.Commands(), "USER "), 2u);
    for (const auto& line : log.Lines())
        EXPECT_NE(line.colour, clRed) << line.text;
}

INSTANTIATE_TEST_SUITE_P(Goodbyes, KeptConnectionDropped,
                         ::testing::Values(DropCase{"Reply421", "421 Timeout.\r\n", true},
                                           DropCase{"SilentClose", "", true},
                                           DropCase{"Reply421HangUpLater", "421 Timeout.\r\n",
                                                    false}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ExportParallelStop, StopCutsEveryStalledUploadWithinTwoSecondsAndTheFilesStay) {
    LogSwitchesSetTo switches{true};
    TestFolder folder;
    testsrv::ScriptedFtpServer server;
    // Takes the data connection and never reads it: the client's sends stall once the
    // socket buffers are full.
    server.Handle("STOR", [](testsrv::ScriptedSession& s, const std::string&) {
        s.Send("150 Ok to send\r\n");
        s.DataSend("");
    });
    RConfiguration config = ScriptedConfig(server, folder);
    config.Connections = 4;
    LogCapture log;
    auto monitor = std::make_unique<TFolderMonitor>(config, log.Sink());
    const std::string big(16 * 1024 * 1024, 'x');
    for (int i = 0; i < 4; ++i) {
        const std::string name = "stall" + std::to_string(i) + ".bin";
        TestFolder::Write(name, big, folder.Outside());
        stdfs::rename(folder.Outside() + "/" + name, folder.Watched() + "/" + name);
    }
    const auto limit = std::chrono::steady_clock::now() + 30s;
    while (CountOf(server.Commands(), "STOR ") < 4 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(CountOf(server.Commands(), "STOR "), 4u) << log.Dump();
    EXPECT_EQ(server.SessionsAccepted(), 4);

    const auto stopAt = std::chrono::steady_clock::now();
    monitor.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 2s);
    EXPECT_EQ(log.Count("The upload was cut off because the monitor stopped"), 4u) << log.Dump();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(folder.SizeOf("stall" + std::to_string(i) + ".bin"), big.size());
    // The server may hold any of the four in part: the next start sends each again first.
    LogCapture next;
    { TFolderMonitor again(config, next.Sink()); }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(next.Count("File stall" + std::to_string(i) +
                             ".bin is sent again after an interrupted run."),
                  1u)
            << next.Dump();
}

// Four uploads at once, and the server cuts one of them in the middle: the other three arrive
// once, the cut one is sent again and arrives whole, and no final name ever holds a part.
TEST(ExportParallelCut, OneCutUploadIsSentAgainAndNothingArrivesTwiceOrInPart) {
    LogSwitchesSetTo switches{true};
    TestFolder folder;
    testsrv::ScriptedFtpServer server;
    Stored stored;
    std::atomic<int> cuts{0};
    const auto store = stored.Stor();
    server.Handle("STOR", [&](testsrv::ScriptedSession& s, const std::string& line) {
        if (line.ends_with("/cut.bin") && cuts++ == 0) {
            // A reset in the middle of the data, and the control connection gone with it.
            s.Send("150 Ok to send\r\n");
            s.DataAbort();
            s.CloseControl();
            return;
        }
        store(s, line);
    });
    server.Handle("SIZE", [&](testsrv::ScriptedSession& s, const std::string& line) {
        s.Send(stored.SizeReply(line));
    });
    stored.HandleRenames(server);
    RConfiguration config = ScriptedConfig(server, folder);
    config.Connections = 4;
    config.FirstToTemp = true;
    config.TempFolder = "/part";
    config.RetryFailed = true;
    LogCapture log;
    TFolderMonitor monitor(config, log.Sink(), {100ms});
    std::map<std::string, std::string> sent;
    for (const char* name : {"one.bin", "two.bin", "cut.bin", "four.bin"}) {
        // Large enough that the cut comes while the client is still sending.
        sent["/in/" + std::string(name)] = std::string(4 * 1024 * 1024, name[0]);
        TestFolder::Write(name, sent["/in/" + std::string(name)], folder.Outside());
    }
    for (const auto& [path, bytes] : sent) {
        const std::string name = path.substr(4);
        stdfs::rename(folder.Outside() + "/" + name, folder.Watched() + "/" + name);
    }
    ASSERT_TRUE(log.WaitFor("\" done", 60s, 4)) << log.Dump();

    EXPECT_EQ(cuts.load(), 2);
    EXPECT_EQ(stored.Files(), sent); // whole, under the final names, no part left behind
    const std::vector<std::string> commands = server.Commands();
    for (const auto& [path, bytes] : sent) {
        EXPECT_EQ(CountOf(commands, "RNTO " + path), 1u) << path;
        EXPECT_EQ(CountOf(commands, "STOR /part/" + path.substr(4)),
                  path == "/in/cut.bin" ? 2u : 1u)
            << path;
    }
    EXPECT_EQ(log.Count("File cut.bin not uploaded."), 1u) << log.Dump();
    EXPECT_EQ(log.Count("Retrying file cut.bin (retry 1)."), 1u) << log.Dump();
    EXPECT_EQ(log.Count(" not uploaded."), 1u) << log.Dump();
}

} // namespace
