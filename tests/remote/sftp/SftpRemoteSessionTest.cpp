// The SFTP adapter as the monitors meet it: which failures leave the session usable, what a
// listing reports, the status and host-key lines, and a stop cutting a blocked call.
#include "SftpTestSupport.h"

#include "config/CommonTypesUnit.h"
#include "ftp/listing/IdDateTime.h"
#include "platform/SocketGroup.h"
#include "remote/sftp/SftpRemoteSession.h"

#include <csignal>
#include <dirent.h>
#include <future>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <utime.h>

using namespace tavrin::remote;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

size_t OpenDescriptors() {
    size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++count;
        ::closedir(dir);
    }
    return count;
}

class SftpRemoteSession : public sftptest::SftpTest {
protected:
    void Start() {
        server_ = std::make_unique<testsrv::SshdServer>(testsrv::SshdOptions{.root = root_});
        config_.Protocol = "SFTP";
        config_.Host = "127.0.0.1";
        config_.Port = std::to_string(server_->Port());
        config_.Username = server_->User();
        config_.Password = server_->Password();
        events_.OnStatus = [this](TSessionStatus status, const std::string& text) {
            statuses_.push_back((status == TSessionStatus::Connected ? "* " : "") + text);
        };
        events_.OnTlsInfo = [this](const std::string& text) { greyLines_.push_back(text); };
        session_ = std::make_unique<TSftpRemoteSession>(config_, events_);
    }

    RConfiguration config_;
    TRemoteEvents events_;
    std::vector<std::string> statuses_, greyLines_;
    std::unique_ptr<testsrv::SshdServer> server_;
    std::unique_ptr<TSftpRemoteSession> session_;
};

// The monitors keep a session after a refusal or a local failure and close it after anything
// else: each failure must come as the kind that tells them which.
TEST_F(SftpRemoteSession, FailuresComeAsRefusedLocalOrBrokenAndOnlyBrokenEndsTheSession) {
    testsrv::WriteWholeFile(root_ + "/file", "contents");
    fs::create_directories(root_ + "/readonly");
    const std::string local = dir_ + "/local";
    testsrv::WriteWholeFile(local, "local");
    Start();
    ::chmod((root_ + "/readonly").c_str(), 0555);
    session_->Connect();
    enum Expect { Refused, LocalFailed };
    const std::vector<std::tuple<const char*, std::function<void()>, Expect>> rows = {
        {"download of a missing file", [&] { session_->Download("gone", dir_ + "/x", false); },
         Refused},
        {"download of a folder", [&] { session_->Download("readonly", dir_ + "/x", false); },
         Refused},
        {"download into a missing local folder",
         [&] { session_->Download("file", dir_ + "/no/such/x", false); }, LocalFailed},
        {"upload of a missing local file", [&] { session_->Upload(dir_ + "/none", "up"); },
         LocalFailed},
        {"upload into a read-only folder", [&] { session_->Upload(local, "readonly/up"); },
         Refused},
        {"change into a missing folder", [&] { session_->ChangeFolder("nowhere"); }, Refused},
        {"change into a file", [&] { session_->ChangeFolder("file"); }, Refused},
        {"size of a missing file", [&] { session_->Size("gone"); }, Refused},
        {"rename of a missing file", [&] { session_->Rename("gone", "other"); }, Refused},
        {"delete of a missing file", [&] { session_->Delete("gone"); }, Refused},
    };
    for (const auto& [what, operation, expect] : rows) {
        SCOPED_TRACE(what);
        try {
            operation();
            ADD_FAILURE() << "no failure";
        } catch (const ERemoteRefused& refused) {
            EXPECT_EQ(expect, Refused) << refused.what();
            EXPECT_GT(refused.Code(), 0);
            EXPECT_NE(std::string(refused.what()).find(Where(*server_)), std::string::npos);
        } catch (const ELocalFileFailed& failed) {
            EXPECT_EQ(expect, LocalFailed) << failed.what();
        } catch (const std::exception& other) {
            ADD_FAILURE() << "neither refused nor local: " << other.what();
        }
        EXPECT_TRUE(session_->IsConnected());
    }
    EXPECT_EQ(session_->Size("file"), 8);

    // The server's processes gone: a plain failure, and the session counts as closed.
    server_->SignalSessions(SIGKILL);
    try {
        session_->List();
        ADD_FAILURE() << "a listing on a killed session worked";
    } catch (const ERemoteRefused& refused) {
        ADD_FAILURE() << "a dead connection reported as a refusal: " << refused.what();
    } catch (const ELocalFileFailed& failed) {
        ADD_FAILURE() << "a dead connection reported as a local failure: " << failed.what();
    } catch (const EIdException&) {
    }
    EXPECT_FALSE(session_->IsConnected());
}

