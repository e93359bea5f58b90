// tavrin-ftp --sftp as a person runs it: a child process against OpenSSH's sshd on 127.0.0.1,
// with a HOME and state folder of its own so host keys go nowhere else.
#include "servers/ChildProcess.h"
#include "servers/SshdServer.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace stdfs = std::filesystem;

const std::string kTool = std::string(TAVRIN_BINARY_DIR) + "/tools/tavrin-ftp/tavrin-ftp";

struct Outcome {
    int exit = -1;
    std::string out, err;
};

class TavrinFtpSftp : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = testsrv::SshdServer::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        work_ = testsrv::MakeTempDir("tavrin-ftp-sftp-");
        stdfs::permissions(work_, stdfs::perms::owner_all | stdfs::perms::group_read |
                                      stdfs::perms::group_exec | stdfs::perms::others_read |
                                      stdfs::perms::others_exec);
        for (const char* dir : {"server/outbox", "local", "home/.ssh"})
            stdfs::create_directories(work_ + "/" + dir);
        testsrv::WriteWholeFile(work_ + "/server/outbox/a.txt", "from the server\n");
        testsrv::WriteWholeFile(work_ + "/server/gone.txt", "to be removed\n");
        testsrv::WriteWholeFile(work_ + "/local/up.txt", "from here\n");
        testsrv::MakeSshKey(work_ + "/id", "ed25519", "key-pass");
        server_ = std::make_unique<testsrv::SshdServer>(
            testsrv::SshdOptions{.root = work_ + "/server",
                                 .authorizedKeys = {testsrv::ReadWholeFile(work_ + "/id.pub")}});
    }
    void TearDown() override {
        server_.reset();
        std::error_code ignored;
        if (!work_.empty())
            stdfs::remove_all(work_, ignored);
    }

    Outcome Run(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {"/bin/sh",
                                         "-c",
                                         "exec 2>\"$0\" </dev/null; exec \"$@\"",
                                         work_ + "/stderr.txt",
                                         "/usr/bin/env",
                                         "-u",
                                         "TAVRIN_PASSWORD",
                                         "-u",
                                         "SSH_AUTH_SOCK",
                                         "HOME=" + work_ + "/home",
                                         "XDG_STATE_HOME=" + work_ + "/state",
                                         kTool};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Outcome outcome;
        outcome.exit = testsrv::RunCommand(argv, outcome.out, std::chrono::seconds(60));
        outcome.err = testsrv::ReadWholeFile(work_ + "/stderr.txt");
        return outcome;
    }
    std::string HostFingerprint() {
        std::string output;
        testsrv::RunCommand(
            {"/usr/bin/ssh-keygen", "-l", "-E", "sha256", "-f", server_->HostKeyFile() + ".pub"},
            output);
        const size_t start = output.find("SHA256:");
        return output.substr(start, output.find(' ', start) - start);
    }
    std::string OwnKnownHosts() const { return work_ + "/state/tavrin/known_hosts"; }

    std::string work_;
    std::unique_ptr<testsrv::SshdServer> server_;
};

