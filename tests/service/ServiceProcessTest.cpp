// The service as its users run it: a child process with a settings file, read through its
// standard output and standard error, stopped and reconfigured by signals.
#include "ServiceRun.h"
#include "servers/FaultyFtpdServer.h"
#include "servers/RealServers.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

namespace {

namespace stdfs = std::filesystem;
using namespace std::chrono_literals;

using servicetest::kService;
using servicetest::WaitFor;

class ServiceProcess : public servicetest::ServiceRun {
protected:
    void SetUp() override {
        MakeWorkFolder("tavrin-service-",
                       {"server/outbox", "server/other", "server/inbox", "import", "export"});
    }

    void WriteSettings(uint16_t port, const std::string& importPort,
                       const std::string& remoteFolder, const std::string& exportFolder,
                       const std::string& extraImport = "") {
        const std::string server = "Host=127.0.0.1\nUsername=tavrin\nPassword=secret\n";
        testsrv::WriteWholeFile(
            Config(), "[General]\nLogVerbose=0\n[Import]\n" + server + "Port=" + importPort +
                          "\nKeepAlive=1\nRemoteFolder=" + remoteFolder + "\nLocalFolder=" + work_ +
                          "/import\n" + extraImport + "[Export]\n" + server +
                          "Port=" + std::to_string(port) +
                          "\nRemoteFolder=/inbox\nLocalFolder=" + exportFolder + "\n");
    }
};

TEST_F(ServiceProcess, MovesFilesBothWaysRestartsOnHangUpAndSavesOnTerm) {
    testsrv::PyFtpdServer ftp(ServerOptions());
    testsrv::WriteWholeFile(work_ + "/server/outbox/first.txt", "from the server\n");
    testsrv::WriteWholeFile(work_ + "/server/other/second.txt", "from the other folder\n");
    WriteSettings(ftp.Port(), std::to_string(ftp.Port()), "/outbox", work_ + "/export");
    StartService();

    ASSERT_TRUE(WaitFor([&] { return StdoutHas("Export start Monitor started"); }, 20s))
        << Stdout() << Stderr();
    // Its passwords never reach a core file: none is written, whatever the shell allowed.
    EXPECT_TRUE(std::regex_search(
        testsrv::ReadWholeFile("/proc/" + std::to_string(service_.Pid()) + "/limits"),
        std::regex(R"(Max core file size +0 +0 )")));
    testsrv::WriteWholeFile(work_ + "/export/up.txt", "from here\n");
    EXPECT_TRUE(WaitFor([&] { return File("server/inbox/up.txt") == "from here\n"; }, 30s));
    EXPECT_TRUE(WaitFor([&] { return File("import/first.txt") == "from the server\n"; }, 30s));
    EXPECT_TRUE(
        WaitFor([&] { return StdoutHas("Import file Getting file \"first.txt\" done"); }, 10s));

    // Every line: UTC time stamp, direction, level word for its colour, the text.
    const std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (Import|Export|Service) )"
                          R"((start|info|file|tls|error) .*)");
    std::istringstream lines(Stdout());
    int count = 0;
    for (std::string text; std::getline(lines, text); ++count)
        EXPECT_TRUE(std::regex_match(text, line)) << text;
    EXPECT_GE(count, 6);
    EXPECT_TRUE(StdoutHas("Export file Uploading file \"" + work_ + "/export/up.txt\" done"));
    EXPECT_TRUE(StdoutHas("Import info Server is a \"UNIX Type: L8\". Current dir is \"/outbox\""));
    EXPECT_FALSE(StdoutHas(" info 227 ")) << "LogVerbose=0 must keep the client's own lines out";

    // A changed remote folder reaches the running import monitor through SIGHUP alone.
    WriteSettings(ftp.Port(), std::to_string(ftp.Port()), "/other", work_ + "/export");
    ASSERT_EQ(::kill(service_.Pid(), SIGHUP), 0);
    EXPECT_TRUE(
        WaitFor([&] { return File("import/second.txt") == "from the other folder\n"; }, 30s))
        << Stdout();
    const std::string restarted = Stdout();
    const size_t hangUp = restarted.find("Service info Settings read again");
    ASSERT_NE(hangUp, std::string::npos);
    // Only the import's settings changed: the export goes on watching without a restart.
    EXPECT_NE(restarted.find("Import start Monitor closed", hangUp), std::string::npos);
    EXPECT_EQ(restarted.find("Export start Monitor closed", hangUp), std::string::npos);

    ASSERT_EQ(::kill(service_.Pid(), SIGTERM), 0);
    ASSERT_TRUE(service_.WaitExit(20s));
    EXPECT_EQ(service_.ExitStatus(), 0) << Stderr();
    const std::string stopped = Stdout();
    const size_t term = stopped.find("Stopping on SIGTERM");
    ASSERT_NE(term, std::string::npos);
    EXPECT_LT(stopped.find("Export start Monitor closed", term),
              stopped.find("Import start Monitor closed", term));
    const std::string names = File("register/LocalFileList.txt");
    EXPECT_NE(names.find("first.txt"), std::string::npos) << names;
    EXPECT_NE(names.find("second.txt"), std::string::npos) << names;
}

