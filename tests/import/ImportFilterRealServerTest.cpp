// Which listed files the import takes, against pyftpdlib on 127.0.0.1: a left-out file is not
// fetched, not registered and named once while it stays listed; after the filter changes a
// restarted monitor takes it.
#include "ImportTestSupport.h"

#include "config/LogSwitches.h"
#include "import/MonitorFTPUnit.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <utime.h>

using namespace importtest;

namespace {

namespace stdfs = std::filesystem;

struct TFile {
    std::string name;
    size_t size;
    bool oneHourOld = false; // its modification time an hour back
};

struct TRow {
    const char* label;
    std::function<void(RConfiguration&)> set;
    std::vector<TFile> files;
    std::vector<std::string> fetched;
    std::vector<std::pair<std::string, std::string>> leftOut; // name, reason
};

class ImportFilterRealServer : public ::testing::Test {
protected:
    void SetUp() override {
        testsrv::PyFtpdOptions options;
        options.root = scratch.server;
        pyftpd = std::make_unique<testsrv::PyFtpdServer>(options);
        base = LocalServerConfig(scratch, pyftpd->Port(), options.user, options.password);
    }
    void Clear() {
        for (const std::string& dir : {scratch.server, scratch.local})
            for (const auto& entry : stdfs::directory_iterator(dir))
                stdfs::remove_all(entry.path());
        stdfs::remove(scratch.registerPath);
    }
    void Put(const TFile& file) {
        const std::string path = scratch.server + "/" + file.name;
        WriteFile(path, Payload(file.size, static_cast<unsigned>(file.size)));
        if (file.oneHourOld) {
            const time_t hourAgo = ::time(nullptr) - 3600;
            const utimbuf times{hourAgo, hourAgo};
            ASSERT_EQ(::utime(path.c_str(), &times), 0);
        }
    }
    size_t LeftOutLines() const {
        size_t count = 0;
        for (const LogLine& line : log.lines)
            count += line.text.find(" is not fetched: ") != std::string::npos;
        return count;
    }

    Scratch scratch;
    Recorder log;
    RConfiguration base;
    std::unique_ptr<testsrv::PyFtpdServer> pyftpd;
};

TEST_F(ImportFilterRealServer, LeftOutFilesAreNamedOnceAndNeverRegistered) {
    const TRow rows[] = {
        {"defaults take every file",
         [](RConfiguration&) {},
         {{"a.txt", 10}, {"b.tmp", 0}},
         {"a.txt", "b.tmp"},
         {}},
        {"include in any case",
         [](RConfiguration& c) { c.Include = "*.csv; *.TXT", c.IgnoreCase = true; },
         {{"a.csv", 10}, {"B.txt", 10}, {"c.xml", 10}},
         {"a.csv", "B.txt"},
         {{"c.xml", "not matched by Include *.csv; *.TXT"}}},
        {"exclude wins over include",
         [](RConfiguration& c) { c.Include = "*", c.Exclude = "~*;*.{tmp,part}"; },
         {{"~lock.dat", 10}, {"x.part", 10}, {"ok.dat", 10}},
         {"ok.dat"},
         {{"~lock.dat", "excluded by ~*"}, {"x.part", "excluded by *.{tmp,part}"}}},
        {"sizes from the listing",
         [](RConfiguration& c) { c.MinSize = "1k", c.MaxSize = "4k"; },
         {{"small", 1023}, {"edge", 4096}, {"big", 4097}},
         {"edge"},
         {{"small", "smaller than MinSize 1k"}, {"big", "larger than MaxSize 4k"}}},
        {"age from the listing",
         [](RConfiguration& c) { c.MinAge = "600"; },
         {{"aged.dat", 10, true}, {"fresh.dat", 10}},
         {"aged.dat"},
         {{"fresh.dat", "younger than MinAge 600"}}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.label);
        Clear();
        for (const TFile& file : row.files)
            Put(file);
        RConfiguration config = base;
        row.set(config);
        log.lines.clear();
        {
            TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
            // The second cycle lists the same files: nothing new to fetch or to say.
            monitor.Checker().PollCycle();
            monitor.Checker().PollCycle();
            EXPECT_EQ(monitor.Checker().LocalFileList().Count(), row.fetched.size());
        }
        EXPECT_EQ(log.CountColour(clRed), 0u);
        EXPECT_TRUE(log.boxes.empty());
        for (const std::string& name : row.fetched) {
            EXPECT_EQ(log.Count("Import > Getting file \"" + name + "\" done"), 1u) << name;
            EXPECT_TRUE(ReadFile(scratch.local + "/" + name) ==
                        ReadFile(scratch.server + "/" + name))
                << name;
        }
        for (const auto& [name, reason] : row.leftOut) {
            EXPECT_EQ(log.Count("Import > File \"" + name + "\" is not fetched: " + reason + "."),
                      1u)
                << name;
            EXPECT_FALSE(Exists(scratch.local + "/" + name)) << name;
            EXPECT_EQ(log.Count("Getting file \"" + name + "\""), 0u) << name;
        }
        EXPECT_EQ(LeftOutLines(), row.leftOut.size());
        EXPECT_EQ(TDownloadedFilesRegister::SplitLines(ReadFile(scratch.registerPath)).size(),
                  row.fetched.size());

        // With the filter gone, the next start takes what was left out, and only that.
        log.lines.clear();
        {
            TMonitorFTP monitor(base, log.Sink(), scratch.registerPath);
            monitor.Checker().PollCycle();
        }
        for (const auto& [name, reason] : row.leftOut)
            EXPECT_EQ(log.Count("Import > Getting file \"" + name + "\" done"), 1u) << name;
        for (const std::string& name : row.fetched)
            EXPECT_EQ(log.Count("Getting file \"" + name + "\""), 0u) << name;
    }
}

TEST_F(ImportFilterRealServer, UnreadableFilterFailsTheStart) {
    RConfiguration config = base;
    config.Exclude = "*.tmp;[ab";
    config.MaxSize = "lots";
    try {
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        ADD_FAILURE() << "started with a broken filter";
    } catch (const EIdException& failure) {
        EXPECT_STREQ(failure.what(),
                     "Exclude pattern \"[ab\" has an unbalanced \"[\"; MaxSize \"lots\" is not a "
                     "size: a whole number of bytes, or of k, M or G (1024-based)");
    }
    EXPECT_TRUE(log.lines.empty());
}

} // namespace
