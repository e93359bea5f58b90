// Hooks: the command line split like a shell's words with nothing expanded, real processes
// with the TAVRIN_* environment, their failures in the log, the bound, at most a few at once,
// and jobs that run them after a file moved and when they start failing.
#include "JobTestSupport.h"

#include "jobs/Hooks.h"
#include "jobs/HooksCommandLine.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace std::chrono_literals;
using namespace jobtest;
using tavrin::jobs::THookEvent;
using tavrin::jobs::THookRunner;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at))
        text.replace(at, what.size(), with), at += with.size();
    return text;
}

// A process gone, or a zombie no one reaped yet: either way it runs no more.
bool ProcessEnded(const std::string& pid) {
    const std::string stat = ReadAll("/proc/" + pid + "/stat");
    const size_t close = stat.rfind(')');
    return stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z");
}

TEST(HookCommandLine, SplitsLikeAShellAndExpandsNothing) {
    struct Row {
        const char* line;
        std::vector<std::string> words;
        const char* problem;
    } rows[] = {
        {"a  b\tc", {"a", "b", "c"}, nullptr},
        {"  ", {}, nullptr},
        {"'a b' \"c d\"", {"a b", "c d"}, nullptr},
        {R"(a\ b \'x)", {"a b", "'x"}, nullptr},
        // Nothing a shell would act on is more than a character here.
        {"$HOME *.txt ; | && `id` >out",
         {"$HOME", "*.txt", ";", "|", "&&", "`id`", ">out"},
         nullptr},
        // Between double quotes a backslash escapes only \ " $ `; elsewhere it stays.
        {R"("a\"b" "\$x \\ \n")", {"a\"b", "$x \\ \\n"}, nullptr},
        {R"('a\b' 'it''s')", {"a\\b", "its"}, nullptr},
        {"a '' \"\" b", {"a", "", "", "b"}, nullptr},
        {"x\"y\"'z'\\w", {"xyzw"}, nullptr},
        {"a\\\nb c", {"ab", "c"}, nullptr},
        {"sh -c 'echo \"$1\"' x", {"sh", "-c", "echo \"$1\"", "x"}, nullptr},
        {"echo 'abc", {}, "unterminated quote"},
        {"echo \"abc\\\"", {}, "unterminated quote"},
        {"echo abc\\", {}, "backslash at the end"},
    };
    for (const Row& row : rows) {
        const tavrin::jobs::THookWords split = tavrin::jobs::SplitHookCommand(row.line);
        EXPECT_EQ(split.words, row.words) << row.line;
        EXPECT_EQ(split.problem.value_or(""), row.problem ? row.problem : "") << row.line;
    }
}

