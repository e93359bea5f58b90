// The jobs a settings file defines: plain "[Import]"/"[Export]" as the jobs of those names,
// named sections with their own keys, and bad or duplicate names skipped one line each.
#include "config/JobSections.h"

#include <gtest/gtest.h>

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

} // namespace
