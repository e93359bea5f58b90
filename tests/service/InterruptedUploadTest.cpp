// The service killed in the middle of an upload (kill -9: no chance to clean up) leaves the
// server a truncated file under its final name. Started again, it sends that file again
// before anything else, although ExportExisting is off, and says why.
#include "servers/ChildProcess.h"
#include "servers/FaultyFtpdServer.h"

#include "ServiceRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

namespace {

namespace stdfs = std::filesystem;
using namespace std::chrono_literals;

using servicetest::kService;

// The service keeps a note of the upload in progress in the per-user state folder: for every
// test of this program that folder is one of its own, never the user's.
class StateHomeForTests : public ::testing::Environment {
public:
    void SetUp() override {
        folder_ = testsrv::MakeTempDir("tavrin-service-state-");
        ::setenv("XDG_STATE_HOME", folder_.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        stdfs::remove_all(folder_, ignored);
    }

private:
    std::string folder_;
};

[[maybe_unused]] ::testing::Environment* const kStateHome =
    ::testing::AddGlobalTestEnvironment(new StateHomeForTests);

using servicetest::WaitFor;

TEST(InterruptedUploadTest, KilledMidUploadTheServiceSendsTheFileAgainWholeAtItsNextStart) {
    const std::string work = testsrv::MakeTempDir("tavrin-interrupted-");
    for (const char* dir : {"server/inbox", "export", "outside"})
        stdfs::create_directories(work + "/" + dir);
    testsrv::FaultyFtpdServer server({.root = work + "/server"});
    server.SetFaults(testsrv::FaultPlan().StopReadingUpload("big.bin", 1 << 20));
    testsrv::WriteWholeFile(work + "/MonitorConfig.ini",
                            "[General]\nLogVerbose=0\n[Export]\nHost=127.0.0.1\nUsername=tavrin\n"
                            "Password=secret\nPort=" +
                                std::to_string(server.Port()) +
                                "\nRemoteFolder=/inbox\nSettleTime=0\nExportExisting=0\n"
                                "LocalFolder=" +
                                work + "/export\n");
    auto start = [&](const char* output) {
        return testsrv::ChildProcess(
            {kService, "--export", "--config", work + "/MonitorConfig.ini"}, work + "/" + output);
    };
    std::string content(32 << 20, '\0');
    std::mt19937 random(19);
    for (char& byte : content)
        byte = static_cast<char>(random() & 0xff);
    testsrv::WriteWholeFile(work + "/outside/big.bin", content);
    const std::string uploaded = work + "/server/inbox/big.bin";

    {
        testsrv::ChildProcess first = start("first.txt");
        ASSERT_TRUE(WaitFor(
            [&] {
                return testsrv::ReadWholeFile(work + "/first.txt").find("Monitor started") !=
                       std::string::npos;
            },
            20s))
            << first.Output();
        stdfs::rename(work + "/outside/big.bin", work + "/export/big.bin");
        ASSERT_TRUE(server.WaitForEvent("stop-reading big.bin", 20s)) << first.Output();
        ASSERT_EQ(::kill(first.Pid(), SIGKILL), 0);
        ASSERT_TRUE(first.WaitExit(10s));
    }
    ASSERT_LT(stdfs::file_size(uploaded), content.size()) << "the cut left a truncated file";

    server.SetFaults({});
    testsrv::ChildProcess second = start("second.txt");
    EXPECT_TRUE(WaitFor(
        [&] { return stdfs::exists(uploaded) && testsrv::ReadWholeFile(uploaded) == content; },
        60s))
        << second.Output();
    EXPECT_TRUE(WaitFor(
        [&] {
            return second.Output().find("Uploading file \"" + work + "/export/big.bin\" done") !=
                   std::string::npos;
        },
        20s))
        << second.Output();
    EXPECT_NE(second.Output().find("File big.bin is sent again after an interrupted run."),
              std::string::npos)
        << second.Output();
    second.Stop();
    std::error_code ignored;
    stdfs::remove_all(work, ignored);
}

} // namespace
