// Where the service takes a job's password from: a systemd credential over PasswordFile over
// the settings file; a password file others may read, or a job whose passwords are in the
// desktop keyring, keeps the service from starting with a message that says why, and no
// password reaches standard output or standard error.
#include "servers/RealServers.h"

#include "ServiceRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr const char* kPassword = "pw-7Qx9";
using servicetest::kService;

using servicetest::WaitFor;

void WritePrivate(const std::string& path, const std::string& text, mode_t mode) {
    testsrv::WriteWholeFile(path, text);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

TEST(ServiceSecretsTest, PasswordComesFromCredentialOrPrivateFileOrTheStartIsRefused) {
    const std::string work = testsrv::MakeTempDir("tavrin-service-secrets-");
    for (const char* dir : {"server/outbox", "import", "register", "creds"})
        std::filesystem::create_directories(work + "/" + dir);
    ::setenv("TEMP", (work + "/register").c_str(), 1);
    testsrv::PyFtpdServer ftp({.root = work + "/server", .password = kPassword});
    WritePrivate(work + "/creds/Import.password", std::string(kPassword) + "\n", 0400);
    WritePrivate(work + "/private", std::string(kPassword) + "\n", 0600);
    WritePrivate(work + "/shared", std::string(kPassword) + "\n", 0644);
    struct Row {
        const char* what;
        std::string settings; // the Import section's own keys
        bool credentials;     // $CREDENTIALS_DIRECTORY set
        const char* refusal;  // nullptr: the file arrives
    } rows[] = {
        {"credential over a wrong file password", "Password=wrong\n", true, nullptr},
        {"credential over a password file", "PasswordFile=" + work + "/shared\n", true, nullptr},
        {"private password file", "Password=wrong\nPasswordFile=" + work + "/private\n", false,
         nullptr},
        {"password file others may read", "PasswordFile=" + work + "/shared\n", false,
         "may be used by other users (mode 0644)"},
        {"passwords in the keyring", "Password=\nPasswordStore=keyring\n", false,
         "cannot be reached here; give them with PasswordFile or a systemd credential"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string file = "f" + std::to_string(++n) + ".txt";
        testsrv::WriteWholeFile(work + "/server/outbox/" + file, "payload\n");
        const std::string config = work + "/MonitorConfig.ini";
        testsrv::WriteWholeFile(config, "[Import]\nHost=127.0.0.1\nUsername=tavrin\nPort=" +
                                            std::to_string(ftp.Port()) +
                                            "\nKeepAlive=1\nRemoteFolder=/outbox\nLocalFolder=" +
                                            work + "/import\n" + row.settings);
        if (row.credentials)
            ::setenv("CREDENTIALS_DIRECTORY", (work + "/creds").c_str(), 1);
        testsrv::ChildProcess service({kService, "--import", "--config", config},
                                      work + "/output.txt");
        ::unsetenv("CREDENTIALS_DIRECTORY");
        if (row.refusal) {
            ASSERT_TRUE(service.WaitExit(20s)) << service.Output();
            EXPECT_NE(service.ExitStatus(), 0);
            EXPECT_NE(service.Output().find("cannot start the import monitor: "), std::string::npos)
                << service.Output();
            EXPECT_NE(service.Output().find(row.refusal), std::string::npos) << service.Output();
        } else {
            EXPECT_TRUE(WaitFor(
                [&] { return testsrv::ReadWholeFile(work + "/import/" + file) == "payload\n"; },
                30s))
                << service.Output();
        }
        service.Stop();
        EXPECT_EQ(service.Output().find(kPassword), std::string::npos) << service.Output();
    }
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
}

} // namespace
