// Where a job's passwords come from at start: systemd credentials before the password file,
// the password file before the keyring, the keyring before the settings file; a source that
// is named but unusable refuses the job, and no text ever holds a secret.
#include "secrets/SecretSources.h"

#include "SecretsTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace tavrin;

namespace {

const char* const kSecrets[] = {"file-pw", "file-sslpass", "file-sshpass",
                                "cred-pw", "cred-sshpass", "pwfile-pw",
                                "ring-pw", "ring-sslpass", "ring-sshpass"};

// Texts for the log or a message box never hold a password, whatever went wrong.
void ExpectNoSecretIn(const TSecretResolution& result) {
    for (const auto* list : {&result.Problems, &result.Notes})
        for (const std::string& text : *list)
            for (const char* secret : kSecrets)
                EXPECT_EQ(text.find(secret), std::string::npos) << text;
}

TEST(PasswordFileTest, OnlyAPrivateRegularFileOfTheUsersIsRead) {
    TTestFolder folder;
    const bool root = ::geteuid() == 0;
    struct Row {
        const char* what;
        std::optional<std::string> content; // nullopt: no file
        mode_t mode;
        bool foreignOwner;
        std::optional<std::string> password; // nullopt: refused
        const char* because;
    } rows[] = {
        {"first line, LF", "s3cret\nsecond\n", 0600, false, "s3cret", ""},
        {"CR LF", "s3cret\r\n", 0600, false, "s3cret", ""},
        {"no line end", "s3cret", 0400, false, "s3cret", ""},
        {"inner spaces stay", " a b \n", 0600, false, " a b ", ""},
        {"owner may execute", "x\n", 0700, false, "x", ""},
        {"group may read", "x\n", 0640, false, std::nullopt,
         "may be used by other users (mode 0640)"},
        {"others may write", "x\n", 0602, false, std::nullopt, "(mode 0602)"},
        {"others may read", "x\n", 0604, false, std::nullopt, "chmod 600"},
        {"empty", "", 0600, false, std::nullopt, "holds no password"},
        {"only a line end", "\n", 0600, false, std::nullopt, "holds no password"},
        {"missing", std::nullopt, 0600, false, std::nullopt, "cannot be read: No such file"},
        {"another user's", "x\n", 0600, true, std::nullopt, "belongs to another user"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.foreignOwner && !root)
            continue; // only root can give a file away
        const std::string path = folder.Path(std::string("pw-") + row.what);
        if (row.content)
            WritePrivateFile(path, *row.content, row.mode);
        if (row.foreignOwner) {
            ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        }
        std::string problem;
        const std::optional<std::string> read = ReadPasswordFile(path, problem);
        EXPECT_EQ(read, row.password);
        if (!row.password) {
            EXPECT_NE(problem.find("Password file \"" + path + "\""), std::string::npos) << problem;
            EXPECT_NE(problem.find(row.because), std::string::npos) << problem;
            if (row.content && !row.content->empty()) {
                EXPECT_EQ(problem.find(*row.content), std::string::npos);
            }
        }
    }
    // Not a regular file: a folder, and a FIFO (which must not hold the start up).
    std::string problem;
    EXPECT_FALSE(ReadPasswordFile(folder.Path(""), problem));
    EXPECT_NE(problem.find("is not a regular file"), std::string::npos) << problem;
    const std::string fifo = folder.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadPasswordFile(fifo, problem));
    EXPECT_NE(problem.find("is not a regular file"), std::string::npos) << problem;
}

