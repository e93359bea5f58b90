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

TEST(DownloadedFilesRegister, LookupComparesTheWholeNameByteForByte) {
    TDownloadedFilesRegister reg;
    for (const char* name :
         {"report.txt", "\xC3\xA4rger.csv", " padded ", "\xFF\xFEraw.bin", "kilo.txt"})
        reg.Add(name);
    struct Row {
        const char* name;
        bool found;
    };
    const Row rows[] = {
        {"report.txt", true},
        {"\xC3\xA4rger.csv", true},
        {" padded ", true},
        {"\xFF\xFEraw.bin", true},
        {"Report.TXT", false},          // another letter case is another file
        {"\xC3\x84rger.csv", false},    // "\u00c4rger.csv" beside "\u00e4rger.csv"
        {"\xE2\x84\xAAilo.txt", false}, // the Kelvin sign is no "k"
        {"\xFF\xFERAW.BIN", false},
        {"report.txt.1", false},
        {"report", false},
        {"padded", false}, // spaces at either end count
        {"", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(reg.Contains(row.name), row.found) << row.name;
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
    EXPECT_TRUE(reg.Contains("Zeta.csv"));
    EXPECT_FALSE(reg.Contains("ZETA.CSV"));

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
