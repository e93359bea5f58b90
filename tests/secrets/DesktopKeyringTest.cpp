// The desktop keyring against a real Secret Service (GNOME Keyring on a private session bus):
// entries stored, replaced and removed; a job saved with the keyring is started by a new
// process that finds its passwords there; where no keyring is on the bus, the save falls back
// to the settings file with one line and a job that relies on the keyring is refused.
#include "secrets/keyring/DesktopKeyring.h"
#include "secrets/KeyringSave.h"

#include "KeyringProbe.h"
#include "SecretsTestSupport.h"
#include "servers/SecretServiceBus.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace tavrin;

namespace {

// A process keeps the session bus it first connected to, so this process has one keyring bus
// for all its tests (and repeats); it stops when the program ends.
testsrv::SecretServiceBus& KeyringBus() {
    static testsrv::SecretServiceBus bus(true);
    return bus;
}

RConfiguration ImportJob(const std::string& password, const std::string& sslPass) {
    RConfiguration job;
    job.Host = "127.0.0.1";
    job.Username = "u";
    job.Password = password;
    job.SSLPass = sslPass;
    return job;
}

TKeyringSave SaveJob(const RConfiguration& shown, const std::string& path, TKeyring* keyring,
                     bool keep) {
    return SaveWithKeyring(
        TDirection::Import, [&shown](const TSettingKey& key) { return StoredText(shown, key); },
        path, keyring, keep);
}

TEST(DesktopKeyringTest, StoresReplacesAndRemovesEntries) {
    KeyringBus();
    TDesktopKeyring keyring;
    ASSERT_TRUE(keyring.Available());
    struct Step {
        const char* key;
        const char* write; // nullptr: read only
        TKeyringStatus status;
        const char* value;
    } steps[] = {
        {"Probe/password", nullptr, TKeyringStatus::NotFound, ""},
        {"Probe/password", "first", TKeyringStatus::Found, "first"},
        {"Probe/password", "sec ret \xc3\xbc\x01", TKeyringStatus::Found, "sec ret \xc3\xbc\x01"},
        {"Probe/sslpass", nullptr, TKeyringStatus::NotFound, ""}, // keys stay apart
        {"Probe/password", "", TKeyringStatus::NotFound, ""},     // empty removes
        {"Probe/password", "", TKeyringStatus::NotFound, ""},     // removing twice is fine
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.key) + " <- " + (step.write ? step.write : "(read)"));
        if (step.write) {
            std::string error;
            EXPECT_TRUE(keyring.Write(step.key, step.write, error)) << error;
        }
        const TKeyringAnswer answer = keyring.Read(step.key);
        EXPECT_EQ(answer.status, step.status) << answer.error;
        EXPECT_EQ(answer.value, step.value);
    }
}

TEST(DesktopKeyringTest, AJobSavedWithTheKeyringStartsInANewProcess) {
    KeyringBus();
    TDesktopKeyring keyring;
    TTestFolder folder;
    const std::string path = folder.Path("MonitorConfig.ini");
    const TKeyringSave saved =
        SaveJob(ImportJob("pw \xc3\xa4 1", "key-pass"), path, &keyring, true);
    EXPECT_TRUE(saved.InKeyring);
    EXPECT_EQ(saved.Note, "");
    const std::string file = testsrv::ReadWholeFile(path);
    EXPECT_NE(file.find("\nPassword=\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\nSSLPass=\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\nPasswordStore=keyring\n"), std::string::npos) << file;
    EXPECT_EQ(file.find("pw \xc3\xa4 1"), std::string::npos) << file;
    EXPECT_EQ(file.find("key-pass"), std::string::npos) << file;

    EXPECT_EQ(RunProbeProcess("start", path), "password=pw \xc3\xa4 1\nsslpass=key-pass\n");

    // The dialog shows what the keyring holds.
    RServerSettings shown;
    ASSERT_TRUE(ReadSecretsFromKeyring("Import", shown, keyring));
    EXPECT_EQ(shown.Password, "pw \xc3\xa4 1");
    EXPECT_EQ(shown.SSHKeyPass, "");

    // Saved without the keyring again: the file holds the passwords and says so.
    EXPECT_FALSE(SaveJob(ImportJob("back", ""), path, &keyring, false).InKeyring);
    EXPECT_NE(testsrv::ReadWholeFile(path).find("\nPasswordStore=file\n"), std::string::npos);
    EXPECT_EQ(RunProbeProcess("start", path), "password=back\nsslpass=\n");
}

TEST(NoKeyringTest, SaveFallsBackToTheFileWithOneLineAndTheStartIsRefused) {
    TTestFolder folder;
    const std::string saved = folder.Path("saved.ini");
    const std::string plain = folder.Path("plain.ini");
    const std::string keyringJob = folder.Path("keyring.ini");
    testsrv::WriteWholeFile(keyringJob, "[Import]\nHost=h\nPassword=\nPasswordStore=keyring\n");
    // A file saved without the box, for comparison: the fallback must write exactly this.
    RConfiguration probeJob; // what the probe saves
    probeJob.Host = "127.0.0.1";
    probeJob.Password = "pw";
    SaveJob(probeJob, plain, nullptr, false);
    std::string atSave, atStart;
    {
        const testsrv::SecretServiceBus bare(false); // its bus has no keyring; children use it
        atSave = RunProbeProcess("save", saved, "pw");
        atStart = RunProbeProcess("start", keyringJob);
    }
    EXPECT_EQ(atSave, "inkeyring=0\nnote=No keyring answered; the passwords of Import are kept "
                      "in the settings file\n");
    EXPECT_EQ(testsrv::ReadWholeFile(saved), testsrv::ReadWholeFile(plain));
    EXPECT_EQ(atStart, "password=\nsslpass=\nproblem=the keyring did not answer for job "
                       "\"Import\": no keyring on the session bus\n");
}

} // namespace