TEST_F(TavrinFtpSftp, CommandsLoginsAndHostKeys) {
    const std::string port = std::to_string(server_->Port());
    const std::string where = "127.0.0.1:" + port;
    const std::string root = work_ + "/server";
    const std::string got = work_ + "/local/got.txt";
    const std::string fingerprint = HostFingerprint();
    ASSERT_EQ(fingerprint.rfind("SHA256:", 0), 0u) << fingerprint;
    const std::string config = work_ + "/MonitorConfig.ini";
    testsrv::WriteWholeFile(config, "[Import]\nProtocol=sftp\nHost=127.0.0.1\nPort=" + port +
                                        "\nUsername=" + server_->User() + "\nSSHKey=" + work_ +
                                        "/id\nSSHKeyPass=key-pass\nRemoteFolder=outbox\n");
    std::vector<std::string> login = {"--sftp", "127.0.0.1", port, server_->User(),
                                      server_->Password()};
    auto with = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    struct Row {
        const char* what;
        std::vector<std::string> arguments;
        int exit;
        std::vector<std::string> out, err; // each must appear in that stream
        bool storesHostKey = false;        // our known_hosts exists afterwards
        std::string fetched = "";          // what `get` wrote, when it ran
    } rows[] = {
        {"every command, the key trusted on first use",
         with(login, {"pwd", "ls", "get", "outbox/a.txt", got, "put", work_ + "/local/up.txt",
                      "up.txt", "mv", "up.txt", "outbox/moved.txt", "rm", "gone.txt", "cd",
                      "outbox", "pwd", "noop"}),
         0,
         {root + "\n", "dir   ", " outbox\n", "file            14 gone.txt\n", root + "/outbox\n",
          "SSH keep-alive sent to " + where},
         {"ssh: Trusted the host key of " + where + " on first use: " + fingerprint},
         true,
         "from the server\n"},
        {"the stored key is known: no line", with(login, {"ls"}), 0, {" outbox\n"}, {}, true},
        {"verbose: the steps and the server",
         with({"--verbose"}, with(login, {"pwd"})),
         0,
         {root + "\n"},
         {"status: Connecting to " + where, "status: Connected.",
          "status: Logged in over SFTP with password.", "ssh: server SSH-2.0-OpenSSH"},
         true},
        {"encrypted key file, no password",
         {"--sftp", "--key", work_ + "/id", "--pass", "key-pass", "127.0.0.1", port,
          server_->User(), "", "pwd"},
         0,
         {root + "\n"},
         {},
         true},
        {"a job whose protocol is SFTP",
         {"--job", "Import", "--config", config, "pwd", "ls"},
         0,
         {root + "/outbox\n", " a.txt\n"},
         {},
         true},
        {"wrong password",
         {"--sftp", "127.0.0.1", port, server_->User(), "wrong", "ls"},
         2,
         {},
         {"tavrin-ftp: SFTP login to " + where, "Tried: password. The server offers: publickey"},
         true},
        {"a missing remote file",
         with(login, {"get", "nothing.txt", got}),
         2,
         {},
         {"tavrin-ftp: SFTP download of " + root + "/nothing.txt", "no such file"},
         true},
        {"--sftp with --tls", with({"--tls"}, with(login, {"ls"})), 1, {}, {"--sftp goes without"}},
        {"the pinned fingerprint, nothing stored",
         with({"--fingerprint", fingerprint}, with(login, {"pwd"})),
         0,
         {root + "\n"},
         {"matches the given fingerprint " + fingerprint}},
        {"another pinned fingerprint",
         with({"--fingerprint", "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"},
              with(login, {"pwd"})),
         2,
         {},
         {"is " + fingerprint + ", not the given SHA256:AAAA"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.storesHostKey)
            stdfs::remove_all(work_ + "/state");
        stdfs::remove(got);
        const Outcome outcome = Run(row.arguments);
        EXPECT_EQ(outcome.exit, row.exit) << outcome.out << outcome.err;
        for (const std::string& text : row.out)
            EXPECT_NE(outcome.out.find(text), std::string::npos) << text << " in:\n" << outcome.out;
        for (const std::string& text : row.err)
            EXPECT_NE(outcome.err.find(text), std::string::npos) << text << " in:\n" << outcome.err;
        if (row.err.empty()) {
            EXPECT_EQ(outcome.err, "");
        }
        if (row.exit != 0) {
            EXPECT_EQ(outcome.out, "");
        }
        EXPECT_EQ(stdfs::exists(OwnKnownHosts()), row.storesHostKey);
        if (!row.fetched.empty()) {
            EXPECT_EQ(testsrv::ReadWholeFile(got), row.fetched);
        }
    }
    EXPECT_EQ(testsrv::ReadWholeFile(root + "/outbox/moved.txt"), "from here\n");
    EXPECT_FALSE(stdfs::exists(root + "/gone.txt"));

    // A changed key fails before the login, naming both fingerprints and the file.
    testsrv::MakeSshKey(work_ + "/other", "ed25519");
    const std::string other = testsrv::ReadWholeFile(work_ + "/other.pub");
    stdfs::create_directories(work_ + "/state/tavrin");
    testsrv::WriteWholeFile(OwnKnownHosts(),
                            "[127.0.0.1]:" + port + " " + other.substr(0, other.rfind(' ')) + "\n");
    const size_t logBefore = server_->Output().size();
    const Outcome changed = Run(with(login, {"ls"}));
    EXPECT_EQ(changed.exit, 2);
    for (const std::string& text : {std::string("has changed"), fingerprint, OwnKnownHosts()})
        EXPECT_NE(changed.err.find(text), std::string::npos) << text << " in:\n" << changed.err;
    EXPECT_EQ(server_->Output().find("password for", logBefore), std::string::npos)
        << "the password went out to a changed key";
}

} // namespace
