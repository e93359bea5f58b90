// Transfers and file operations against a real sshd, whose files the test reads directly.
#include "SftpTestSupport.h"

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using namespace tavrin::sftp;
namespace fs = std::filesystem;

namespace {

class SftpFiles : public sftptest::SftpTest {
protected:
    void Start() {
        server_ = std::make_unique<testsrv::SshdServer>(testsrv::SshdOptions{.root = root_});
        session_.Connect(SettingsFor(*server_));
    }
    void ExpectFailure(const std::function<void()>& operation, const std::string& part) {
        try {
            operation();
            ADD_FAILURE() << "no failure, expected one with: " << part;
        } catch (const ESftpError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find(part), std::string::npos) << text;
            EXPECT_NE(text.find(Where(*server_)), std::string::npos) << text;
        }
    }
    std::unique_ptr<testsrv::SshdServer> server_;
    TSftpSession session_;
};

TEST_F(SftpFiles, TransfersEachWayKeepEveryByte) {
    const std::string local = dir_ + "/local";
    fs::create_directories(local);
    Start();
    for (const size_t size : {size_t(0), size_t(1), size_t(1) << 20, size_t(50) << 20}) {
        SCOPED_TRACE(size);
        const std::string name = "file-" + std::to_string(size);
        const std::string source = local + "/" + name;
        testsrv::WriteWholeFile(source, sftptest::Pattern(size));
        const std::string hash = sftptest::FileSha256(source);

        uint64_t lastUp = 0;
        bool ordered = true;
        session_.Upload(source, name, [&](uint64_t done, uint64_t total) {
            ordered = ordered && done >= lastUp && done <= total && total == size;
            lastUp = done;
            return true;
        });
        EXPECT_EQ(sftptest::FileSha256(root_ + "/" + name), hash);
        EXPECT_EQ(session_.Size(name), size);

        // The target holds more than the download brings: it must end up exactly as long.
        const std::string target = local + "/back-" + name;
        testsrv::WriteWholeFile(target, std::string(size + 70000, 'x'));
        uint64_t lastDown = 0;
        session_.Download(name, target, [&](uint64_t done, uint64_t total) {
            ordered = ordered && done >= lastDown && total == size;
            lastDown = done;
            return true;
        });
        EXPECT_EQ(fs::file_size(target), size);
        EXPECT_EQ(sftptest::FileSha256(target), hash);
        EXPECT_TRUE(ordered);
        if (size > 0) {
            EXPECT_EQ(lastUp, size);
            EXPECT_EQ(lastDown, size);
        }
    }
}

TEST_F(SftpFiles, StoppedTransfersRaiseAndLeaveTheSessionUsable) {
    testsrv::WriteWholeFile(root_ + "/big", sftptest::Pattern(8 << 20));
    const std::string local = dir_ + "/big";
    testsrv::WriteWholeFile(local, sftptest::Pattern(8 << 20));
    Start();
    auto stopEarly = [](uint64_t done, uint64_t) { return done < (1 << 20); };
    ExpectFailure([&] { session_.Download("big", dir_ + "/down", stopEarly); }, "was stopped");
    ExpectFailure([&] { session_.Upload(local, "up", stopEarly); }, "was stopped");
    // Answers still on their way were collected: the next requests get their own answers.
    EXPECT_EQ(session_.Size("big"), uint64_t(8) << 20);
    session_.Download("big", dir_ + "/again");
    EXPECT_EQ(sftptest::FileSha256(dir_ + "/again"), sftptest::FileSha256(root_ + "/big"));
}

TEST_F(SftpFiles, ALocalFileThatCannotBeWrittenFailsTheDownloadAndTheSessionGoesOn) {
    Start();
    // Small files are written as they arrive, large ones by a thread of their own.
    for (const size_t size : {size_t(1) << 20, size_t(24) << 20}) {
        SCOPED_TRACE(size);
        testsrv::WriteWholeFile(root_ + "/file", sftptest::Pattern(size));
        try {
            session_.Download("file", "/dev/full");
            ADD_FAILURE() << "the download was reported done";
        } catch (const ESftpLocalFile& e) {
            EXPECT_NE(std::string(e.what()).find("/dev/full"), std::string::npos) << e.what();
        }
        // The answers still due were collected: the next download gets its own.
        session_.Download("file", dir_ + "/back");
        EXPECT_EQ(sftptest::FileSha256(dir_ + "/back"), sftptest::FileSha256(root_ + "/file"));
    }
}