TEST_F(SftpRemoteSession, ListingsTellKindSizeAndLocalTimeAndJoinWithASlash) {
    testsrv::WriteWholeFile(root_ + "/plain", "12345");
    fs::create_directories(root_ + "/folder");
    fs::create_symlink("plain", root_ + "/link");
    ::mkfifo((root_ + "/pipe").c_str(), 0644);
    // 14 November 2023 at 22:13:20 UTC, as the local clock reads it.
    const std::time_t when = 1700000000;
    const struct utimbuf times { when, when };
    ::utime((root_ + "/plain").c_str(), &times);
    Start();
    session_->Connect();
    std::map<std::string, TRemoteEntry> byName;
    for (const TRemoteEntry& entry : session_->List())
        byName[entry.name] = entry;
    const std::vector<std::pair<std::string, TRemoteKind>> kinds = {
        {"plain", TRemoteKind::File},
        {"folder", TRemoteKind::Directory},
        {"link", TRemoteKind::Link},
        {"pipe", TRemoteKind::Other},
    };
    ASSERT_EQ(byName.size(), kinds.size());
    for (const auto& [name, kind] : kinds)
        EXPECT_EQ(byName[name].kind, kind) << name;
    const TRemoteEntry& plain = byName["plain"];
    EXPECT_TRUE(plain.sizeKnown && plain.modifiedKnown);
    EXPECT_EQ(plain.size, 5);
    std::tm local{};
    ::localtime_r(&when, &local);
    const tavrin::TDateParts parts = tavrin::DecodeDateTime(plain.modified);
    EXPECT_EQ(std::vector<int>(
                  {parts.year, parts.month, parts.day, parts.hour, parts.minute, parts.second}),
              std::vector<int>({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                local.tm_hour, local.tm_min, local.tm_sec}));

    EXPECT_EQ(session_->PathJoin("", "a"), "a");
    EXPECT_EQ(session_->PathJoin("in", "a"), "in/a");
    EXPECT_EQ(session_->PathJoin("/in/", "a"), "/in/a");
    EXPECT_FALSE(session_->CanResume());
}

// What the log shows: connecting, the socket standing, the login's method; the host key
// trusted on first use in grey once, then known; the server's banner as its description.
TEST_F(SftpRemoteSession, StatusLinesAndTheHostKeyTrustedOnFirstUseOnly) {
    Start();
    const std::string where = Where(*server_);
    session_->Connect();
    EXPECT_EQ(session_->SystemDescription().rfind("SSH-2.0-OpenSSH", 0), 0u)
        << session_->SystemDescription();
    EXPECT_EQ(session_->CurrentFolder(), root_);
    EXPECT_EQ(session_->KeepAlive().text, "SSH keep-alive sent to " + where + ".");
    session_->Close(true);
    EXPECT_FALSE(session_->IsConnected());
    EXPECT_EQ(statuses_,
              (std::vector<std::string>{"Connecting to " + where + ".", "* Connected.",
                                        "Logged in over SFTP with password.", "Disconnected."}));
    ASSERT_EQ(greyLines_.size(), 1u);
    EXPECT_EQ(greyLines_[0].rfind("Trusted the host key of " + where + " on first use: SHA256:", 0),
              0u)
        << greyLines_[0];

    greyLines_.clear();
    session_->Connect();
    EXPECT_TRUE(session_->IsConnected());
    EXPECT_TRUE(greyLines_.empty()) << greyLines_[0];

    // A server that dropped an idle connection: the next cycle connects afresh instead of
    // failing on the dead one.
    server_->SignalSessions(SIGKILL);
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (session_->IsConnected() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(session_->IsConnected());
}

// A monitor's stop shuts its socket group down from another thread: a download from a
// server that stopped answering ends at once instead of after the reply time-out, and a
// closed session leaves no descriptor behind.
TEST_F(SftpRemoteSession, AStopCutsABlockedTransferAndCloseLeavesNoDescriptor) {
    testsrv::WriteWholeFile(root_ + "/big", sftptest::Pattern(32 << 20));
    Start();
    const size_t before = OpenDescriptors();
    tavrin::net::TSocketGroup group;
    std::promise<void> stalled;
    bool paused = false;
    session_->SetProgress([&](uint64_t done, uint64_t) {
        if (done >= (1 << 20) && !paused) {
            server_->SignalSessions(SIGSTOP);
            paused = true;
            stalled.set_value();
        }
        return true;
    });
    auto transfer = std::async(std::launch::async, [&]() -> std::string {
        tavrin::net::TSocketGroupScope scope(group);
        session_->Connect();
        try {
            session_->Download("big", dir_ + "/big", false);
            return "finished";
        } catch (const std::exception& failure) {
            return failure.what();
        }
    });
    ASSERT_EQ(stalled.get_future().wait_for(30s), std::future_status::ready);
    const auto cut = std::chrono::steady_clock::now();
    group.ShutDown();
    ASSERT_EQ(transfer.wait_for(10s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - cut, 5s); // the reply time-out is 30 s
    EXPECT_NE(transfer.get(), "finished");
    EXPECT_FALSE(session_->IsConnected());
    server_->SignalSessions(SIGCONT);
    session_->Close(false);
    EXPECT_EQ(OpenDescriptors(), before);
}

} // namespace