TEST(SecretResolutionTest, FirstSourceThatHasASecretWins) {
    enum class Ring { None, Answers, Silent, Empty };
    struct Row {
        const char* what;
        bool credentials;  // Import.password and Import.sshkeypass in $CREDENTIALS_DIRECTORY
        bool passwordFile; // PasswordFile names a good file
        bool keyringStore; // PasswordStore=keyring
        bool fileSecrets;  // the settings file still has its three values
        Ring ring;
        const char *password, *sslPass, *sshKeyPass;
        const char* problem; // "" when the job may start
        bool note;
    } rows[] = {
        {"the file as always", false, false, false, true, Ring::None, "file-pw", "file-sslpass",
         "file-sshpass", "", false},
        {"file without keyring store ignores a keyring", false, false, false, true, Ring::Answers,
         "file-pw", "file-sslpass", "file-sshpass", "", false},
        {"credentials over the file", true, false, false, true, Ring::None, "cred-pw",
         "file-sslpass", "cred-sshpass", "", false},
        {"credentials over the password file", true, true, false, true, Ring::None, "cred-pw",
         "file-sslpass", "cred-sshpass", "", false},
        {"password file over the keyring", false, true, true, false, Ring::Answers, "pwfile-pw",
         "ring-sslpass", "ring-sshpass", "", false},
        {"keyring", false, false, true, false, Ring::Answers, "ring-pw", "ring-sslpass",
         "ring-sshpass", "", false},
        {"keyring without entries: the file's empty values", false, false, true, false, Ring::Empty,
         "", "", "", "", false},
        {"credentials need no keyring for what they give", true, false, true, false, Ring::Empty,
         "cred-pw", "", "cred-sshpass", "", false},
        {"keyring silent, file empty: refused", false, false, true, false, Ring::Silent, "", "", "",
         "the keyring did not answer for job \"Import\": locked", false},
        {"keyring silent, file has them: used, one note", false, false, true, true, Ring::Silent,
         "file-pw", "file-sslpass", "file-sshpass", "", true},
        {"no keyring at all (the service): refused", false, false, true, false, Ring::None, "", "",
         "", "PasswordFile or a systemd credential", false},
        {"no keyring: credentials give what a plain FTP job needs", true, false, true, false,
         Ring::None, "cred-pw", "", "cred-sshpass", "", false},
    };
    TTestFolder folder;
    std::filesystem::create_directories(folder.Path("creds"));
    WritePrivateFile(folder.Path("creds/Import.password"), "cred-pw\n", 0400);
    WritePrivateFile(folder.Path("creds/Import.sshkeypass"), "cred-sshpass", 0400);
    WritePrivateFile(folder.Path("creds/Export.password"), "not ours\n", 0400);
    WritePrivateFile(folder.Path("pwfile"), "pwfile-pw\n", 0600);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TMemoryKeyring ring;
        ring.available = row.ring != Ring::Silent;
        ring.error = "locked";
        if (row.ring == Ring::Answers)
            ring.entries = {{"Import/password", "ring-pw"},
                            {"Import/sslpass", "ring-sslpass"},
                            {"Import/sshkeypass", "ring-sshpass"},
                            {"Export/password", "not ours"}};
        RConfiguration config;
        if (row.fileSecrets) {
            config.Password = "file-pw";
            config.SSLPass = "file-sslpass";
            config.SSHKeyPass = "file-sshpass";
        }
        if (row.passwordFile)
            config.PasswordFile = folder.Path("pwfile");
        if (row.keyringStore)
            config.PasswordStore = "Keyring";
        TSecretSources sources;
        if (row.credentials)
            sources.CredentialsDirectory = folder.Path("creds");
        if (row.ring != Ring::None)
            sources.Keyring = &ring;
        const TSecretResolution result = ResolveSecrets("Import", config, sources);
        EXPECT_EQ(config.Password, row.password);
        EXPECT_EQ(config.SSLPass, row.sslPass);
        EXPECT_EQ(config.SSHKeyPass, row.sshKeyPass);
        if (*row.problem) {
            ASSERT_EQ(result.Problems.size(), 1u);
            EXPECT_NE(result.Problems[0].find(row.problem), std::string::npos)
                << result.Problems[0];
        } else {
            EXPECT_EQ(result.Problems, std::vector<std::string>{});
        }
        EXPECT_EQ(result.Notes.size(), row.note ? 1u : 0u);
        // A keyring that did not answer is asked once, not once per secret.
        if (row.ring == Ring::Silent) {
            EXPECT_EQ(ring.reads, 1);
        }
        ExpectNoSecretIn(result);
    }
}