TEST_F(SftpFiles, AFileThatChangesSizeDuringItsDownloadIsNotDone) {
    const std::string remote = root_ + "/changing";
    const std::vector<std::pair<const char*, uint64_t>> rows = {{"grows", 12 << 20},
                                                                {"shrinks", 3 << 20}};
    Start();
    for (const auto& [name, newSize] : rows) {
        SCOPED_TRACE(name);
        testsrv::WriteWholeFile(remote, sftptest::Pattern(8 << 20));
        bool changed = false;
        auto change = [&](uint64_t done, uint64_t) {
            if (!changed && done >= (1 << 20)) {
                fs::resize_file(remote, newSize);
                changed = true;
            }
            return true;
        };
        ExpectFailure([&] { session_.Download("changing", dir_ + "/down", change); },
                      "changed size");
        EXPECT_TRUE(changed);
    }
}

TEST_F(SftpFiles, ServerGoneMidTransferIsAFailureNeverSuccess) {
    testsrv::WriteWholeFile(root_ + "/big", sftptest::Pattern(16 << 20));
    const std::string local = dir_ + "/big";
    testsrv::WriteWholeFile(local, sftptest::Pattern(16 << 20));
    for (const bool download : {true, false}) {
        SCOPED_TRACE(download ? "download" : "upload");
        Start();
        bool stopped = false;
        auto killAtOneMiB = [&](uint64_t done, uint64_t) {
            if (done >= (1 << 20) && !stopped) {
                server_->Stop(); // the session's processes die with it
                stopped = true;
            }
            return true;
        };
        if (download)
            ExpectFailure([&] { session_.Download("big", dir_ + "/down", killAtOneMiB); },
                          "failed");
        else
            ExpectFailure([&] { session_.Upload(local, "up", killAtOneMiB); }, "failed");
        EXPECT_TRUE(stopped);
        session_.Close();
    }
}

TEST_F(SftpFiles, AServerThatStopsAnsweringFailsTheTransferInsteadOfHangingIt) {
    testsrv::WriteWholeFile(root_ + "/big", sftptest::Pattern(16 << 20));
    const std::string local = dir_ + "/big";
    testsrv::WriteWholeFile(local, sftptest::Pattern(16 << 20));
    for (const bool download : {true, false}) {
        SCOPED_TRACE(download ? "download" : "upload");
        server_ = std::make_unique<testsrv::SshdServer>(testsrv::SshdOptions{.root = root_});
        TSftpSettings settings = SettingsFor(*server_);
        settings.ConnectTimeoutSeconds = 2; // also how long an answer may take
        session_.Connect(settings);
        bool paused = false;
        auto pauseAtOneMiB = [&](uint64_t done, uint64_t) {
            if (done >= (1 << 20) && !paused) {
                server_->SignalSessions(SIGSTOP);
                paused = true;
            }
            return true;
        };
        if (download)
            ExpectFailure([&] { session_.Download("big", dir_ + "/down", pauseAtOneMiB); },
                          "did not answer within 2 s");
        else
            ExpectFailure([&] { session_.Upload(local, "up", pauseAtOneMiB); },
                          "did not answer within 2 s");
        EXPECT_TRUE(paused);
        server_->SignalSessions(SIGCONT);
        session_.Close();
    }
}

TEST_F(SftpFiles, RenameReplacesTheTargetAndDeleteRemoves) {
    testsrv::WriteWholeFile(root_ + "/new", "new contents");
    testsrv::WriteWholeFile(root_ + "/old", "old");
    testsrv::WriteWholeFile(root_ + "/gone", "x");
    fs::create_directories(root_ + "/sub");
    Start();
    session_.Rename("new", "old");
    EXPECT_FALSE(fs::exists(root_ + "/new"));
    EXPECT_EQ(testsrv::ReadWholeFile(root_ + "/old"), "new contents");
    session_.Rename("old", root_ + "/sub/moved"); // absolute target, another folder
    EXPECT_EQ(testsrv::ReadWholeFile(root_ + "/sub/moved"), "new contents");
    session_.Delete("gone");
    EXPECT_FALSE(fs::exists(root_ + "/gone"));

    ExpectFailure([&] { session_.Rename("missing", "other"); }, "no such file");
    ExpectFailure([&] { session_.Delete("gone"); }, "no such file or folder");
    ExpectFailure([&] { session_.Size("gone"); }, root_ + "/gone");
    ExpectFailure([&] { session_.Download("gone", dir_ + "/x"); }, "no such file");
    ExpectFailure([&] { session_.Download("sub", dir_ + "/x"); }, "a folder");
    EXPECT_THROW(session_.Download("sub/moved", dir_ + "/no/such/folder/x"), ESftpError);
}