TEST(HookEvents, NameTheFileWhereItIsAndTheRemoteOneInTheServersWay) {
    RConfiguration config;
    config.LocalFolder = "/data/out";
    config.RemoteFolder = "/in";
    RConfiguration moving = config;
    moving.MoveDelete = true;
    moving.MoveToFolder = "/data/sent";
    RConfiguration windows = config;
    windows.RemoteFolder = "D:\\drop";
    struct Row {
        const char* what;
        const RConfiguration& config;
        TTransferProgress progress;
        THookEvent expected;
    } rows[] = {
        {"download done",
         config,
         {"a.txt", false, 7, 7, TTransferPhase::Done},
         {"J", false, "/data/out/a.txt", "/in/a.txt", 7, false, ""}},
        {"size unknown to the listing",
         config,
         {"a.txt", false, 9, {}, TTransferPhase::Done},
         {"J", false, "/data/out/a.txt", "/in/a.txt", 9, false, ""}},
        {"upload done and moved",
         moving,
         {"b", true, 3, 3, TTransferPhase::Done},
         {"J", true, "/data/sent/b", "/in/b", 3, false, ""}},
        {"upload failed: the file stays",
         moving,
         {"b", true, 1, {}, TTransferPhase::Failed},
         {"J", true, "/data/out/b", "/in/b", {}, true, "why"}},
        {"backslash server",
         windows,
         {"c", true, 0, 0, TTransferPhase::Done},
         {"J", true, "/data/out/c", "D:\\drop\\c", 0, false, ""}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(tavrin::jobs::FileHookEvent("J", row.config, row.progress, "why"), row.expected)
            << row.what;
}

// Real processes, one runner per row: what they were given, and the one line (or none) each
// leaves in the log.
TEST(HookRunner, RunsWithoutAShellAndLogsEveryWayAHookCanGoWrong) {
    Scratch scratch;
    const std::string dir = scratch.root;
    const THookEvent event{"Export",
                           true,
                           "/l/a b.txt",
                           "/r/a b.txt",
                           uint64_t{12},
                           true,
                           "File a b.txt not uploaded."};
    struct Row {
        const char* what;
        std::string command; // %D: the scratch folder
        std::chrono::milliseconds bound;
        std::string line;   // the red line expected; empty: none
        std::string output; // file %D/out must then hold this; empty: no check
    } rows[] = {
        {"environment",
         "sh -c 'env | grep -E ^TAVRIN_[A-Z]+= | grep -v ^TAVRIN_CONFIG | sort > \"$0\"' %D/out",
         10s, "",
         "TAVRIN_DIRECTION=export\nTAVRIN_FILE=/l/a b.txt\nTAVRIN_JOB=Export\n"
         "TAVRIN_MESSAGE=File a b.txt not uploaded.\nTAVRIN_REMOTE=/r/a b.txt\n"
         "TAVRIN_SIZE=12\nTAVRIN_STATUS=failed\n"},
        {"no shell: ; and $ are arguments",
         "sh -c 'printf \"%s\\n\" \"$@\" > \"$0\"' %D/out a;b 'c d' $HOME \"e\\\"f\" ; touch "
         "%D/mark",
         10s, "", "a;b\nc d\n$HOME\ne\"f\n;\ntouch\n%D/mark\n"},
        {"failing exit with its last stderr line",
         "sh -c 'echo first >&2; echo \"last words\" >&2; exit 3'", 10s,
         "Export > Hook \"sh -c 'echo first >&2; echo \"last words\" >&2; exit 3'\" failed with "
         "exit status 3. last words",
         ""},
        {"killed by a signal", "sh -c 'kill -KILL $$'", 10s,
         "Export > Hook \"sh -c 'kill -KILL $$'\" ended by a signal.", ""},
        {"missing program", "/nonexistent/tavrin-hook x", 10s,
         "Export > Hook \"/nonexistent/tavrin-hook x\" could not be started: "
         "/nonexistent/tavrin-hook: ",
         ""},
        {"unterminated quote", "echo 'abc", 10s,
         "Export > Hook \"echo 'abc\" not run: unterminated quote.", ""},
        // What the hook started goes with it: the sleep is in its process group.
        {"bound", "sh -c 'sleep 30 & echo $! > \"$0\"; wait' %D/out", 500ms,
         "Export > Hook \"sh -c 'sleep 30 & echo $! > \"$0\"; wait' %D/out\" ran longer than "
         "500 ms and was killed.",
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::filesystem::remove(dir + "/out");
        SharedLog log;
        THookRunner runner(THookRunner::TLimits{row.bound, 4, 200});
        runner.Run(Replaced(row.command, "%D", dir), event, log.Sink(), "Export > ");
        ASSERT_TRUE(WaitFor([&] { return runner.Running() == 0; }, 20s));
        const std::vector<std::string> lines = log.Lines();
        const std::string line = Replaced(row.line, "%D", dir);
        if (line.empty()) {
            EXPECT_TRUE(lines.empty()) << lines.front();
        } else {
            ASSERT_EQ(lines.size(), 1u);
            // The reason a start failed is the system's own words.
            EXPECT_EQ(lines[0].substr(0, line.size()), line);
        }
        if (!row.output.empty()) {
            EXPECT_EQ(ReadAll(dir + "/out"), Replaced(row.output, "%D", dir));
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/mark"));
    const std::string sleeper = LinesOf(ReadAll(dir + "/out")).at(0);
    EXPECT_TRUE(WaitFor([&] { return ProcessEnded(sleeper); }, 5s)) << sleeper;
}

// Each hook counts the hooks running beside it, by files, and waits for a go; those beyond
// the waiting room are not run, with a line each.
TEST(HookRunner, RunsAtMostItsLimitAtOnceAndQueuesTheRestBounded) {
    struct Row {
        size_t running, waiting, launched;
        size_t dropped;
    } rows[] = {{4, 200, 9, 0}, {1, 2, 5, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.running);
        Scratch scratch;
        const std::string slotDir = scratch.root + "/slotDir";
        std::filesystem::create_directories(slotDir);
        const std::string hook =
            "sh -c 'touch \"$0/run.$$\"; ls \"$0\" | grep -c ^run >> \"$0/../counts\"; "
            "while [ ! -e \"$0/../go\" ]; do sleep 0.02; done; rm \"$0/run.$$\"' " +
            slotDir;
        SharedLog log;
        THookRunner runner(THookRunner::TLimits{20s, row.running, row.waiting});
        for (size_t i = 0; i < row.launched; ++i)
            runner.Run(hook, THookEvent{}, log.Sink(), "J > ");
        EXPECT_EQ(runner.Running(), row.running);
        EXPECT_EQ(runner.Waiting(), row.launched - row.running - row.dropped);
        ASSERT_TRUE(WaitFor(
            [&] { return LinesOf(ReadAll(scratch.root + "/counts")).size() == row.running; }));
        std::ofstream(scratch.root + "/go") << "";
        ASSERT_TRUE(WaitFor([&] { return runner.Running() + runner.Waiting() == 0; }, 30s));
        std::vector<int> counts;
        for (const std::string& count : LinesOf(ReadAll(scratch.root + "/counts")))
            counts.push_back(std::stoi(count));
        EXPECT_EQ(counts.size(), row.launched - row.dropped);
        EXPECT_EQ(*std::max_element(counts.begin(), counts.end()), static_cast<int>(row.running));
        const std::vector<std::string> lines = log.Lines();
        EXPECT_EQ(lines.size(), row.dropped);
        for (const std::string& line : lines)
            EXPECT_TRUE(line.ends_with(" not run: " + std::to_string(row.waiting) +
                                       " hooks are waiting already."))
                << line;
    }
}

} // namespace

namespace {

// Real jobs against pyftpdlib: an export whose moved file runs OnTransferCommand with the
// file's whole story, and an import whose folder is missing runs OnFailureCommand once for
// the job, not at every cycle. No password reaches a hook.
TEST(JobHooks, ExportRunsItsTransferHookAndAFailingImportItsFailureHookOnce) {
    Scratch scratch;
    testsrv::PyFtpdOptions options;
    options.root = scratch.root + "/server";
    std::filesystem::create_directories(options.root + "/in");
    testsrv::PyFtpdServer ftp(options);
    ::setenv("TEMP", scratch.state.c_str(), 1);
    const std::string dump = "sh -c 'env | grep -E ^TAVRIN_[A-Z]+= | grep -v ^TAVRIN_CONFIG "
                             "| sort >> \"$0\"; env | grep -c secret >> \"$0.secret\" || :' ";
    scratch.WriteSettings(
        ExportSection(ftp.Port(), scratch.exported,
                      "RemoteFolder=/in\nMoveDelete=1\nMoveToFolder=" + scratch.root +
                          "/sent\nOnTransferCommand=" + dump + scratch.root + "/done.env\n") +
        ImportSection(ftp.Port(), scratch.local,
                      "RemoteFolder=/missing\nCheckInterval=1\nOnFailureCommand=" + dump +
                          scratch.root + "/failed.env\n"));
    SharedLog log;
    tavrin::jobs::TJobSet jobs(tavrin::jobs::StandardJobs(), scratch.settings, log.Sink());
    // What notifications hear of: each file's end and each failed cycle.
    std::vector<std::string> outcomes;
    QObject::connect(&jobs, &tavrin::jobs::TJobSet::JobOutcome,
                     [&outcomes](tavrin::jobs::TJob* job, tavrin::jobs::TJobOutcome outcome,
                                 const std::string& file, const std::string&) {
                         outcomes.push_back(job->Name() + " " +
                                            std::to_string(static_cast<int>(outcome)) + " " + file);
                     });
    for (const auto& job : jobs.Jobs()) {
        job->OnErrorBox = [](const tavrin::jobs::TJob&, const std::string&) {};
        jobs.Start(*job);
    }
    std::ofstream(scratch.exported + "/a b.txt") << "12345";

    ASSERT_TRUE(WaitFor([&] { return ReadAll(scratch.root + "/done.env").size() > 0; }, 30s));
    EXPECT_EQ(ReadAll(scratch.root + "/done.env"),
              "TAVRIN_DIRECTION=export\nTAVRIN_FILE=" + scratch.root +
                  "/sent/a b.txt\nTAVRIN_JOB=Export\nTAVRIN_MESSAGE=\n"
                  "TAVRIN_REMOTE=/in/a b.txt\nTAVRIN_SIZE=5\nTAVRIN_STATUS=done\n");

    ASSERT_TRUE(WaitFor([&] { return ReadAll(scratch.root + "/failed.env").size() > 0; }, 30s))
        << ::testing::PrintToString(log.Lines());
    // The failure comes again at the next cycles; the hook does not.
    const std::vector<std::string> before = log.Lines();
    const std::string failure = LinesOf(ReadAll(scratch.root + "/failed.env")).at(3);
    ASSERT_EQ(failure.rfind("TAVRIN_MESSAGE=", 0), 0u) << failure;
    const std::string line = "Import > " + failure.substr(15);
    const int first = log.IndexOf(line);
    ASSERT_GE(first, 0) << line;
    ASSERT_TRUE(
        WaitFor([&] { return log.IndexOf(line, static_cast<int>(before.size())) > 0; }, 30s));
    ASSERT_TRUE(WaitFor([&] { return jobs.Hooks().Running() == 0; }));
    const std::vector<std::string> failed = LinesOf(ReadAll(scratch.root + "/failed.env"));
    ASSERT_EQ(failed.size(), 7u);
    EXPECT_EQ(failed[0], "TAVRIN_DIRECTION=import");
    EXPECT_EQ(failed[1], "TAVRIN_FILE=");
    EXPECT_EQ(failed[2], "TAVRIN_JOB=Import");
    EXPECT_EQ(failed[4], "TAVRIN_REMOTE=");
    EXPECT_EQ(failed[5], "TAVRIN_SIZE=");
    EXPECT_EQ(failed[6], "TAVRIN_STATUS=failed");
    // One outcome per failed cycle, whatever number of lines it had.
    auto importFailures = [&] { return std::count(outcomes.begin(), outcomes.end(), "Import 2 "); };
    ASSERT_TRUE(WaitFor([&] { return importFailures() >= 2; }, 10s));
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), "Export 0 a b.txt"), 1);
    EXPECT_EQ(importFailures(), static_cast<long>(outcomes.size() - 1));
    for (const char* secretCount : {"/done.env.secret", "/failed.env.secret"})
        EXPECT_EQ(ReadAll(scratch.root + secretCount), "0\n") << secretCount;
    jobs.StopAllNow();
}

} // namespace

namespace {

// An upload that fails is one failure of one file: the failure hook runs once, for the file,
// and the lines before its report are not taken for a failure of the job besides.
TEST(JobHooks, AFailedUploadRunsTheFailureHookOnceForItsFile) {
    Scratch scratch;
    testsrv::PyFtpdOptions options;
    options.root = scratch.root + "/server";
    std::filesystem::create_directories(options.root);
    testsrv::PyFtpdServer ftp(options);
    ::setenv("TEMP", scratch.state.c_str(), 1);
    scratch.WriteSettings(
        ExportSection(ftp.Port(), scratch.exported,
                      "RemoteFolder=/missing\nOnFailureCommand=sh -c 'env | grep -E "
                      "^TAVRIN_[A-Z]+= | grep -v ^TAVRIN_CONFIG | sort >> \"$0\"' " +
                          scratch.root + "/failed.env\n"));
    SharedLog log;
    tavrin::jobs::TJobSet jobs({{"Export", tavrin::jobs::TJobKind::Export}}, scratch.settings,
                               log.Sink());
    std::vector<tavrin::jobs::TJobOutcome> outcomes;
    QObject::connect(&jobs, &tavrin::jobs::TJobSet::JobOutcome,
                     [&outcomes](tavrin::jobs::TJob*, tavrin::jobs::TJobOutcome outcome,
                                 const std::string&,
                                 const std::string&) { outcomes.push_back(outcome); });
    jobs.Start(*jobs.Jobs().front());
    std::ofstream(scratch.exported + "/x.txt") << "abc";

    ASSERT_TRUE(WaitFor([&] { return !outcomes.empty(); }, 30s));
    ASSERT_TRUE(
        WaitFor([&] { return LinesOf(ReadAll(scratch.root + "/failed.env")).size() >= 7; }, 20s));
    // Well past the moment lines of the job's own failure would have been told.
    EXPECT_FALSE(WaitFor([&] { return outcomes.size() > 1; }, 2s));
    ASSERT_TRUE(WaitFor([&] { return jobs.Hooks().Running() == 0; }));
    EXPECT_EQ(outcomes, std::vector{tavrin::jobs::TJobOutcome::FileFailed});
    const std::vector<std::string> env = LinesOf(ReadAll(scratch.root + "/failed.env"));
    ASSERT_EQ(env.size(), 7u) << ::testing::PrintToString(env);
    EXPECT_EQ(env[1], "TAVRIN_FILE=" + scratch.exported + "/x.txt");
    EXPECT_EQ(env[3].substr(0, 15), "TAVRIN_MESSAGE=");
    EXPECT_GT(env[3].size(), 15u);
    EXPECT_EQ(env[4], "TAVRIN_REMOTE=/missing/x.txt");
    EXPECT_EQ(env[5], "TAVRIN_SIZE=3");
    EXPECT_EQ(env[6], "TAVRIN_STATUS=failed");
    jobs.StopAllNow();
}

} // namespace
