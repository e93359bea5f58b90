// Polling cycles against the fault-injecting server: what the import folder, the staging
// folder, the server folder and the register hold after a transfer went wrong, and that the
// next cycle mends it without anyone clicking anything.
#include "ImportTestSupport.h"

#include "config/LogSwitches.h"
#include "config/UserMessages.h"
#include "import/MonitorFTPUnit.h"
#include "servers/FaultyFtpdServer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

using namespace importtest;
using testsrv::FaultPlan;

namespace {

// Content compared by hash: a mixed-up, shortened or stale copy shows as another number.
uint64_t Hash(const std::string& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes)
        h = (h ^ c) * 1099511628211ull;
    return h;
}
uint64_t FileHash(const std::string& path) {
    return Exists(path) ? Hash(ReadFile(path)) : 0;
}

std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(dir))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ImportFault : public ::testing::Test {
protected:
    void SetUp() override {
        config = LocalServerConfig(scratch, server.Port(), server.User(), server.Password());
        LogVerbose = false;
    }
    void TearDown() override { LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true; }
    std::string Served(const std::string& name) const { return scratch.server + "/" + name; }
    size_t Retrs(const std::string& name) const {
        std::vector<std::string> all = server.Commands();
        return static_cast<size_t>(std::count(all.begin(), all.end(), "RETR " + name));
    }
    bool RegisterFileHas(const std::string& name) const {
        return ReadFile(scratch.registerPath).find(name + "\r\n") != std::string::npos;
    }

    Scratch scratch;
    Recorder log;
    testsrv::FaultyFtpdServer server{{.root = scratch.server}};
    RConfiguration config;
};

