// The filter and subfolder keys: kept in each direction's own section, written only once chosen (so
// files from before them save as they did), and a value that cannot be read stops the start.
#include "config/SettingsFile.h"
#include "config/StartChecks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace tavrin;

namespace {

class FilterKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "fk-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Contents(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir_;
};

TEST_F(FilterKeysTest, KeysRoundTripPerDirectionAndOnlyWhenChosen) {
    const std::string file = dir_ + "/MonitorConfig.ini";
    RConfiguration plain;
    SaveRecord(TDirection::Import, plain, file);
    SaveRecord(TDirection::Export, plain, file);
    for (const char* key : {"Include", "Exclude", "IgnoreCase", "MinSize", "MaxSize", "MinAge",
                            "Recursive", "MaxDepth"})
        EXPECT_EQ(Contents(file).find(key), std::string::npos) << key;

    RConfiguration in = plain, out = plain;
    in.Include = "*.csv; *.txt", in.IgnoreCase = true, in.MinSize = "1k", in.MinAge = "60";
    in.Recursive = true, in.MaxDepth = 3;
    out.Exclude = "~*;*.tmp", out.MaxSize = "2G", out.Recursive = true, out.MaxDepth = 2;
    SaveRecord(TDirection::Import, in, file);
    SaveRecord(TDirection::Export, out, file);
    EXPECT_EQ(LoadImportConfiguration(file), in);
    EXPECT_EQ(LoadExportConfiguration(file), out);
}

TEST_F(FilterKeysTest, UnreadableFilterStopsEitherDirectionsStart) {
    RConfiguration config;
    config.Host = "127.0.0.1", config.Port = "21", config.LocalFolder = dir_;
    ASSERT_TRUE(ImportStartProblems(config).empty());
    ASSERT_TRUE(ExportStartProblems(config).empty());
    config.Exclude = "*.tmp;[abc", config.MinSize = "ten";
    const std::vector<std::string> expected = {
        "Exclude pattern \"[abc\" has an unbalanced \"[\"",
        "MinSize \"ten\" is not a size: a whole number of bytes, or of k, M or G (1024-based)"};
    EXPECT_EQ(ImportStartProblems(config), expected);
    EXPECT_EQ(ExportStartProblems(config), expected);
}

} // namespace
