// Logging in to a real sshd with every method the session knows, and the refusals.
#include "SftpTestSupport.h"

#include <thread>
#include <unistd.h>

using namespace tavrin::sftp;
using namespace std::chrono_literals;

namespace {

struct LoginRow {
    const char* name;
    const char* keyType; // "" = no key file
    bool pem;
    const char* passphrase;    // the key's own
    const char* usePassphrase; // what the settings give
    bool authorize;            // the key is in authorized_keys
    bool agent;                // the key goes to a test ssh-agent instead of the settings
    bool passwordInSettings;   // the right password; false: none
    const char* wrongPassword; // instead of the right one
    bool serverPassword, serverKbdInt;
    const char* expectMethod; // "" = refused
    std::vector<const char*> expectInMessage;
};

class SftpLogin : public sftptest::SftpTest {};

// An ssh-agent of our own on a socket in the test's folder, holding one key.
class TestAgent {
public:
    TestAgent(const std::string& dir, const std::string& key) : socket_(dir + "/agent.sock") {
        agent_ =
            testsrv::ChildProcess({"/usr/bin/ssh-agent", "-D", "-a", socket_}, dir + "/agent.log");
        for (int i = 0; i < 500 && ::access(socket_.c_str(), F_OK) != 0; ++i)
            std::this_thread::sleep_for(10ms);
        ::setenv("SSH_AUTH_SOCK", socket_.c_str(), 1);
        std::string output;
        const int rc = testsrv::RunCommand({"/usr/bin/ssh-add", key}, output);
        ::unsetenv("SSH_AUTH_SOCK");
        if (rc != 0)
            throw std::runtime_error("ssh-add failed: " + output + agent_.Output());
    }
    const std::string& Socket() const { return socket_; }

private:
    std::string socket_;
    testsrv::ChildProcess agent_;
};

TEST_F(SftpLogin, EachMethodInTurnAndRefusalsNameTriedAndOffered) {
    const std::vector<LoginRow> rows = {
        {"password", "", false, "", "", false, false, true, nullptr, true, false, "password", {}},
        // OpenSSH-format ed25519 key, encrypted.
        {"ed25519 key",
         "ed25519",
         false,
         "ed-pass",
         "ed-pass",
         true,
         false,
         false,
         nullptr,
         false,
         false,
         "publickey (key file)",
         {}},
        // PEM RSA key, encrypted: needs rsa-sha2 signatures against current OpenSSH.
        {"rsa pem key",
         "rsa",
         true,
         "rsa-pass",
         "rsa-pass",
         true,
         false,
         false,
         nullptr,
         false,
         false,
         "publickey (key file)",
         {}},
        {"ecdsa key",
         "ecdsa",
         false,
         "",
         "",
         true,
         false,
         false,
         nullptr,
         false,
         false,
         "publickey (key file)",
         {}},
        {"agent",
         "ed25519",
         false,
         "",
         "",
         true,
         true,
         false,
         nullptr,
         false,
         false,
         "publickey (agent)",
         {}},
        // A key the server does not know: the password still gets us in.
        {"key refused, password",
         "ed25519",
         false,
         "",
         "",
         false,
         false,
         true,
         nullptr,
         true,
         false,
         "password",
         {}},
        {"keyboard-interactive",
         "",
         false,
         "",
         "",
         false,
         false,
         true,
         nullptr,
         false,
         true,
         "keyboard-interactive",
         {}},
        {"wrong password",
         "",
         false,
         "",
         "",
         false,
         false,
         true,
         "not-the-password",
         true,
         false,
         "",
         {"refused", "Tried: password.", "The server offers: publickey, password"}},
        {"wrong passphrase",
         "ed25519",
         false,
         "ed-pass",
         "wrong",
         true,
         false,
         false,
         nullptr,
         true,
         false,
         "",
         {"Tried: nothing", "could not be read"}},
        {"unknown key, no password",
         "ed25519",
         false,
         "",
         "",
         false,
         false,
         false,
         nullptr,
         true,
         false,
         "",
         {"Tried: publickey (key file).", "publickey, password"}},
    };
    for (const LoginRow& row : rows) {
        SCOPED_TRACE(row.name);
        testsrv::SshdOptions options{
            .root = root_, .password = row.serverPassword, .keyboardInteractive = row.serverKbdInt};
        std::string key;
        if (*row.keyType) {
            key = dir_ + "/key-" + std::to_string(&row - rows.data());
            testsrv::MakeSshKey(key, row.keyType, row.passphrase, row.pem);
            if (row.authorize)
                options.authorizedKeys.push_back(testsrv::ReadWholeFile(key + ".pub"));
        }
        testsrv::SshdServer server(options);
        TSftpSettings settings = SettingsFor(server);
        settings.Password = row.wrongPassword        ? row.wrongPassword
                            : row.passwordInSettings ? server.Password()
                                                     : "";
        std::unique_ptr<TestAgent> agent;
        if (row.agent) {
            agent = std::make_unique<TestAgent>(dir_, key);
            settings.UseAgent = true;
            settings.AgentSocket = agent->Socket();
        } else if (!key.empty()) {
            settings.KeyFile = key;
            settings.KeyPassphrase = row.usePassphrase;
        }
        TSftpSession session;
        if (*row.expectMethod) {
            ASSERT_NO_THROW(session.Connect(settings)) << server.Output();
            EXPECT_EQ(session.AuthenticatedWith(), row.expectMethod);
            EXPECT_EQ(session.CurrentDirectory(), root_);
            continue;
        }
        try {
            session.Connect(settings);
            ADD_FAILURE() << "logged in";
        } catch (const ESftpLoginRefused& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find(Where(server)), std::string::npos) << text;
            EXPECT_NE(text.find("as " + server.User()), std::string::npos) << text;
            for (const char* part : row.expectInMessage)
                EXPECT_NE(text.find(part), std::string::npos) << text;
        }
        EXPECT_FALSE(session.Connected());
    }
}