TEST_F(SftpFiles, ListReportsKindsSizesAndTimes) {
    testsrv::WriteWholeFile(root_ + "/plain", "12345");
    fs::create_directories(root_ + "/folder");
    fs::create_symlink("plain", root_ + "/link-to-file");
    fs::create_symlink("folder", root_ + "/link-to-folder");
    ::mkfifo((root_ + "/pipe").c_str(), 0644);
    const struct utimbuf times { 1700000000, 1700000000 };
    ::utime((root_ + "/plain").c_str(), &times);
    Start();
    std::map<std::string, TSftpEntry> byName;
    for (const TSftpEntry& e : session_.List())
        byName[e.Name] = e;
    ASSERT_EQ(byName.size(), 5u);
    const std::vector<std::pair<std::string, TSftpEntryKind>> kinds = {
        {"plain", TSftpEntryKind::File},
        {"folder", TSftpEntryKind::Folder},
        // Links are never files, whatever they point to.
        {"link-to-file", TSftpEntryKind::Link},
        {"link-to-folder", TSftpEntryKind::Link},
        {"pipe", TSftpEntryKind::Other},
    };
    for (const auto& [name, kind] : kinds)
        EXPECT_EQ(byName[name].Kind, kind) << name;
    EXPECT_EQ(byName["plain"].Size, 5u);
    EXPECT_EQ(byName["plain"].Modified, 1700000000);

    session_.ChangeDirectory("folder");
    EXPECT_EQ(session_.CurrentDirectory(), root_ + "/folder");
    EXPECT_TRUE(session_.List().empty());
    session_.ChangeDirectory("..");
    EXPECT_EQ(session_.CurrentDirectory(), root_);
    EXPECT_EQ(session_.List("folder").size(), 0u);
    ExpectFailure([&] { session_.ChangeDirectory("plain"); }, "not a folder");
    ExpectFailure([&] { session_.ChangeDirectory("nowhere"); }, "nowhere");
    ExpectFailure([&] { session_.List("nowhere"); }, "no such file");
    EXPECT_EQ(session_.CurrentDirectory(), root_);
}

TEST_F(SftpFiles, ReadOnlyFolderFailsClearlyAndKeepsTheLocalFile) {
    fs::create_directories(root_ + "/readonly");
    testsrv::WriteWholeFile(root_ + "/readonly/kept", "kept");
    testsrv::WriteWholeFile(root_ + "/movable", "m");
    const std::string local = dir_ + "/upload";
    testsrv::WriteWholeFile(local, "payload");
    Start(); // hands root_ to the test account; then the folder is made read-only
    ::chmod((root_ + "/readonly").c_str(), 0555);
    ExpectFailure([&] { session_.Upload(local, "readonly/new"); }, "permission denied");
    ExpectFailure([&] { session_.Rename("movable", "readonly/movable"); }, "permission denied");
    ExpectFailure([&] { session_.Delete("readonly/kept"); }, "permission denied");
    EXPECT_EQ(testsrv::ReadWholeFile(local), "payload");
    EXPECT_TRUE(fs::exists(root_ + "/readonly/kept"));
    EXPECT_FALSE(fs::exists(root_ + "/readonly/new"));
    // Nothing is left half-done on the session: it keeps working.
    session_.Upload(local, "fine");
    EXPECT_EQ(testsrv::ReadWholeFile(root_ + "/fine"), "payload");
}

TEST(SftpJoinPath, OneSlashBetweenAndAbsoluteNamesKept) {
    const std::vector<std::tuple<std::string, std::string, std::string>> rows = {
        {"/data", "file", "/data/file"},
        {"/data/", "file", "/data/file"},
        {"/", "file", "/file"},
        {"/data", "/abs/file", "/abs/file"},
        {"", "file", "file"},
        {"/data", "", "/data"},
        {"rel", "sub/file", "rel/sub/file"},
    };
    for (const auto& [folder, name, joined] : rows)
        EXPECT_EQ(TSftpSession::JoinPath(folder, name), joined) << folder << " + " << name;
}

} // namespace
