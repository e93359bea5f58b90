#include "import/DownloadedFilesRegister.h"

#include "base/IdException.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class RegisterFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrin-register-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/LocalFileList.txt";
    }
    void TearDown() override {
        std::string command = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> FolderEntries() const {
        std::vector<std::string> names;
        DIR* folder = ::opendir(dir_.c_str());
        while (dirent* entry = ::readdir(folder)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(folder);
        return names;
    }

    std::string dir_, path_;
};

TEST(DownloadedFilesRegister, LookupIgnoresLetterCaseButNothingElse) {
    TDownloadedFilesRegister reg;
    reg.Add("report.txt");
    reg.Add("\xC3\xA4rger.csv"); // "ärger.csv" in UTF-8
    reg.Add(" padded ");
    reg.Add("\xFF\xFEraw.bin"); // not UTF-8: compared as bytes

    EXPECT_TRUE(reg.Contains("Report.TXT"));
    EXPECT_TRUE(reg.Contains("\xC3\x84RGER.CSV")); // "ÄRGER.CSV": a real case fold
    EXPECT_TRUE(reg.Contains("\xFF\xFERAW.BIN"));
    EXPECT_TRUE(reg.Contains(" padded "));

    EXPECT_FALSE(reg.Contains("report.txt.1"));
    EXPECT_FALSE(reg.Contains("report"));
    EXPECT_FALSE(reg.Contains("padded"));          // spaces at either end count
    EXPECT_FALSE(reg.Contains("\xFF\xFDraw.bin")); // another undecodable name stays apart
    EXPECT_FALSE(reg.Contains(""));

    // The Kelvin sign folds to a plain "k": an ASCII name and its non-ASCII spelling meet.
    reg.Add("kilo.txt");
    EXPECT_TRUE(reg.Contains("\xE2\x84\xAAILO.TXT"));
}

TEST(DownloadedFilesRegister, SplitsAtEveryKindOfLineEndAndStopsAtNul) {
    using V = std::vector<std::string>;
    EXPECT_EQ(TDownloadedFilesRegister::SplitLines(""), V{});
    EXPECT_EQ(TDownloadedFilesRegister::SplitLines("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(TDownloadedFilesRegister::SplitLines("a\r\n\r\nb\r\n"), (V{"a", "", "b"}));
    EXPECT_EQ(TDownloadedFilesRegister::SplitLines("a\n\rb"), (V{"a", "", "b"}));
    EXPECT_EQ(TDownloadedFilesRegister::SplitLines("\r\n"), V{""});
    EXPECT_EQ(TDownloadedFilesRegister::SplitLines(std::string("a\nb\0c\nd", 7)), (V{"a", "b"}));
}

TEST_F(RegisterFolder, LfOnlyFileLoadsInOrderAndSavesWithCrLf) {
    Write(path_, "Zeta.csv\n\nalpha.txt\nlast-without-end");
    TDownloadedFilesRegister reg;
    ASSERT_TRUE(reg.LoadIfPresent(path_));
    EXPECT_EQ(reg.Names(),
              (std::vector<std::string>{"Zeta.csv", "", "alpha.txt", "last-without-end"}));
    EXPECT_TRUE(reg.Contains("ZETA.CSV"));

    reg.Add("new.dat");
    reg.SaveToFile(path_);
    // The blank line survives: an edited file keeps its shape.
    EXPECT_EQ(Read(path_), "Zeta.csv\r\n\r\nalpha.txt\r\nlast-without-end\r\nnew.dat\r\n");

    TDownloadedFilesRegister empty;
    empty.SaveToFile(path_);
    EXPECT_EQ(Read(path_), "");
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"LocalFileList.txt"});
}

TEST_F(RegisterFolder, LoadReplacesContentsAndTellsAbsentFromUnreadable) {
    TDownloadedFilesRegister reg;
    reg.Add("stale");
    EXPECT_FALSE(reg.LoadIfPresent(path_));
    EXPECT_EQ(reg.Count(), 0u);
    EXPECT_FALSE(reg.Contains("stale"));

    // Root reads any file, so "present but unreadable" is a folder standing at the path.
    ASSERT_EQ(::mkdir(path_.c_str(), 0700), 0);
    EXPECT_THROW(reg.LoadIfPresent(path_), EIdException);
}

TEST_F(RegisterFolder, FailedSaveLeavesTheOldRegisterWhole) {
    const std::string old = "kept-1.txt\r\nkept-2.txt\r\n";
    Write(path_, old);
    TDownloadedFilesRegister reg;
    for (int i = 0; i < 2000; ++i)
        reg.Add("file-" + std::to_string(i) + ".dat");

    // A disk that fills up in the middle of the save: a file-size limit far below the new
    // text makes write() fail with EFBIG part-way (we run as root, so folder permissions
    // would not stop us).
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = saved;
    tight.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    bool threw = false;
    try {
        reg.SaveToFile(path_);
    } catch (const EIdException&) {
        threw = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(threw);
    EXPECT_EQ(Read(path_), old);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"LocalFileList.txt"});

    // And a folder that is gone: the failure is reported, not swallowed.
    EXPECT_THROW(reg.SaveToFile(dir_ + "/missing/LocalFileList.txt"), EIdException);
}

TEST_F(RegisterFolder, LinkPlantedAtThePathIsReplacedNotFollowed) {
    const std::string victim = dir_ + "/victim.txt";
    Write(victim, "precious");
    ASSERT_EQ(::symlink(victim.c_str(), path_.c_str()), 0);

    TDownloadedFilesRegister reg;
    reg.Add("a.txt");
    reg.SaveToFile(path_);

    struct stat st {};
    ASSERT_EQ(::lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(Read(path_), "a.txt\r\n");
    EXPECT_EQ(Read(victim), "precious");
}

} // namespace
