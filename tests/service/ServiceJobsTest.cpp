// The service with named jobs: each job runs on its own folders and register, SIGHUP brings
// the running jobs in line with the file (changed ones restart, new ones start, removed ones
// stop, one that cannot start stays stopped while the others run), and --list / --check
// describe the file without starting anything.
#include "ServiceRun.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <thread>

namespace {

namespace stdfs = std::filesystem;
using namespace std::chrono_literals;
using servicetest::WaitFor;

class ServiceJobs : public servicetest::ServiceRun {
protected:
    void SetUp() override {
        MakeWorkFolder("tavrin-service-jobs-",
                       {"server/a1", "server/a2", "server/c", "server/inbox", "local/a", "local/b",
                        "local/c", "local/d"});
    }

    std::string Job(const std::string& section, uint16_t port, const std::string& remote,
                    const std::string& local, const std::string& extra = "") const {
        return "[" + section + "]\nHost=127.0.0.1\nPort=" + std::to_string(port) +
               "\nUsername=tavrin\nPassword=secret\nRemoteFolder=" + remote +
               "\nLocalFolder=" + local + "\nCheckInterval=1\nSettleTime=100\n" + extra;
    }
    void Write(const std::string& text) const {
        testsrv::WriteWholeFile(Config(), "[General]\nLogVerbose=0\n" + text);
    }
    void Start(std::vector<std::string> arguments = {}) { StartService(std::move(arguments)); }
};

TEST_F(ServiceJobs, HangUpRestartsChangedStartsNewAndStopsRemovedJobs) {
    testsrv::PyFtpdServer ftp(ServerOptions());
    const uint16_t port = ftp.Port();
    Put("server/a1/one.txt", "a1\n");
    Put("server/a2/two.txt", "a2\n");
    Put("server/c/three.txt", "c\n");
    const std::string a = Job("Import:A", port, "/a1", work_ + "/local/a");
    const std::string b = Job("Export:B", port, "/inbox", work_ + "/local/b");
    const std::string c = Job("Import:C", port, "/c", work_ + "/local/c");
    Write(a + b + c);
    Start();
    ASSERT_TRUE(WaitFor([&] { return File("local/a/one.txt") == "a1\n"; }, 30s))
        << Stdout() << Stderr();
    ASSERT_TRUE(WaitFor([&] { return File("local/c/three.txt") == "c\n"; }, 30s)) << Stdout();
    ASSERT_TRUE(WaitFor([&] { return StdoutHas("B start Monitor started"); }, 20s)) << Stdout();
    // Each import keeps its own register beside the one of "Import".
    EXPECT_TRUE(WaitFor(
        [&] { return File("register/LocalFileList-A.txt").find("one.txt") != std::string::npos; },
        10s));

    // A moves to another folder, C goes, D comes, E cannot start (its folder is missing).
    Write(Job("Import:A", port, "/a2", work_ + "/local/a") + b +
          Job("Export:D", port, "/inbox", work_ + "/local/d") +
          Job("Export:E", port, "/inbox", work_ + "/local/missing"));
    const size_t hangUp = Stdout().size();
    ASSERT_EQ(::kill(service_.Pid(), SIGHUP), 0);
    EXPECT_TRUE(WaitFor([&] { return File("local/a/two.txt") == "a2\n"; }, 30s)) << Stdout();
    EXPECT_TRUE(WaitFor([&] { return StdoutHas("D start Monitor started", hangUp); }, 20s))
        << Stdout();
    EXPECT_TRUE(WaitFor([&] { return StdoutHas("cannot start job E", hangUp); }, 20s)) << Stdout();
    Put("local/d/from-d.txt", "d\n");
    Put("local/b/from-b.txt", "b\n");
    EXPECT_TRUE(WaitFor([&] { return File("server/inbox/from-d.txt") == "d\n"; }, 30s));
    EXPECT_TRUE(WaitFor([&] { return File("server/inbox/from-b.txt") == "b\n"; }, 30s));

    const std::string out = Stdout();
    EXPECT_NE(out.find("A start Monitor closed", hangUp), std::string::npos) << out;
    EXPECT_NE(out.find("C start Monitor closed", hangUp), std::string::npos) << out;
    EXPECT_EQ(out.find("B start Monitor closed", hangUp), std::string::npos) << out;
    EXPECT_FALSE(service_.WaitExit(0ms)) << "a job that cannot start must not end the service";

    ASSERT_EQ(::kill(service_.Pid(), SIGTERM), 0);
    ASSERT_TRUE(service_.WaitExit(20s));
    EXPECT_EQ(service_.ExitStatus(), 0) << Stderr();
}

TEST_F(ServiceJobs, RunsTheEnabledJobsOrTheOnesNamed) {
    Write(Job("Import:A", 1, "/a1", work_ + "/local/a") +
          Job("Export:B", 1, "/inbox", work_ + "/local/b", "Enabled=0\n") +
          Job("Export:C", 1, "/inbox", work_ + "/local/c") + "[Export:D/E]\n");
    struct Row {
        const char* what;
        std::vector<std::string> arguments;
        std::vector<std::string> started, notStarted;
        std::string failure; // on standard error, exit 2
    } rows[] = {
        {"enabled ones", {}, {"A", "C"}, {"B"}, ""},
        {"named ones, case ignored", {"--job", "b", "--job", "A"}, {"A", "B"}, {"C"}, ""},
        {"a name the file lacks",
         {"--job", "A", "--job", "Nope"},
         {},
         {"A"},
         "no job named \"Nope\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Start(row.arguments);
        if (!row.failure.empty()) {
            ASSERT_TRUE(service_.WaitExit(20s));
            EXPECT_EQ(service_.ExitStatus(), 2);
            EXPECT_NE(Stderr().find(row.failure), std::string::npos) << Stderr();
        } else {
            for (const std::string& name : row.started)
                EXPECT_TRUE(
                    WaitFor([&] { return StdoutHas(name + " start Monitor started"); }, 20s))
                    << Stdout() << Stderr();
            EXPECT_TRUE(StdoutHas("Job [Export:D/E] skipped")) << Stdout();
            ASSERT_EQ(::kill(service_.Pid(), SIGTERM), 0);
            ASSERT_TRUE(service_.WaitExit(20s));
        }
        for (const std::string& name : row.notStarted)
            EXPECT_FALSE(StdoutHas(name + " start Monitor started")) << Stdout();
    }
}

TEST_F(ServiceJobs, ListAndCheckDescribeTheFileWithoutStarting) {
    const std::string good = Job("Import:A", 2121, "/a1", work_ + "/local/a") +
                             Job("Export:B", 21, "inbox", work_ + "/local/b", "Enabled=0\n");
    struct Row {
        const char* what;
        std::string file;
        const char* option;
        int exit;
        std::vector<std::string> present, absent;
    } rows[] = {
        {"list",
         good,
         "--list",
         0,
         {"A: import, server tavrin@127.0.0.1:2121/a1, local folder " + work_ +
              "/local/a, password: settings file\n",
          "B: export, server tavrin@127.0.0.1:21/inbox", "(disabled)"},
         {"secret"}},
        {"list says where each password comes from, never the password",
         Job("Import:F", 21, "/a1", work_ + "/local/a", "PasswordFile=" + work_ + "/pw\n") +
             Job("Import:K", 21, "/a1", work_ + "/local/a", "PasswordStore=keyring\n") +
             "[Export:S]\nProtocol=SFTP\nHost=127.0.0.1\nUsername=u\nPassword=secret\n"
             "SSHKey=/k\nSSHAgent=1\nLocalFolder=" +
             work_ + "/local/b\n",
         "--list",
         0,
         {"F: import, server tavrin@127.0.0.1:21/a1, local folder " + work_ +
              "/local/a, password: password file " + work_ + "/pw\n",
          "password: desktop keyring\n",
          "S: export, server u@127.0.0.1:22/, local folder " + work_ +
              "/local/b, password: SSH agent, then key file /k, then settings file\n"},
         {"secret"}},
        {"check, good", good, "--check", 0, {"No problems found"}, {}},
        {"check names passwords the service cannot use",
         Job("Import:F", 21, "/a1", work_ + "/local/a", "PasswordFile=" + work_ + "/pw\n") +
             "[Import:K]\nHost=127.0.0.1\nUsername=u\nPasswordStore=keyring\nLocalFolder=" + work_ +
             "/local/a\n",
         "--check",
         2,
         {"F: Password file \"" + work_ + "/pw\" may be used by other users (mode 0644)",
          "K: ", "cannot be reached here"},
         {"secret"}},
        {"check names every problem",
         Job("Import:A", 2121, "/a1", "") + "[Export:bad/name]\nHost=x\n" +
             Job("Export:a", 21, "/x", work_ + "/local/b") +
             Job("Export:B", 0, "/x", work_ + "/local/missing"),
         "--check",
         2,
         {"A: Import folder is not set", "Job [Export:bad/name] skipped", "Job [Export:a] skipped",
          "B: Export folder", "B: Port 0 is not between 1 and 65535"},
         {}},
    };
    Put("pw", "secret\n");
    ASSERT_EQ(::chmod((work_ + "/pw").c_str(), 0644), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Write(row.file);
        Start({row.option});
        ASSERT_TRUE(service_.WaitExit(20s));
        EXPECT_EQ(service_.ExitStatus(), row.exit) << Stdout() << Stderr();
        for (const std::string& text : row.present)
            EXPECT_TRUE(StdoutHas(text)) << text << "\n" << Stdout();
        for (const std::string& text : row.absent)
            EXPECT_FALSE(StdoutHas(text)) << text;
        EXPECT_FALSE(StdoutHas("Monitor started"));
    }
}

} // namespace
