// Which files the export monitor takes, against pyftpdlib on 127.0.0.1: a file the filter
// leaves out is neither uploaded nor moved and is named once with the rule; MinAge holds a
// fresh file back until it is old enough instead of leaving it out.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <utime.h>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogSwitchesSetTo;
using exporttest::RandomBytes;
using exporttest::TestFolder;
namespace stdfs = std::filesystem;

struct TFile {
    std::string name;
    size_t size;
    bool beforeStart = false; // in the folder when the monitor starts (ExportExisting)
    bool oneHourOld = false;  // its modification time set an hour back
};

struct TRow {
    const char* label;
    std::function<void(RConfiguration&)> set;
    std::vector<TFile> files;
    std::vector<std::string> sent;
    std::vector<std::pair<std::string, std::string>> leftOut; // name, reason
};

class ExportFilterRealServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        remoteRoot = folder.Root() + "/server";
        stdfs::create_directories(remoteRoot + "/in");
        server.emplace(testsrv::PyFtpdOptions{remoteRoot});
        base.LocalFolder = folder.Watched();
        base.Host = "127.0.0.1";
        base.Port = std::to_string(server->Port());
        base.Username = "tavrin";
        base.Password = "secret";
        base.PassiveMode = true;
        base.BinaryMode = true;
        base.RemoteFolder = "/in";
        base.SettleTime = 50;
        base.MoveDelete = true;
        base.MoveToFolder = folder.Outside();
    }
    void Clear() {
        for (const std::string& dir : {folder.Watched(), folder.Outside(), remoteRoot + "/in"})
            for (const auto& entry : stdfs::directory_iterator(dir))
                stdfs::remove_all(entry.path());
    }
    void Put(const TFile& file) {
        const std::string path = folder.Watched() + "/" + file.name;
        if (!file.oneHourOld) {
            folder.Write(file.name, RandomBytes(file.size, file.size));
            return;
        }
        // Written outside and moved in, so it arrives already old.
        TestFolder::Write(file.name, RandomBytes(file.size, file.size), folder.Root());
        const time_t hourAgo = ::time(nullptr) - 3600;
        const utimbuf times{hourAgo, hourAgo};
        ASSERT_EQ(::utime((folder.Root() + "/" + file.name).c_str(), &times), 0);
        stdfs::rename(folder.Root() + "/" + file.name, path);
    }

    LogSwitchesSetTo switches{true};
    TestFolder folder;
    std::string remoteRoot;
    std::optional<testsrv::PyFtpdServer> server;
    RConfiguration base;
};

TEST_F(ExportFilterRealServerTest, LeftOutFilesStayNamedOnceAndTakenOnesGo) {
    const TRow rows[] = {
        {"defaults take every file",
         [](RConfiguration&) {},
         {{"a.txt", 10}, {"b.tmp", 0}},
         {"a.txt", "b.tmp"},
         {}},
        {"include in any case",
         [](RConfiguration& c) { c.Include = "*.csv; *.TXT", c.IgnoreCase = true; },
         {{"a.csv", 10}, {"b.txt", 10}, {"c.xml", 10}},
         {"a.csv", "b.txt"},
         {{"c.xml", "not matched by Include *.csv; *.TXT"}}},
        {"exclude wins over include",
         [](RConfiguration& c) { c.Include = "*", c.Exclude = "~*;*.{tmp,part}"; },
         {{"~lock.dat", 10}, {"x.part", 10}, {"ok.dat", 10}},
         {"ok.dat"},
         {{"~lock.dat", "excluded by ~*"}, {"x.part", "excluded by *.{tmp,part}"}}},
        {"sizes",
         [](RConfiguration& c) { c.MinSize = "1k", c.MaxSize = "4k"; },
         {{"small", 1023}, {"edge", 4096}, {"big", 4097}},
         {"edge"},
         {{"small", "smaller than MinSize 1k"}, {"big", "larger than MaxSize 4k"}}},
        {"files there at the start",
         [](RConfiguration& c) { c.ExportExisting = true, c.Exclude = "*.part"; },
         {{"old.part", 10, true}, {"keep.dat", 10, true}, {"new.part", 10}, {"new.dat", 10}},
         {"keep.dat", "new.dat"},
         {{"old.part", "excluded by *.part"}, {"new.part", "excluded by *.part"}}},
        {"an old file goes at once despite MinAge",
         [](RConfiguration& c) { c.MinAge = "3600"; },
         {{"aged.dat", 10, false, true}},
         {"aged.dat"},
         {}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.label);
        Clear();
        RConfiguration config = base;
        row.set(config);
        LogCapture log;
        for (const TFile& file : row.files)
            if (file.beforeStart)
                Put(file);
        {
            TFolderMonitor monitor(config, log.Sink());
            for (const TFile& file : row.files)
                if (!file.beforeStart)
                    Put(file);
            ASSERT_TRUE(log.WaitFor("\" done", 30s, row.sent.size())) << log.Dump();
            ASSERT_TRUE(log.WaitFor(" is not exported: ", 30s, row.leftOut.size())) << log.Dump();
        }
        for (const std::string& name : row.sent) {
            EXPECT_TRUE(TestFolder::Read(remoteRoot + "/in/" + name) ==
                        TestFolder::Read(folder.Outside() + "/" + name))
                << name;
            EXPECT_FALSE(stdfs::exists(folder.Watched() + "/" + name)) << name;
        }
        for (const auto& [name, reason] : row.leftOut) {
            EXPECT_EQ(log.Count("Export > File " + name + " is not exported: " + reason + "."), 1u)
                << log.Dump();
            EXPECT_TRUE(stdfs::exists(folder.Watched() + "/" + name)) << name;
            EXPECT_FALSE(stdfs::exists(remoteRoot + "/in/" + name)) << name;
            EXPECT_EQ(log.Count(" " + name + " ready for export."), 0u) << name;
        }
        EXPECT_EQ(log.Count(" ready for export."), row.sent.size()) << log.Dump();
        EXPECT_EQ(log.Count(" is not exported: "), row.leftOut.size()) << log.Dump();
        EXPECT_EQ(log.Count("not uploaded"), 0u) << log.Dump();
    }
}

// A file is uploaded no sooner than MinAge seconds after it was last written: the hold is
// in the queue, so this bound is the code's promise, not a guess about timing.
TEST_F(ExportFilterRealServerTest, MinAgeHoldsAFreshFileUntilItIsOldEnough) {
    RConfiguration config = base;
    config.MinAge = "2";
    LogCapture log;
    TFolderMonitor monitor(config, log.Sink());
    folder.Write("fresh.dat", "fresh");
    struct stat info {};
    ASSERT_EQ(::stat((folder.Watched() + "/fresh.dat").c_str(), &info), 0);
    ASSERT_TRUE(log.WaitFor("fresh.dat\" done", 30s)) << log.Dump();
    EXPECT_GE(::time(nullptr), info.st_mtim.tv_sec + 2);
    EXPECT_EQ(log.Count(" is not exported: "), 0u);
    EXPECT_EQ(TestFolder::Read(remoteRoot + "/in/fresh.dat"), "fresh");
}

TEST_F(ExportFilterRealServerTest, UnreadableFilterFailsTheStart) {
    RConfiguration config = base;
    config.Include = "{a,b";
    LogCapture log;
    try {
        TFolderMonitor monitor(config, log.Sink());
        ADD_FAILURE() << "started with a broken pattern";
    } catch (const EIdException& failure) {
        EXPECT_STREQ(failure.what(), "Include pattern \"{a,b\" has an unbalanced \"{\"");
    }
}

} // namespace