TEST(SecretResolutionTest, NamedSourcesThatCannotBeUsedRefuseTheJob) {
    TTestFolder folder;
    std::filesystem::create_directories(folder.Path("creds"));
    // A credential that is there but unreadable (a folder in its place).
    std::filesystem::create_directories(folder.Path("creds/Import.password"));
    WritePrivateFile(folder.Path("open"), "pwfile-pw\n", 0644);
    struct Row {
        const char* what;
        std::string job, credentials, passwordFile;
        std::string problem;
    } rows[] = {
        {"a folder where the credential should be", "Import", folder.Path("creds"), "",
         "Credential \"" + folder.Path("creds/Import.password") + "\" is not a regular file"},
        {"password file others may read", "Import", "", folder.Path("open"), "(mode 0644)"},
        {"missing password file", "Import", "", folder.Path("gone"), "No such file"},
        // A job name never reaches outside the credentials folder.
        {"job name with a slash", "../creds/Import", folder.Path("creds"), folder.Path("gone"),
         "No such file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RConfiguration config;
        config.Password = "file-pw";
        config.PasswordFile = row.passwordFile;
        const TSecretResolution result =
            ResolveSecrets(row.job, config, {.CredentialsDirectory = row.credentials});
        ASSERT_EQ(result.Problems.size(), 1u);
        EXPECT_NE(result.Problems[0].find(row.problem), std::string::npos) << result.Problems[0];
        ExpectNoSecretIn(result);
    }
}

// Without a keyring, only a secret the job's login uses keeps it from starting.
TEST(SecretResolutionTest, OnlyTheSecretsTheLoginUsesAreMissed) {
    struct Row {
        const char* what;
        const char *protocol, *password;
        bool ssl;
        const char *sslKey, *sshKey;
        bool agent, refused;
    } rows[] = {
        {"FTP needs its password", "FTP", "", false, "", "", false, true},
        {"FTP with the password from the file", "FTP", "file-pw", false, "", "", false, false},
        {"a TLS key needs its password", "FTP", "file-pw", true, "/k", "", false, true},
        {"TLS off: the key's password is not used", "FTP", "file-pw", false, "/k", "", false,
         false},
        {"SFTP with a key needs its passphrase, no password", "SFTP", "", false, "", "/id", false,
         true},
        {"SFTP with the agent needs nothing", " sftp ", "", false, "", "", true, false},
        {"SFTP with a password", "SFTP", "", false, "", "", false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RServerSettings settings; // its secrets are in a keyring that cannot be reached
        settings.PasswordStore = kPasswordStoreKeyring;
        settings.Protocol = row.protocol;
        settings.Password = row.password;
        settings.SSL = row.ssl;
        settings.SSLKey = row.sslKey;
        settings.SSHKey = row.sshKey;
        settings.SSHAgent = row.agent;
        const TSecretResolution result = ResolveSecrets("Import", settings, {});
        EXPECT_EQ(result.Problems.size(), row.refused ? 1u : 0u);
    }
}

TEST(SecretResolutionTest, CredentialsDirectoryComesFromTheEnvironment) {
    ::setenv("CREDENTIALS_DIRECTORY", "/run/credentials/tavrin.service", 1);
    EXPECT_EQ(SecretSourcesFromEnvironment(nullptr).CredentialsDirectory,
              "/run/credentials/tavrin.service");
    ::unsetenv("CREDENTIALS_DIRECTORY");
    EXPECT_EQ(SecretSourcesFromEnvironment(nullptr).CredentialsDirectory, "");
}

} // namespace