TEST_F(ImportFault, FailedDownloadsLeaveNothingUnderTheFinalNameAndTheNextCycleMends) {
    const std::string bytes = Payload(2000000, 7);
    struct Row {
        const char* what;
        FaultPlan plan;
        bool staging;
        bool kill;          // the server dies in the middle of the transfer
        const char* reason; // start of the red line after "... is not a file or is demaged."
    };
    const Row rows[] = {
        {"cut", FaultPlan().CutDownload("big.bin", 700000), false, false, ""},
        {"cut, staging", FaultPlan().CutDownload("big.bin", 700000), true, false, ""},
        {"short 226", FaultPlan().ShortDownload("big.bin", 600000), false, false,
         "Received 600000 of 2000000 bytes."},
        {"short 226, staging", FaultPlan().ShortDownload("big.bin", 600000), true, false,
         "Received 600000 of 2000000 bytes."},
        {"550", FaultPlan().RefuseDownload("big.bin", "550 Not now."), false, false, "Not now."},
        {"killed while stalled", FaultPlan().StallDownload("big.bin", 500000), false, true, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(Served("big.bin"), bytes);
        ::unlink(scratch.registerPath.c_str());
        for (const std::string& folder : {scratch.local, scratch.temp})
            for (const std::string& name : Listing(folder))
                ::unlink((folder + "/" + name).c_str());
        WriteFile(scratch.local + "/big.bin", "the copy users already have");
        const uint64_t before = FileHash(scratch.local + "/big.bin");
        log.lines.clear();
        config.FirstToTemp = row.staging;
        config.MoveDelete = true;
        config.ResumeDownloads = false; // a kept part is ImportResumeTest's business
        server.SetFaults(row.plan);

        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        QPointer<TFTPChecker> checker(&monitor.Checker());
        if (row.kill) {
            // The kill comes from another thread while the cycle waits for data, as a crash
            // of the server would.
            std::thread killer([&] {
                if (server.WaitForEvent("stall", std::chrono::milliseconds(30000)))
                    server.Kill();
            });
            checker->PollCycle();
            killer.join();
        } else {
            checker->PollCycle();
        }
        EXPECT_FALSE(checker->Busy());
        EXPECT_EQ(FileHash(scratch.local + "/big.bin"), before);
        EXPECT_EQ(Listing(scratch.local), std::vector<std::string>{"big.bin"});
        EXPECT_EQ(Listing(scratch.temp), std::vector<std::string>{});
        EXPECT_EQ(FileHash(Served("big.bin")), Hash(bytes)); // never deleted
        EXPECT_FALSE(RegisterFileHas("big.bin"));
        EXPECT_FALSE(checker->LocalFileList().Contains("big.bin"));
        EXPECT_EQ(log.Count("Import > Getting file \"big.bin\" done"), 0u);
        auto failed = std::find_if(log.lines.begin(), log.lines.end(), [](const LogLine& l) {
            return l.text == "Import > big.bin is not a file or is demaged.";
        });
        ASSERT_NE(failed, log.lines.end());
        ASSERT_NE(failed + 1, log.lines.end());
        EXPECT_EQ((failed + 1)->colour, clRed);
        EXPECT_EQ((failed + 1)->text.rfind(std::string("Import > ") + row.reason, 0), 0u)
            << (failed + 1)->text;

        // The server behaves again (or is back): the next cycle fetches the whole file.
        server.SetFaults({});
        if (row.kill)
            server.Restart();
        checker->PollCycle();
        if (row.staging) {
            // The import folder has the name already: the new copy stays in the staging
            // folder, and a red line says where it is.
            EXPECT_EQ(FileHash(scratch.local + "/big.bin"), before);
            EXPECT_EQ(FileHash(scratch.temp + "/big.bin"), Hash(bytes));
            EXPECT_EQ(log.Count("Import > Cannot move file \"" + scratch.temp + "/big.bin\" to \"" +
                                scratch.local + "/big.bin\". File exists"),
                      1u);
        } else {
            EXPECT_EQ(FileHash(scratch.local + "/big.bin"), Hash(bytes));
            EXPECT_EQ(Listing(scratch.temp), std::vector<std::string>{});
        }
        EXPECT_EQ(Listing(scratch.local), std::vector<std::string>{"big.bin"});
        EXPECT_FALSE(Exists(Served("big.bin")));
        EXPECT_TRUE(RegisterFileHas("big.bin")); // before the monitor stops
    }
    EXPECT_TRUE(log.boxes.empty());
}

TEST_F(ImportFault, FilesGrowingOnTheServerAreFetchedOnceTheyStopGrowing) {
    // grow.log grows at each of the first two listings; steady.txt never changes.
    WriteFile(Served("grow.log"), Payload(5000, 1));
    WriteFile(Served("steady.txt"), Payload(300, 2));
    server.SetFaults(FaultPlan().GrowOnListing("grow.log", 4000, 2));
    config.WaitForStableFiles = true;
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    struct Cycle {
        bool grow, steady;
    };
    const Cycle expected[] = {{false, false}, {false, true}, {true, true}};
    for (const Cycle& cycle : expected) {
        monitor.Checker().PollCycle();
        EXPECT_EQ(Exists(scratch.local + "/grow.log"), cycle.grow);
        EXPECT_EQ(Exists(scratch.local + "/steady.txt"), cycle.steady);
    }
    EXPECT_EQ(FileHash(scratch.local + "/grow.log"), FileHash(Served("grow.log")));
    EXPECT_EQ(ReadFile(Served("grow.log")).size(), 13000u);
    EXPECT_EQ(FileHash(scratch.local + "/steady.txt"), Hash(Payload(300, 2)));
    EXPECT_EQ(Retrs("grow.log"), 1u);

    // Switched off, a growing file is fetched at the first sight, as before.
    WriteFile(Served("fresh.log"), Payload(100, 3));
    server.SetFaults(FaultPlan().GrowOnListing("fresh.log", 10, 5));
    config.WaitForStableFiles = false;
    TMonitorFTP atOnce(config, log.Sink(), scratch.registerPath);
    atOnce.Checker().PollCycle();
    EXPECT_TRUE(Exists(scratch.local + "/fresh.log"));
}

TEST_F(ImportFault, EveryNameReachesTheRegisterFileAsItIsFetched) {
    for (int i = 0; i < 3; ++i)
        WriteFile(Served("n" + std::to_string(i)), Payload(1000, i));
    {
        // The register file is there after the cycle, while the monitor still runs: a
        // crash now loses no name.
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        monitor.Checker().PollCycle();
        std::vector<std::string> lines =
            TDownloadedFilesRegister::SplitLines(ReadFile(scratch.registerPath));
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines, (std::vector<std::string>{"n0", "n1", "n2"}));
    }
    // A register folder that turned read-only: one red line per name, no box, files still
    // fetched. Root can write anywhere else, so the folder is a tmpfs remounted read-only.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a read-only register folder";
    const std::string folder = scratch.root + "/readonly";
    ::mkdir(folder.c_str(), 0755);
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string unwritable = folder + "/LocalFileList.txt";
    WriteFile(unwritable, "n0\r\nn1\r\nn2\r\n");
    ASSERT_EQ(::mount("tmpfs", folder.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
    WriteFile(Served("n3"), "3");
    WriteFile(Served("n4"), "4");
    log.lines.clear();
    {
        TMonitorFTP monitor(config, log.Sink(), unwritable);
        monitor.Checker().PollCycle();
        monitor.Checker().PollCycle(); // nothing new: no line
    }
    size_t failures = std::count_if(log.lines.begin(), log.lines.end(), [&](const LogLine& l) {
        return l.colour == clRed && l.text.find(unwritable) != std::string::npos &&
               l.text.find("Read-only file system") != std::string::npos;
    });
    EXPECT_EQ(failures, 2u + 1u); // two names appended, then the save at the stop
    EXPECT_EQ(ReadFile(scratch.local + "/n4"), "4");
    EXPECT_TRUE(log.boxes.empty());
    ::umount2(folder.c_str(), MNT_DETACH);
}

TEST_F(ImportFault, RestartDuringABusyCycleFetchesEachFileOnceAndLosesNoName) {
    for (int i = 0; i < 4; ++i)
        WriteFile(Served("f" + std::to_string(i)), Payload(400000, 20 + i));
    auto* old = new TMonitorFTP(config, log.Sink(), scratch.registerPath);
    QPointer<TFTPChecker> oldChecker(&old->Checker());
    std::unique_ptr<TMonitorFTP> fresh;
    // Save in the settings dialog while f1 is on its way: stop, then start at once; the new
    // poller's first cycle runs while the old one is still busy.
    log.onLine = [&](const LogLine& line) {
        if (line.text == "Import > Getting file \"f1\"" && old)
            QTimer::singleShot(0, [&] {
                old->RequestStop();
                delete old;
                old = nullptr;
                fresh = std::make_unique<TMonitorFTP>(config, log.Sink(), scratch.registerPath);
                fresh->Checker().PollCycle();
            });
    };
    QTimer::singleShot(0, oldChecker.data(), [&] { oldChecker->PollCycle(); });
    ASSERT_TRUE(WaitUntil([&] { return oldChecker.isNull() && fresh; }));
    for (int i = 0; i < 4; ++i) {
        const std::string name = "f" + std::to_string(i);
        EXPECT_EQ(Retrs(name), 1u) << name;
        EXPECT_EQ(FileHash(scratch.local + "/" + name), Hash(Payload(400000, 20 + i)));
        EXPECT_TRUE(fresh->Checker().LocalFileList().Contains(name)) << name;
        EXPECT_TRUE(RegisterFileHas(name)) << name;
    }
    fresh.reset();
    const std::string saved = ReadFile(scratch.registerPath);
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(saved.find("f" + std::to_string(i) + "\r\n"), std::string::npos);
}

TEST_F(ImportFault, ServerDownGivesRedLinesOneBoxThatHoldsNothingAndFilesArriveUnattended) {
    WriteFile(Served("later.bin"), Payload(50000, 9));
    server.Kill();
    config.CheckInterval = 1;
    int boxes = 0;
    bool arrivedWhileOpen = false;
    // A box like the real one: modal, its own event loop runs until the user clicks. The
    // server comes back while it is open; the file must arrive before the click.
    tavrin::SetErrorMessageSink([&](const std::string&) {
        ++boxes;
        server.Restart();
        arrivedWhileOpen = WaitUntil([&] { return Exists(scratch.local + "/later.bin"); });
    });
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    ASSERT_TRUE(WaitUntil([&] { return Exists(scratch.local + "/later.bin"); }));
    EXPECT_TRUE(arrivedWhileOpen);
    EXPECT_EQ(boxes, 1);
    EXPECT_GE(log.CountColour(clRed), 1u);
    EXPECT_FALSE(monitor.Checker().Busy());
    EXPECT_EQ(FileHash(scratch.local + "/later.bin"), Hash(Payload(50000, 9)));
}

TEST_F(ImportFault, StagingFolderOnAnotherFileSystemStillDeliversToTheImportFolder) {
    char pattern[] = "/dev/shm/tavrin-staging-XXXXXX"; // tmpfs, while the import folder is not
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    WriteFile(Served("across.bin"), Payload(900000, 6));
    config.FirstToTemp = true;
    config.TempFolder = pattern;
    config.MoveDelete = true;
    {
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        monitor.Checker().PollCycle();
    }
    EXPECT_EQ(FileHash(scratch.local + "/across.bin"), Hash(Payload(900000, 6)));
    EXPECT_EQ(Listing(scratch.local), std::vector<std::string>{"across.bin"});
    EXPECT_EQ(Listing(pattern), std::vector<std::string>{});
    EXPECT_FALSE(Exists(Served("across.bin")));
    EXPECT_TRUE(RegisterFileHas("across.bin"));
    EXPECT_EQ(log.CountColour(clRed), 0u);
    ::rmdir(pattern);
}

TEST_F(ImportFault, FullDiskFailsOneFileRemovesItsPieceAndTheNextFileStillFits) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small tmpfs as the import folder";
    if (::mount("tmpfs", scratch.local.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    WriteFile(Served("a-huge.bin"), Payload(1500000, 4));
    WriteFile(Served("b-small.bin"), Payload(700000, 5));
    {
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        monitor.Checker().PollCycle();
        monitor.Checker().PollCycle(); // the huge one fails again, the small one is there
    }
    EXPECT_EQ(FileHash(scratch.local + "/b-small.bin"), Hash(Payload(700000, 5)));
    EXPECT_EQ(Listing(scratch.local), std::vector<std::string>{"b-small.bin"});
    EXPECT_EQ(log.Count("Import > a-huge.bin is not a file or is demaged."), 2u);
    size_t reasons = std::count_if(log.lines.begin(), log.lines.end(), [](const LogLine& l) {
        return l.colour == clRed && l.text.find("No space left on device") != std::string::npos;
    });
    EXPECT_EQ(reasons, 2u);
    EXPECT_TRUE(Exists(Served("a-huge.bin")));
    EXPECT_FALSE(RegisterFileHas("a-huge.bin"));
    ::umount2(scratch.local.c_str(), MNT_DETACH);
}

TEST_F(ImportFault, TransferSwitchOffHidesTransferLinesAndNoNoopCutsIntoACycle) {
    WriteFile(Served("one.bin"), Payload(300000, 1));
    LogFileTransfer = false;
    config.KeepAlive = true;
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    // A keep-alive tick in the middle of the cycle (here from inside its own log line) sends
    // nothing.
    server.SetFaults(FaultPlan().GrowOnListing("one.bin", 1, 1));
    int ticks = 0;
    log.onLine = [&](const LogLine&) {
        ++ticks;
        monitor.Checker().KeepAliveTick();
    };
    monitor.Checker().PollCycle();
    log.onLine = nullptr;
    EXPECT_GT(ticks, 0);
    auto noops = [&] {
        std::vector<std::string> all = server.Commands();
        return std::count(all.begin(), all.end(), "NOOP");
    };
    EXPECT_EQ(noops(), 0);
    EXPECT_EQ(FileHash(scratch.local + "/one.bin"), FileHash(Served("one.bin")));
    // Idle and connected, the tick does send one; a poll tick that came meanwhile runs right
    // after it.
    QTimer::singleShot(0, [&] { monitor.Checker().PollCycle(); });
    monitor.Checker().KeepAliveTick();
    QCoreApplication::processEvents();
    EXPECT_EQ(noops(), 1);
    std::vector<std::string> all = server.Commands();
    auto noop = std::find(all.begin(), all.end(), "NOOP");
    EXPECT_NE(std::find_if(noop, all.end(),
                           [](const std::string& c) { return c == "MLSD" || c == "LIST"; }),
              all.end());
    EXPECT_GE(log.Count("Import > Monitor started"), 1u);
    EXPECT_EQ(std::count_if(
                  log.lines.begin(), log.lines.end(),
                  [](const LogLine& l) { return l.text.rfind("Import > Server is a ", 0) == 0; }),
              1);
    for (const LogLine& line : log.lines)
        EXPECT_EQ(line.text.find("Getting file"), std::string::npos) << line.text;
}

} // namespace
