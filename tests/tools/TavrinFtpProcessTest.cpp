// tavrin-ftp as a person runs it to find out what a server does: a child process with its
// two output streams apart, against pyftpdlib on 127.0.0.1 (plain and explicit TLS).
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace stdfs = std::filesystem;

const std::string kTool = std::string(TAVRIN_BINARY_DIR) + "/tools/tavrin-ftp/tavrin-ftp";

struct Outcome {
    int exit = -1;
    std::string out, err;
};

// Runs the tool on a pseudo-terminal, as from a shell: answers the password prompt with
// `password` once it shows, and returns everything the terminal displayed.
Outcome RunOnTerminal(const std::vector<std::string>& arguments, const std::string& password) {
    std::vector<char*> argv;
    std::string tool = kTool;
    argv.push_back(tool.data());
    std::vector<std::string> copies = arguments;
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::unsetenv("TAVRIN_PASSWORD");
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Outcome outcome;
    if (pid < 0)
        return outcome;
    bool answered = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{terminal, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        char buffer[4096];
        const ssize_t count = ::read(terminal, buffer, sizeof buffer);
        if (count <= 0)
            break; // EIO: the tool has exited and the terminal is gone
        outcome.out.append(buffer, static_cast<size_t>(count));
        if (!answered && outcome.out.find("Password: ") != std::string::npos) {
            const std::string line = password + "\n";
            answered =
                ::write(terminal, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        }
    }
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    outcome.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ::close(terminal);
    return outcome;
}

class TavrinFtpProcess : public ::testing::Test {
protected:
    void SetUp() override {
        testsrv::Certificates(); // the known-servers file the child writes stays ours
        work_ = testsrv::MakeTempDir("tavrin-ftp-tool-");
        for (const char* dir : {"server/outbox", "server/inbox", "local"})
            stdfs::create_directories(work_ + "/" + dir);
        testsrv::WriteWholeFile(work_ + "/server/outbox/a.txt", "from the server\n");
        testsrv::WriteWholeFile(work_ + "/local/up.txt", "from here\n");
    }
    void TearDown() override {
        std::error_code ignored;
        stdfs::remove_all(work_, ignored);
    }

    // `environment`: NAME=value words for env(1) ("-u NAME" unsets); `input`: standard input.
    Outcome Run(const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment, const std::string& input) {
        testsrv::WriteWholeFile(work_ + "/stdin.txt", input);
        std::vector<std::string> argv = {"/bin/sh",
                                         "-c",
                                         "exec 2>\"$0\" <\"$1\"; shift; exec \"$@\"",
                                         work_ + "/stderr.txt",
                                         work_ + "/stdin.txt",
                                         "/usr/bin/env",
                                         "-u",
                                         "TAVRIN_PASSWORD"};
        argv.insert(argv.end(), environment.begin(), environment.end());
        argv.push_back(kTool);
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Outcome outcome;
        outcome.exit = testsrv::RunCommand(argv, outcome.out, std::chrono::seconds(60));
        outcome.err = testsrv::ReadWholeFile(work_ + "/stderr.txt");
        return outcome;
    }

    std::string work_;
};

TEST_F(TavrinFtpProcess, ExitCodesStreamsJobsPasswordsAndTheConversation) {
    testsrv::PyFtpdOptions options;
    options.root = work_ + "/server";
    testsrv::PyFtpdServer plain(options);
    options.tls = true;
    testsrv::PyFtpdServer tls(options);
    const std::string port = std::to_string(plain.Port());
    const std::string config = work_ + "/MonitorConfig.ini";
    // The import job keeps its password; the export job has none stored.
    testsrv::WriteWholeFile(config, "[Import]\nHost=127.0.0.1\nPort=" + port +
                                        "\nUsername=tavrin\nPassword=secret\n"
                                        "RemoteFolder=/outbox\n"
                                        "[Export]\nHost=127.0.0.1\nPort=" +
                                        std::to_string(tls.Port()) +
                                        "\nUsername=tavrin\nRemoteFolder=/inbox\nSSL=1\n");
    // Passwords from elsewhere: a systemd credential for the export job, and a password file
    // others may read for an import job.
    stdfs::create_directories(work_ + "/creds");
    testsrv::WriteWholeFile(work_ + "/creds/Export.password", "secret\n");
    testsrv::WriteWholeFile(work_ + "/shared-pw", "secret\n");
    stdfs::permissions(work_ + "/shared-pw", stdfs::perms(0644));
    const std::string sharedConfig = work_ + "/SharedPassword.ini";
    testsrv::WriteWholeFile(sharedConfig, "[Import]\nHost=127.0.0.1\nPort=" + port +
                                              "\nUsername=tavrin\nPasswordFile=" + work_ +
                                              "/shared-pw\n");
    const std::string got = work_ + "/local/got.txt";
    const std::vector<std::string> server = {"127.0.0.1", port, "tavrin"};
    auto with = [](std::vector<std::string> head, std::vector<std::string> tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    struct Row {
        const char* what;
        std::vector<std::string> arguments, environment;
        std::string input;
        int exit;
        std::vector<std::string> out, err; // each must appear in that stream
        std::string neverInErr = "secret";
    } rows[] = {
        {"help", {"--help"}, {}, "", 0, {"Usage: tavrin-ftp", "Examples:", "--job NAME"}, {}},
        {"short help", {"-h"}, {}, "", 0, {"Usage: tavrin-ftp"}, {}},
        {"version", {"--version"}, {}, "", 0, {"tavrin-ftp " TAVRIN_VERSION_TEXT "\n"}, {}},
        {"wrong option",
         with({"--bogus"}, with(server, {"x", "ls"})),
         {},
         "",
         1,
         {},
         {"unknown option --bogus", "--help"}},
        {"option without its value", {"--job"}, {}, "", 1, {}, {"--job needs a value"}},
        {"too few arguments", {"127.0.0.1", port}, {}, "", 1, {}, {"HOST PORT USER PASSWORD"}},
        {"port no number",
         {"127.0.0.1", "abc", "tavrin", "x", "ls"},
         {},
         "",
         1,
         {},
         {"PORT 'abc'"}},
        {"unknown command, nothing sent",
         with(server, {"secret", "ls", "fetch", "a"}),
         {},
         "",
         1,
         {},
         {"unknown command fetch"}},
        {"config without job",
         with({"--config", config}, with(server, {"x", "ls"})),
         {},
         "",
         1,
         {},
         {"--config goes with --job"}},
        {"unknown job",
         {"--job", "Nightly", "--config", config, "ls"},
         {},
         "",
         1,
         {},
         {"no job named \"Nightly\""}},
        {"missing settings file",
         {"--job", "Import", "--config", work_ + "/none.ini", "ls"},
         {},
         "",
         2,
         {},
         {"not found"}},
        {"import job: its server, account and folder",
         {"--job", "import", "--config", config, "pwd", "ls", "get", "a.txt", got},
         {},
         "",
         0,
         {"/outbox\n", "file ", " a.txt\n"},
         {}},
        {"export job over TLS, password from TAVRIN_PASSWORD",
         {"--job", "Export", "--config", config, "--verbose", "put", work_ + "/local/up.txt",
          "up.txt", "pwd"},
         {"TAVRIN_PASSWORD=secret"},
         "",
         0,
         {"/inbox\n"},
         {"> AUTH SSL", "> PASS ****", "< 230", "> STOR up.txt"}},
        {"export job, password from its systemd credential",
         {"--job", "Export", "--config", config, "pwd"},
         {"CREDENTIALS_DIRECTORY=" + work_ + "/creds"},
         "",
         0,
         {"/inbox\n"},
         {}},
        {"a password file others may read refuses the job",
         {"--job", "Import", "--config", sharedConfig, "pwd"},
         {},
         "",
         2,
         {},
         {"Password file \"" + work_ + "/shared-pw\" may be used by other users (mode 0644)"}},
        {"TAVRIN_PASSWORD for \"-\"",
         with(server, {"-", "noop"}),
         {"TAVRIN_PASSWORD=secret"},
         "",
         0,
         {"did nothing"},
         {}},
        {"\"-\" read from standard input",
         with(server, {"-", "noop"}),
         {},
         "secret\n",
         0,
         {"did nothing"},
         {}},
        {"\"-\" with nothing to read",
         with(server, {"-", "noop"}),
         {},
         "",
         1,
         {},
         {"no password given"}},
        {"a literal password wins over TAVRIN_PASSWORD",
         with(server, {"wrong", "noop"}),
         {"TAVRIN_PASSWORD=secret"},
         "",
         2,
         {},
         {"tavrin-ftp: "}},
        {"verbose: the conversation, password masked",
         with({"--verbose"}, with(server, {"secret", "pwd"})),
         {},
         "",
         0,
         {"/\n"},
         {"< 220 ", "> USER tavrin\n", "< 331 ", "> PASS ****\n", "< 230 ", "> PWD\n", "status: "}},
        {"verbose TLS: protocol, cipher, fingerprint",
         {"--tls", "--verbose", "127.0.0.1", std::to_string(tls.Port()), "tavrin", "secret", "ls"},
         {},
         "",
         0,
         {" outbox\n"},
         {"> PASS ****\n", "tls: protocol TLSv1.", ", cipher ", "certificate SHA-256 "}},
        {"progress without a terminal stays quiet",
         with({"--progress"}, with(server, {"secret", "get", "outbox/a.txt", got})),
         {},
         "",
         0,
         {},
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        stdfs::remove(got);
        const size_t commandsBefore = plain.Commands().size();
        const Outcome outcome = Run(row.arguments, row.environment, row.input);
        EXPECT_EQ(outcome.exit, row.exit) << outcome.out << outcome.err;
        for (const std::string& text : row.out)
            EXPECT_NE(outcome.out.find(text), std::string::npos) << text << " in:\n" << outcome.out;
        for (const std::string& text : row.err)
            EXPECT_NE(outcome.err.find(text), std::string::npos) << text << " in:\n" << outcome.err;
        EXPECT_EQ(outcome.err.find(row.neverInErr), std::string::npos) << outcome.err;
        // Errors and the conversation go to standard error only; a failure says nothing on
        // standard output, help and version nothing on standard error.
        if (row.exit != 0) {
            EXPECT_EQ(outcome.out, "");
        }
        if (row.err.empty()) {
            EXPECT_EQ(outcome.err, "");
        }
        if (row.exit == 1) {
            EXPECT_EQ(plain.Commands().size(), commandsBefore) << "a wrong command line connects";
        }
        const bool fetched =
            std::find(row.arguments.begin(), row.arguments.end(), got) != row.arguments.end();
        if (fetched && row.exit == 0) {
            EXPECT_EQ(testsrv::ReadWholeFile(got), "from the server\n");
        }
    }
    EXPECT_EQ(testsrv::ReadWholeFile(work_ + "/server/inbox/up.txt"), "from here\n");
    const std::vector<std::string> commands = plain.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "CWD /outbox"), commands.end());
    EXPECT_NE(std::find(commands.begin(), commands.end(), "PASS wrong"), commands.end());
}

} // namespace