TEST_F(SftpLogin, NoAgentRunningMovesOnToThePassword) {
    testsrv::SshdServer server({.root = root_});
    TSftpSettings settings = SettingsFor(server);
    settings.UseAgent = true;
    settings.AgentSocket = dir_ + "/no-agent.sock";
    TSftpSession session;
    ASSERT_NO_THROW(session.Connect(settings)) << server.Output();
    EXPECT_EQ(session.AuthenticatedWith(), "password");
}

TEST_F(SftpLogin, NothingListensOrTheSessionIsClosed) {
    testsrv::SshdServer server({.root = root_});
    TSftpSettings settings = SettingsFor(server);
    server.Stop();
    TSftpSession session;
    try {
        session.Connect(settings);
        ADD_FAILURE() << "connected to a stopped server";
    } catch (const ESftpError& e) {
        EXPECT_NE(std::string(e.what()).find("Unable to connect to " + Where(server)),
                  std::string::npos)
            << e.what();
    }
    // Every operation of a closed session says so instead of touching freed handles.
    EXPECT_THROW(session.List(), ESftpError);
    EXPECT_THROW(session.Size("x"), ESftpError);
    EXPECT_THROW(session.KeepAlive(), ESftpError);
}

TEST_F(SftpLogin, KeepAliveAnswersWhileTheServerLivesAndFailsOnceItIsGone) {
    testsrv::SshdServer server({.root = root_});
    TSftpSession session;
    session.Connect(SettingsFor(server));
    EXPECT_NO_THROW(session.KeepAlive());
    EXPECT_NO_THROW(session.KeepAlive());
    server.Stop(); // its session processes go too
    bool failed = false;
    // The first keep-alive after the loss may still leave in the socket's buffer.
    for (int i = 0; i < 5 && !failed; ++i) {
        try {
            session.KeepAlive();
            std::this_thread::sleep_for(100ms);
        } catch (const ESftpError& e) {
            failed = true;
            EXPECT_NE(std::string(e.what()).find(Where(server)), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(failed);
}

} // namespace