TEST_F(ServiceProcess, MonitorThatCannotStartExitsTwoWithTheReasonOnStderr) {
    testsrv::PyFtpdServer ftp(ServerOptions());
    const std::string port = std::to_string(ftp.Port());
    const std::string missing = work_ + "/no-such-folder";
    struct Case {
        const char* what;
        std::string importPort, exportFolder, extraImport;
        std::vector<std::string> arguments;
        std::string reason;
    } cases[] = {
        {"port no number", "abc", work_ + "/export", "", {}, "'abc' is not a valid integer value"},
        {"port out of range",
         "70000",
         work_ + "/export",
         "",
         {"--import"},
         "Port 70000 is not between 1 and 65535"},
        {"watched folder missing",
         port,
         missing,
         "",
         {"--export"},
         "Export folder \"" + missing + "\" does not exist"},
        {"TLS key unreadable",
         port,
         work_ + "/export",
         "SSL=1\nSSLKey=" + missing + "/key.pem\n",
         {},
         "Cannot read TLS key"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteSettings(ftp.Port(), c.importPort, "/outbox", c.exportFolder, c.extraImport);
        StartService(c.arguments);
        ASSERT_TRUE(service_.WaitExit(20s));
        EXPECT_EQ(service_.ExitStatus(), 2);
        EXPECT_NE(Stderr().find(c.reason), std::string::npos) << Stderr();
        // Nothing was left running: whatever did start was stopped again.
        const std::string out = Stdout();
        EXPECT_EQ(out.find("Monitor started") == std::string::npos,
                  out.find("Monitor closed") == std::string::npos)
            << out;
    }
}

// A settings file named on the command line that is not there is a typing error, never a
// wish to run on defaults; a folder or an unreadable file is no better.
TEST_F(ServiceProcess, SettingsFileThatCannotBeReadExitsTwoNamingIt) {
    stdfs::create_directories(work_ + "/a-folder.ini");
    for (const std::string& named : {work_ + "/no-such.ini", work_ + "/a-folder.ini"}) {
        SCOPED_TRACE(named);
        service_ = testsrv::ChildProcess({"/bin/sh", "-c", "exec 2>\"$0\"; exec \"$@\"",
                                          work_ + "/stderr.txt", kService, "--config", named},
                                         work_ + "/stdout.txt");
        ASSERT_TRUE(service_.WaitExit(20s));
        EXPECT_EQ(service_.ExitStatus(), 2);
        EXPECT_NE(Stderr().find(named), std::string::npos) << Stderr();
        EXPECT_EQ(Stdout().find("Monitor started"), std::string::npos) << Stdout();
    }
}

// A failed cycle is one red line on standard output, not a line and then its error box.
TEST_F(ServiceProcess, EachFailureIsPrintedOnce) {
    testsrv::PyFtpdOptions refusing = ServerOptions();
    refusing.password = "other";
    testsrv::PyFtpdServer ftp(refusing);
    WriteSettings(ftp.Port(), std::to_string(ftp.Port()), "/outbox", work_ + "/export",
                  "KeepAlive=0\nCheckInterval=1\n");
    StartService({"--import"});
    auto errorLines = [&] {
        std::vector<std::string> texts;
        std::istringstream lines(Stdout());
        for (std::string text; std::getline(lines, text);)
            if (text.find(" Import error ") != std::string::npos)
                texts.push_back(text.substr(text.find(" Import error ")));
        return texts;
    };
    ASSERT_TRUE(WaitFor([&] { return errorLines().size() >= 2; }, 30s)) << Stdout();
    ASSERT_EQ(::kill(service_.Pid(), SIGTERM), 0);
    ASSERT_TRUE(service_.WaitExit(20s));
    // One red line per refused login; the login the stop cut short may have none.
    const auto commands = ftp.Commands();
    const auto logins = std::count_if(commands.begin(), commands.end(),
                                      [](const std::string& c) { return c.rfind("PASS", 0) == 0; });
    const auto refused = errorLines();
    const auto refusedLines = std::count_if(refused.begin(), refused.end(), [](const auto& line) {
        return line.find("Authentication failed.") != std::string::npos;
    });
    EXPECT_GE(refusedLines, logins - 1) << Stdout();
    EXPECT_LE(refusedLines, logins) << Stdout();
}

// A stop must not wait for a server that went quiet: whatever the monitors are blocked on,
// SIGTERM ends it, the register keeps what was fetched and the status is 0, within 5 s.
TEST_F(ServiceProcess, TermEndsEveryWaitWithinFiveSecondsAndSaves) {
    auto stall = [](testsrv::ScriptedSession& session, const std::string&) {
        session.Send("150 Here it comes\r\n");
        session.DataSend(""); // connected, and then nothing, not even the end
    };
    struct Case {
        const char* what;
        std::function<uint16_t()> start;    // the server; its port
        std::vector<std::string> arguments; // which monitors
        std::function<void()> beforeStall;  // what must be done before the stall
        std::function<bool()> stalled;      // the service is blocked on the server now
        std::string registered;             // a name the register must hold after
        int signal = SIGTERM;
    };
    std::unique_ptr<testsrv::ScriptedFtpServer> scripted;
    std::unique_ptr<testsrv::FaultyFtpdServer> faulty;
    auto startScripted = [&](std::string greeting, bool stallListing) {
        scripted = std::make_unique<testsrv::ScriptedFtpServer>(greeting);
        if (stallListing) {
            scripted->Handle("LIST", stall);
            scripted->Handle("MLSD", stall);
        }
        return scripted->Port();
    };
    auto startFaulty = [&] {
        faulty = std::make_unique<testsrv::FaultyFtpdServer>(
            testsrv::FaultyFtpdOptions{.root = work_ + "/server", .tls = false});
        return faulty->Port();
    };
    auto commandSeen = [&](const std::string& verb) {
        for (const std::string& command : scripted->Commands())
            if (command.rfind(verb, 0) == 0)
                return true;
        return false;
    };
    const Case cases[] = {
        {"server accepts and never greets",
         [&] { return startScripted("", false); },
         {"--import"},
         nullptr,
         [&] { return scripted->SessionsAccepted() > 0; },
         ""},
        {"listing stalls",
         [&] { return startScripted("220 Ready\r\n", true); },
         {"--import"},
         nullptr,
         [&] { return commandSeen("LIST") || commandSeen("MLSD"); },
         "",
         SIGINT},
        {"download stalls after an earlier file came whole",
         startFaulty,
         {"--import"},
         [&] {
             testsrv::WriteWholeFile(work_ + "/server/outbox/first.txt", "whole\n");
             ASSERT_TRUE(WaitFor([&] { return File("import/first.txt") == "whole\n"; }, 30s))
                 << Stdout();
             faulty->SetFaults(testsrv::FaultPlan().StallDownload("second.bin", 1000));
             testsrv::WriteWholeFile(work_ + "/server/outbox/second.bin",
                                     std::string(1 << 20, 'b'));
         },
         [&] { return faulty->WaitForEvent("stall second.bin", 0ms); },
         "first.txt"},
        {"upload stops being read",
         startFaulty,
         {"--export"},
         [&] {
             ASSERT_TRUE(WaitFor([&] { return StdoutHas("Export start Monitor started"); }, 20s));
             faulty->SetFaults(testsrv::FaultPlan().StopReadingUpload("big.bin", 20000));
             testsrv::WriteWholeFile(work_ + "/export/big.bin", std::string(32 << 20, 'u'));
         },
         [&] { return faulty->WaitForEvent("stop-reading big.bin", 0ms); },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint16_t port = c.start();
        WriteSettings(port, std::to_string(port), "/outbox", work_ + "/export",
                      "WaitForStableFiles=0\n");
        StartService(c.arguments);
        if (c.beforeStall)
            c.beforeStall();
        ASSERT_TRUE(WaitFor(c.stalled, 60s)) << Stdout() << Stderr();
        ASSERT_EQ(::kill(service_.Pid(), c.signal), 0);
        EXPECT_TRUE(service_.WaitExit(5s)) << Stdout();
        service_.Stop();
        EXPECT_EQ(service_.ExitStatus(), 0) << Stdout() << Stderr();
        const std::string out = Stdout();
        EXPECT_NE(out.find("Monitor closed"), std::string::npos) << out;
        // An import cut off by the stop has nothing to report (an upload says it stays).
        if (c.arguments.front() == "--import") {
            EXPECT_EQ(out.find(" error ", out.find("Stopping on SIG")), std::string::npos) << out;
        }
        if (!c.registered.empty()) {
            EXPECT_NE(File("register/LocalFileList.txt").find(c.registered), std::string::npos);
        }
        scripted.reset();
        faulty.reset();
    }
}

// Two programs on one settings file or one register fetch the same files twice: the second
// says which process holds them and goes; once the first has ended, the files are free.
TEST_F(ServiceProcess, SecondServiceOnTheSameFilesExitsTwoNamingTheHolder) {
    WriteSettings(21, "21", "/outbox", work_ + "/export");
    StartService({"--export"});
    ASSERT_TRUE(WaitFor([&] { return StdoutHas("Export start Monitor started"); }, 20s))
        << Stdout() << Stderr();
    const std::string holder = "process " + std::to_string(service_.Pid());
    const std::string other = work_ + "/Other.ini";
    stdfs::copy_file(Config(), other);
    struct Case {
        const char* what;
        std::string config, named;
    } cases[] = {
        {"same settings file", Config(), Config() + " is in use by " + holder},
        {"other settings, same register", other,
         work_ + "/register/LocalFileList.txt is in use by " + holder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsrv::ChildProcess second({"/bin/sh", "-c", "exec 2>\"$0\"; exec \"$@\"",
                                      work_ + "/stderr2.txt", kService, "--config", c.config,
                                      "--export"},
                                     work_ + "/stdout2.txt");
        ASSERT_TRUE(second.WaitExit(20s));
        EXPECT_EQ(second.ExitStatus(), 2);
        EXPECT_NE(File("stderr2.txt").find(c.named), std::string::npos) << File("stderr2.txt");
        EXPECT_EQ(File("stdout2.txt").find("Monitor started"), std::string::npos);
    }
    // The lock went with the first service; the lock file stays and blocks nobody.
    ASSERT_EQ(::kill(service_.Pid(), SIGTERM), 0);
    ASSERT_TRUE(service_.WaitExit(20s));
    StartService({"--export"});
    EXPECT_TRUE(WaitFor([&] { return StdoutHas("Export start Monitor started"); }, 20s))
        << Stdout() << Stderr();
}

} // namespace
