// A job's start takes its passwords from the keyring the window gives it: found there, the
// job runs with them; a keyring that does not answer refuses a job whose file has none, and a
// job whose file still has them runs with one line saying so.
#include "JobTestSupport.h"

#include "secrets/Keyring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

using namespace jobtest;
using tavrin::jobs::TJob;
using tavrin::jobs::TJobKind;
using tavrin::jobs::TJobSet;
using tavrin::jobs::TJobState;

namespace {

class TFixedKeyring : public tavrin::TKeyring {
public:
    bool Available() override { return answers; }
    tavrin::TKeyringAnswer Read(const std::string& key) override {
        if (!answers)
            return {tavrin::TKeyringStatus::Unavailable, "", "locked"};
        auto found = entries.find(key);
        return found == entries.end()
                   ? tavrin::TKeyringAnswer{tavrin::TKeyringStatus::NotFound, "", ""}
                   : tavrin::TKeyringAnswer{tavrin::TKeyringStatus::Found, found->second, ""};
    }
    bool Write(const std::string&, const std::string&, std::string&) override { return false; }
    bool answers = true;
    std::map<std::string, std::string> entries{{"Import/password", "ring-pw"}};
};

TEST(JobSecrets, StartTakesThePasswordsFromTheKeyringItWasGiven) {
    struct Row {
        const char* what;
        bool answers;
        const char* filePassword;
        TJobState after;
        const char* password; // the started job's
        const char* line;     // in the log or LastError; "" for none
    } rows[] = {
        {"found in the keyring", true, "", TJobState::Running, "ring-pw", ""},
        {"keyring silent, file empty: refused", false, "", TJobState::FailedToStart, "",
         "the keyring did not answer for job \"Import\": locked"},
        {"keyring silent, file has it: runs, one line", false, "file-pw", TJobState::Running,
         "file-pw", "the passwords in the settings file are used"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Scratch scratch;
        scratch.WriteSettings("[Import]\nHost=127.0.0.1\nUsername=tavrin\nKeepAlive=0\n"
                              "CheckInterval=0\nLocalFolder=" +
                              scratch.local +
                              "\nPasswordStore=keyring\nPassword=" + row.filePassword + "\n");
        SharedLog log;
        TFixedKeyring keyring;
        keyring.answers = row.answers;
        TJobSet jobs({{"Import", TJobKind::Import, {}}}, scratch.settings, log.Sink());
        TJob& job = *jobs.Find("Import");
        job.SetKeyring(&keyring);
        try {
            jobs.Start(job);
        } catch (const tavrin::jobs::EJobRefused&) {
        }
        EXPECT_EQ(job.State(), row.after);
        const std::vector<std::string> lines = log.Lines();
        const auto noted = std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return *row.line && l.find(row.line) != std::string::npos;
        });
        if (row.after == TJobState::Running) {
            EXPECT_EQ(job.Config().Password, row.password);
            EXPECT_EQ(noted, *row.line ? 1 : 0);
            // A password found elsewhere is no change of the file: a save or a SIGHUP must not
            // restart the job for it.
            EXPECT_FALSE(job.SettingsChanged());
            std::string settings;
            std::getline(std::ifstream(scratch.settings), settings, '\0');
            scratch.WriteSettings(settings + "RemoteFolder=/elsewhere\n");
            EXPECT_TRUE(job.SettingsChanged());
            bool stopped = false;
            jobs.Stop(job, [&] { stopped = true; });
            ASSERT_TRUE(WaitFor([&] { return stopped; }));
        } else {
            EXPECT_NE(job.LastError().find(row.line), std::string::npos) << job.LastError();
        }
    }
}

} // namespace
