// Many named jobs in one set, from one settings file: all started, all stopped, only the
// changed ones restarted when the file changes, and imports of same-named files from two
// servers each fetching their own into their own register.
#include "JobTestSupport.h"

#include "config/JobSections.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

using namespace std::chrono_literals;
using namespace jobtest;
using tavrin::jobs::TJob;
using tavrin::jobs::TJobDefinition;
using tavrin::jobs::TJobSet;
using tavrin::jobs::TJobState;

namespace {

std::string Named(const std::string& section, uint16_t port, const std::string& remote,
                  const std::string& local, const std::string& extra = "") {
    return "[" + section + "]\nHost=127.0.0.1\nPort=" + std::to_string(port) +
           "\nUsername=tavrin\nPassword=secret\nWaitForStableFiles=0\nCheckInterval=1\n"
           "SettleTime=0\nRemoteFolder=" +
           remote + "\nLocalFolder=" + local + "\n" + extra;
}

std::vector<TJobDefinition> Wanted(const std::string& settings) {
    std::vector<std::string> skipped;
    std::vector<TJobDefinition> wanted;
    for (const tavrin::TJobSection& section : tavrin::ReadJobSections(settings, skipped))
        wanted.push_back(tavrin::jobs::DefinitionOf(section));
    EXPECT_TRUE(skipped.empty());
    return wanted;
}

// Brings the set in line with the file and waits until it is; the jobs whose start failed.
std::set<std::string> Reconcile(TJobSet& set, const std::string& settings) {
    bool done = false;
    std::set<std::string> failed;
    set.Reconcile(
        Wanted(settings), true,
        [&failed](TJob& job, std::exception_ptr) { failed.insert(job.Name()); },
        [&done] { done = true; });
    EXPECT_TRUE(WaitFor([&] { return done; }));
    return failed;
}

std::vector<std::string> NamesOf(const TJobSet& set) {
    std::vector<std::string> names;
    for (const auto& job : set.Jobs())
        names.push_back(job->Name());
    return names;
}

TEST(ManyJobs, StartAllStopAllAndRestartOnlyWhatChanged) {
    Scratch scratch;
    testsrv::PyFtpdOptions options;
    options.root = scratch.root + "/server";
    std::filesystem::create_directories(options.root + "/in");
    testsrv::PyFtpdServer ftp(options);
    ::setenv("TEMP", scratch.state.c_str(), 1);
    auto section = [&](const std::string& name, const std::string& extra = "") {
        const bool import = name[0] == 'I';
        const std::string local = scratch.root + "/" + name;
        std::filesystem::create_directories(local);
        return Named((import ? "Import:" : "Export:") + name, ftp.Port(), "/in", local, extra);
    };
    std::string file;
    for (const char* name : {"I0", "I1", "I2", "I3", "I4", "E0", "E1", "E2", "E3", "E4"})
        file += section(name);
    scratch.WriteSettings(file);

    SharedLog log;
    TJobSet set({}, scratch.settings, log.Sink());
    std::map<std::string, int> stops;
    QObject::connect(&set, &TJobSet::JobStateChanged, [&stops](TJob* job, TJobState state) {
        if (state == TJobState::Stopping)
            ++stops[job->Name()];
    });
    EXPECT_TRUE(Reconcile(set, scratch.settings).empty());
    ASSERT_EQ(set.Jobs().size(), 10u);
    for (const auto& job : set.Jobs())
        EXPECT_EQ(job->State(), TJobState::Running) << job->Name();

    // I1 and E2 change, E4 goes, E5 comes, Bad cannot start; the rest stays as it is.
    file.clear();
    for (const char* name : {"I0", "I2", "I3", "I4", "E0", "E1", "E3"})
        file += section(name);
    file += section("I1", "KeepAlive=0\n") + section("E2", "RetryFailed=1\n") + section("E5") +
            Named("Export:Bad", ftp.Port(), "/in", scratch.root + "/missing");
    scratch.WriteSettings(file);
    EXPECT_EQ(Reconcile(set, scratch.settings), std::set<std::string>{"Bad"});
    EXPECT_EQ(stops, (std::map<std::string, int>{{"I1", 1}, {"E2", 1}, {"E4", 1}}));
    EXPECT_EQ(NamesOf(set), (std::vector<std::string>{"I0", "I2", "I3", "I4", "E0", "E1", "E3",
                                                      "I1", "E2", "E5", "Bad"}));
    for (const auto& job : set.Jobs())
        EXPECT_EQ(job->State(),
                  job->Name() == "Bad" ? TJobState::FailedToStart : TJobState::Running)
            << job->Name();
    EXPECT_TRUE(Reconcile(set, scratch.settings) == std::set<std::string>{"Bad"});
    EXPECT_EQ(stops.size(), 3u) << "an unchanged file restarts nothing";

    int stopped = 0;
    for (const auto& job : set.Jobs())
        set.Stop(*job, [&stopped] { ++stopped; });
    EXPECT_TRUE(WaitFor([&] { return stopped == 10; }, 15s)) << stopped;
    for (const auto& job : set.Jobs())
        EXPECT_NE(job->State(), TJobState::Running) << job->Name();
    ::unsetenv("TEMP");
}

TEST(ManyJobs, ImportsFromTwoServersFetchTheirOwnSameNamedFiles) {
    Scratch scratch;
    ::setenv("TEMP", scratch.state.c_str(), 1);
    std::vector<std::unique_ptr<testsrv::PyFtpdServer>> servers;
    std::string file;
    for (const std::string name : {"North", "South"}) {
        testsrv::PyFtpdOptions options;
        options.root = scratch.root + "/server-" + name;
        std::filesystem::create_directories(options.root);
        testsrv::WriteWholeFile(options.root + "/same.txt", "from " + name + "\n");
        servers.push_back(std::make_unique<testsrv::PyFtpdServer>(options));
        std::filesystem::create_directories(scratch.root + "/" + name);
        file += Named("Import:" + name, servers.back()->Port(), "/", scratch.root + "/" + name);
    }
    scratch.WriteSettings(file);
    SharedLog log;
    TJobSet set({}, scratch.settings, log.Sink());
    EXPECT_TRUE(Reconcile(set, scratch.settings).empty());
    for (const std::string name : {"North", "South"})
        EXPECT_TRUE(WaitFor([&] {
            return testsrv::ReadWholeFile(scratch.root + "/" + name + "/same.txt") ==
                   "from " + name + "\n";
        })) << name;
    set.StopAllNow();
    for (const std::string name : {"North", "South"}) {
        const std::string names =
            testsrv::ReadWholeFile(scratch.state + "/LocalFileList-" + name + ".txt");
        EXPECT_NE(names.find("same.txt"), std::string::npos) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch.state + "/LocalFileList.txt"));
    ::unsetenv("TEMP");
}

} // namespace
