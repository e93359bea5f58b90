// Downloads that break half-way go on from where they stopped at the next cycle, when the
// server can (REST STREAM in FEAT) and its file is still the one listed then; otherwise they
// start over. Against the fault-injecting server, which cuts the transfer.
#include "ImportTestSupport.h"

#include "config/LogSwitches.h"
#include "import/MonitorFTPUnit.h"
#include "servers/FaultyFtpdServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <utime.h>

using namespace importtest;

namespace {

uint64_t Hash(const std::string& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes)
        h = (h ^ c) * 1099511628211ull;
    return h;
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

int64_t SizeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

enum class Meanwhile { Nothing, Grown, Touched };

TEST(ImportResume, ACutDownloadGoesOnWhereItStoppedUnlessTheServerFileChanged) {
    struct Row {
        const char* what;
        bool resumeSetting;
        Meanwhile meanwhile;
        bool restart; // the next cycle belongs to a new monitor (the program was restarted)
        bool resumes;
    } rows[] = {
        {"cut at half: REST at the part's size", true, Meanwhile::Nothing, false, true},
        {"the kept part outlives a restart", true, Meanwhile::Nothing, true, true},
        {"file grew on the server: starts over", true, Meanwhile::Grown, false, false},
        {"same size, another time: starts over", true, Meanwhile::Touched, false, false},
        {"ResumeDownloads=0: never REST", false, Meanwhile::Nothing, false, false},
    };
    LogVerbose = false;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Scratch scratch;
        testsrv::FaultyFtpdServer server({.root = scratch.server});
        RConfiguration config =
            LocalServerConfig(scratch, server.Port(), server.User(), server.Password());
        config.ResumeDownloads = row.resumeSetting;
        const std::string served = scratch.server + "/big.bin";
        std::string bytes = Payload(2000000, 11);
        WriteFile(served, bytes);
        server.SetFaults(testsrv::FaultPlan().CutDownload("big.bin", 1000000, 1));
        Recorder log;
        auto monitor = std::make_unique<TMonitorFTP>(config, log.Sink(), scratch.registerPath);
        monitor->Checker().PollCycle();
        ASSERT_TRUE(server.WaitForEvent("cut big.bin", std::chrono::seconds(5)));
        EXPECT_EQ(log.Count("Import > big.bin is not a file or is demaged."), 1u);
        EXPECT_FALSE(Exists(scratch.local + "/big.bin"));
        const std::string part = TFTPChecker::PartialPath(scratch.local, "big.bin");
        const int64_t kept = SizeOf(part);
        // Kept only where it can be used: with the setting on and a server that can go on.
        EXPECT_EQ(kept > 0 && kept < 2000000, row.resumeSetting) << kept;
        if (!row.resumeSetting) {
            EXPECT_EQ(Listing(scratch.local), std::vector<std::string>{});
        }

        if (row.meanwhile == Meanwhile::Grown) {
            bytes += Payload(5000, 12);
            WriteFile(served, bytes);
        } else if (row.meanwhile == Meanwhile::Touched) {
            const utimbuf earlier{1700000000, 1700000000};
            ASSERT_EQ(::utime(served.c_str(), &earlier), 0);
        }
        if (row.restart)
            monitor = std::make_unique<TMonitorFTP>(config, log.Sink(), scratch.registerPath);
        monitor->Checker().PollCycle();

        EXPECT_EQ(log.Count("Import > Getting file \"big.bin\" done"), 1u);
        ASSERT_TRUE(Exists(scratch.local + "/big.bin"));
        EXPECT_EQ(Hash(ReadFile(scratch.local + "/big.bin")), Hash(bytes));
        // Nothing of the attempt is left beside the file.
        EXPECT_EQ(Listing(scratch.local), std::vector<std::string>{"big.bin"});
        const std::vector<std::string> commands = server.Commands();
        const size_t rests = std::count_if(commands.begin(), commands.end(),
                                           [](auto& c) { return c.rfind("REST ", 0) == 0; });
        EXPECT_EQ(rests, row.resumes ? 1u : 0u);
        if (row.resumes) {
            EXPECT_NE(std::find(commands.begin(), commands.end(), "REST " + std::to_string(kept)),
                      commands.end());
        }
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "RETR big.bin"), 2);
        EXPECT_TRUE(log.boxes.empty());
    }
    LogVerbose = true;
}

} // namespace
