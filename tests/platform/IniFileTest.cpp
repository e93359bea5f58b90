#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using tavrin::TIniFile;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "ini-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/MonitorConfig.ini";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void Put(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string Contents() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    unsigned Mode() const {
        struct stat st {};
        EXPECT_EQ(::stat(path_.c_str(), &st), 0);
        return st.st_mode & 07777;
    }

    std::string dir_;
    std::string path_;
};

TEST_F(IniFileTest, FirstWriteCreatesPrivateFileAndSection) {
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Import", "Host", "none"), "none");
    ASSERT_TRUE(ini.WriteString("Import", "Host", "ftp.example"));
    EXPECT_EQ(Contents(), "[Import]\nHost=ftp.example\n");
    EXPECT_EQ(Mode(), 0600u); // passwords live in this file
    ASSERT_TRUE(ini.WriteString("Export", "Port", ""));
    EXPECT_EQ(ini.ReadString("Export", "Port", "21"), ""); // present but empty is not missing
    EXPECT_EQ(ini.ReadString("Export", "Host", "d"), "d");
    // No temporary files are left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(IniFileTest, ExistingFileKeepsItsModeAndEverythingUnknown) {
    Put("; hand-written notes\r\n[general]\r\nLOGSSL = 0\r\nColour=blue\r\n\r\n"
        "[Other]\r\nx=1\r\n[Import]\r\nHost=old");
    ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("GENERAL", "LogSSL", "1"), "0"); // names ignore case and blanks
    ASSERT_TRUE(ini.WriteString("General", "logssl", "1"));
    ASSERT_TRUE(ini.WriteString("General", "LogVerbose", "0"));
    ASSERT_TRUE(ini.WriteString("import", "Port", "2121"));
    ASSERT_TRUE(ini.WriteString("Import", "host", "new"));
    // The key keeps its spelling, a new key goes after the section's last line (not after the
    // blank line that separates it from the next), the file keeps its CR LF line ends.
    EXPECT_EQ(Contents(), "; hand-written notes\r\n[general]\r\nLOGSSL =1\r\nColour=blue\r\n"
                          "LogVerbose=0\r\n\r\n[Other]\r\nx=1\r\n[Import]\r\nHost=new\r\n"
                          "Port=2121\r\n");
    EXPECT_EQ(Mode(), 0644u);
}

TEST_F(IniFileTest, LongValuesAreCutAt2047Characters) {
    const std::string longValue(3000, 'v');
    TIniFile ini(path_);
    ASSERT_TRUE(ini.WriteString("Import", "Password", longValue));
    EXPECT_NE(Contents().find(longValue), std::string::npos); // stored whole
    EXPECT_EQ(ini.ReadString("Import", "Password", ""), longValue.substr(0, 2047));
}

TEST_F(IniFileTest, FirstSectionAndKeyOfAName) {
    Put("[A]\nk=first\nk=second\n[a]\nk=third\nj=other\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("a", "K", ""), "first");
    EXPECT_EQ(ini.ReadString("A", "j", "missing"), "missing");
    EXPECT_EQ(ini.ReadString("A", "k=first", "missing"), "missing");
}

TEST_F(IniFileTest, RefusesTextThatWouldForgeOtherLines) {
    Put("[Import]\nHost=h\n");
    TIniFile ini(path_);
    EXPECT_FALSE(ini.WriteString("Import", "Host", "h2\n[General]\nLogSSL=0"));
    EXPECT_FALSE(ini.WriteString("Import", "Host", std::string("a\0b", 3)));
    EXPECT_FALSE(ini.WriteString("Import", "Ho=st", "x"));
    EXPECT_FALSE(ini.WriteString("Imp]ort", "Host", "x"));
    EXPECT_FALSE(ini.WriteString("Import", " ", "x"));
    EXPECT_EQ(Contents(), "[Import]\nHost=h\n");
}

TEST_F(IniFileTest, FailedWritesLeaveTheFileAlone) {
    TIniFile inMissingFolder(dir_ + "/no/such/folder.ini");
    EXPECT_FALSE(inMissingFolder.WriteString("Import", "Host", "x"));
    // A path we cannot read as a file is never replaced by a new one.
    std::filesystem::create_directory(dir_ + "/folder.ini");
    TIniFile onFolder(dir_ + "/folder.ini");
    EXPECT_FALSE(onFolder.WriteString("Import", "Host", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(dir_ + "/folder.ini"));
    EXPECT_EQ(onFolder.ReadString("Import", "Host", "d"), "d");
    // Nor is anything else that is no regular file, and reading one does not block.
    ASSERT_EQ(::mkfifo((dir_ + "/pipe.ini").c_str(), 0600), 0);
    TIniFile onPipe(dir_ + "/pipe.ini");
    EXPECT_EQ(onPipe.ReadString("Import", "Host", "d"), "d");
    EXPECT_FALSE(onPipe.WriteString("Import", "Host", "x"));
    EXPECT_TRUE(std::filesystem::is_fifo(dir_ + "/pipe.ini"));
}

TEST_F(IniFileTest, WritesThroughALinkToTheFileItNames) {
    Put("[Import]\nHost=h\n");
    const std::string link = dir_ + "/link.ini";
    std::filesystem::create_symlink(path_, link);
    TIniFile ini(link);
    ASSERT_TRUE(ini.WriteString("Import", "Host", "via-link"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Contents(), "[Import]\nHost=via-link\n");
}

} // namespace
