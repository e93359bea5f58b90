// Many requests in flight at once: whatever order the answers come in and however short the
// server keeps them, the file arrives byte for byte, and a file that ends early never counts
// as done. OpenSSH's sftp-server answers in order and in full, so a filter before it (run by
// the real sshd as its subsystem) bends its answers within what the protocol allows.
#include "SftpTestSupport.h"

#include <sys/stat.h>

using namespace tavrin::sftp;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t KiB = 1024, MiB = 1024 * KiB;
constexpr uint64_t kServerBlock = 255 * KiB; // the largest read OpenSSH's server takes

class SftpAnswerOrder : public sftptest::SftpTest {
protected:
    void StartBehindFilter() {
        const std::string filter = dir_ + "/sftp_answer_filter.py";
        fs::copy_file(std::string(TAVRIN_SOURCE_DIR) + "/tests/remote/sftp/sftp_answer_filter.py",
                      filter);
        ::chmod(filter.c_str(), 0755);
        modeFile_ = dir_ + "/filter-mode";
        testsrv::WriteWholeFile(modeFile_, "pass");
        server_ = std::make_unique<testsrv::SshdServer>(
            testsrv::SshdOptions{.root = root_,
                                 .subsystem = "/usr/bin/python3 " + filter + " " + modeFile_ +
                                              " /usr/lib/openssh/sftp-server -d " + root_});
    }
    std::unique_ptr<testsrv::SshdServer> server_;
    std::string modeFile_;
};

TEST_F(SftpAnswerOrder, EveryByteArrivesInPlaceAndAnEarlyEndIsNeverDone) {
    if (!fs::exists("/usr/lib/openssh/sftp-server") || !fs::exists("/usr/bin/python3"))
        GTEST_SKIP() << "needs OpenSSH's sftp-server and python3";
    StartBehindFilter();
    struct Row {
        const char* mode;
        uint64_t size;
        const char* failure; // "" when both transfers must go through
    };
    const std::vector<Row> rows = {
        {"pass", 8 * kServerBlock, ""},
        {"swap", 0, ""},
        {"swap", 1, ""},
        {"swap", kServerBlock, ""},
        {"swap", 16 * kServerBlock + 1, ""}, // more blocks than are asked for at once
        {"swap", 9 * MiB - 1, ""},
        {"short", 1, ""},
        {"short", kServerBlock - 1, ""},
        {"short", 3 * kServerBlock, ""},
        {"swap-short", 2 * MiB + 3, ""},
        // The server's size said more than its reads deliver: the download fails, however
        // the answers come.
        {"eof-at 0", 3 * MiB, "changed size"},
        {"eof-at 1048583", 3 * MiB, "changed size"},
        {"eof-at 3145727", 3 * MiB, "changed size"},
    };
    const std::string local = dir_ + "/local";
    fs::create_directories(local);
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(std::string(row.mode) + ", " + std::to_string(row.size) + " bytes");
        testsrv::WriteWholeFile(modeFile_, row.mode);
        const std::string name = "file-" + std::to_string(i);
        const std::string contents = sftptest::Pattern(row.size);
        testsrv::WriteWholeFile(local + "/" + name, contents);
        testsrv::WriteWholeFile(root_ + "/" + name, contents);
        const std::string hash = sftptest::FileSha256(local + "/" + name);

        TSftpSession session; // the filter reads its mode as the session starts
        session.Connect(SettingsFor(*server_));
        const std::string target = local + "/back-" + name;
        try {
            session.Download(name, target);
            EXPECT_STREQ(row.failure, "") << "the download was reported done";
            EXPECT_EQ(sftptest::FileSha256(target), hash);
        } catch (const ESftpError& e) {
            EXPECT_NE(std::string(row.failure), "") << e.what();
            EXPECT_NE(std::string(e.what()).find(row.failure), std::string::npos) << e.what();
        }
        session.Upload(local + "/" + name, "up-" + name);
        EXPECT_EQ(sftptest::FileSha256(root_ + "/up-" + name), hash);
        // No answer was left behind for the next request to trip on.
        EXPECT_EQ(session.Size("up-" + name), row.size);
    }
}

} // namespace