TEST_F(TavrinFtpProcess, OnATerminalThePasswordIsNotEchoedAndTransfersShowProgress) {
    testsrv::PyFtpdOptions options;
    options.root = work_ + "/server";
    testsrv::PyFtpdServer server(options);
    testsrv::WriteWholeFile(work_ + "/server/outbox/big.bin", std::string(3000000, 'x'));
    const std::string got = work_ + "/local/big.bin";
    const Outcome outcome =
        RunOnTerminal({"--progress", "127.0.0.1", std::to_string(server.Port()), "tavrin", "-",
                       "get", "outbox/big.bin", got, "put", got, "inbox/back.bin"},
                      "secret");
    EXPECT_EQ(outcome.exit, 0) << outcome.out;
    EXPECT_NE(outcome.out.find("Password: "), std::string::npos) << outcome.out;
    EXPECT_EQ(outcome.out.find("secret"), std::string::npos) << "echoed: " << outcome.out;
    EXPECT_NE(outcome.out.find("\routbox/big.bin  3.0 MB of 3.0 MB  100%"), std::string::npos)
        << outcome.out;
    EXPECT_NE(outcome.out.find("\r" + got + "  3.0 MB of 3.0 MB  100%"), std::string::npos)
        << outcome.out;
    EXPECT_EQ(testsrv::ReadWholeFile(work_ + "/server/inbox/back.bin").size(), 3000000u);
}
