// The jobs a settings file defines: plain "[Import]"/"[Export]" as the jobs of those names,
// named sections with their own keys, and bad or duplicate names skipped one line each.
#include "config/JobSections.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace tavrin;

namespace {

class JobSectionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tavrin-jobsections-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        path_ = (folder_ / "MonitorConfig.ini").string();
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    void Write(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::filesystem::path folder_;
    std::string path_;
};

TEST_F(JobSectionsTest, NamedSectionsAreJobsOfTheirOwn) {
    Write("[Import]\nHost=a\n[Export:Scans]\nHost=b\nEnabled=0\n");
    std::vector<std::string> skipped;
    const std::vector<TJobSection> jobs = ReadJobSections(path_, skipped);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[1], (TJobSection{"Scans", TDirection::Export, "Export:Scans", false}));
    EXPECT_EQ(LoadRecord(TDirection::Export, "Export:Scans", path_).Host, "b");
    EXPECT_TRUE(skipped.empty());
}

TEST_F(JobSectionsTest, BadAndDuplicateNamesAreSkippedOneLineEach) {
    const std::string longest(64, 'n');
    Write("[General]\nLogLines=5\n[Export]\nHost=e\n[Import:Scans 2.b_c-d]\n[Import:]\n"
          "[Export:a/b]\n[Export:" +
          longest + "]\n[Export:" + longest +
          "x]\n[export:SCANS 2.B_C-D]\n[Import:import]\n"
          "[Import: lead]\n[Import:Ok]\nEnabled=no\n[IMPORT]\n[Import]\n[Export:Off]\n"
          "Enabled=0\n[Other]\n");
    std::vector<std::string> skipped;
    std::vector<std::string> names;
    for (const TJobSection& job : ReadJobSections(path_, skipped))
        names.push_back(job.name + "|" + job.section + "|" + (job.enabled ? "on" : "off"));
    EXPECT_EQ(names,
              (std::vector<std::string>{"Export|Export|on", "Scans 2.b_c-d|Import:Scans 2.b_c-d|on",
                                        longest + "|Export:" + longest + "|on", "Ok|Import:Ok|on",
                                        "Import|Import|on", "Off|Export:Off|off"}));
    const std::vector<std::string> bad = {"Import:",
                                          "Export:a/b",
                                          "Export:" + longest + "x",
                                          "export:SCANS 2.B_C-D",
                                          "Import:import",
                                          "Import: lead",
                                          "Import"};
    ASSERT_EQ(skipped.size(), bad.size());
    for (size_t i = 0; i < bad.size(); ++i)
        EXPECT_EQ(skipped[i].rfind("Job [" + bad[i] + "] skipped: ", 0), 0u) << skipped[i];
}

// A file of today's two sections reads and saves back exactly; a named section round-trips
// with its own PassiveMode/BinaryMode and leaves the plain ones alone.
TEST_F(JobSectionsTest, SavesKeepFilesAndSectionsApart) {
    const std::string legacy = "[Import]\r\nLocalFolder=/in\r\nHost=h\r\nPort=21\r\n"
                               "CheckInterval=30\r\n; a note\r\n\r\n[Export]\r\n"
                               "PassiveMode=0\r\nBinaryMode=1\r\nHost=u\r\n";
    Write(legacy);
    std::vector<std::string> skipped;
    for (const TJobSection& job : ReadJobSections(path_, skipped))
        SaveRecord(job.direction, job.section, LoadRecord(job.direction, job.section, path_),
                   path_);
    const std::string saved = Read();
    // Every key the pages write is added, but nothing there before changes or moves.
    Write(legacy);
    SaveRecord(TDirection::Import, LoadRecord(TDirection::Import, path_), path_);
    SaveRecord(TDirection::Export, LoadRecord(TDirection::Export, path_), path_);
    EXPECT_EQ(saved, Read());
    Write(saved);
    for (const TJobSection& job : ReadJobSections(path_, skipped))
        SaveRecord(job.direction, job.section, LoadRecord(job.direction, job.section, path_),
                   path_);
    EXPECT_EQ(saved, Read()) << "a second load and save changes nothing";

    RConfiguration named = LoadRecord(TDirection::Import, "Import:Scans", path_);
    EXPECT_TRUE(named.PassiveMode) << "a named job does not share [Export]'s PassiveMode";
    named.Host = "scans.example";
    named.PassiveMode = false;
    named.CheckInterval = 7;
    SaveRecord(TDirection::Import, "Import:Scans", named, path_);
    EXPECT_EQ(LoadRecord(TDirection::Import, "Import:Scans", path_), named);
    EXPECT_FALSE(LoadRecord(TDirection::Import, path_).PassiveMode);
    EXPECT_EQ(LoadRecord(TDirection::Import, path_).Host, "h");
    EXPECT_EQ(Read().rfind(saved, 0), 0u) << "the new section goes after the others";

    SaveJobEnabled("Import:Scans", false, path_);
    RenameJobSection(path_, "Import:Scans", "Import:Papers");
    EXPECT_THROW(RenameJobSection(path_, "Import:Papers", "Import"), ESettingsWriteError);
    EXPECT_EQ(LoadRecord(TDirection::Import, "Import:Papers", path_), named);
    ASSERT_EQ(ReadJobSections(path_, skipped).back(),
              (TJobSection{"Papers", TDirection::Import, "Import:Papers", false}));
    RemoveJobSection(path_, "Import:Papers");
    EXPECT_EQ(Read(), saved);
    EXPECT_TRUE(skipped.empty());
}

TEST(JobRegisters, EachImportHasItsOwnBesideTheFirst) {
    const char* before = std::getenv("TEMP");
    const std::string saved = before ? before : "";
    ::setenv("TEMP", "/var/tmp/tavrin-registers/", 1);
    EXPECT_EQ(RegisterFilePathFor("Import"), "/var/tmp/tavrin-registers/LocalFileList.txt");
    EXPECT_EQ(RegisterFilePathFor("Scans 2"),
              "/var/tmp/tavrin-registers/LocalFileList-Scans 2.txt");
    if (before)
        ::setenv("TEMP", saved.c_str(), 1);
    else
        ::unsetenv("TEMP");
}

} // namespace
