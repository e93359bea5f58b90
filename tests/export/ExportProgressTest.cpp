// What the export monitor reports while it uploads a 50 MB file over FTP, FTPS and SFTP: the
// file's name, 0 bytes first with the local file's size, counts rising to that size at most
// about ten times a second, then Done; Failed when the transfer is cut or the local file
// cannot be moved away afterwards.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "config/TransferProgress.h"
#include "export/FolderMonitorUnit.h"
#include "servers/PrivateHome.h"
#include "servers/RealServers.h"
#include "servers/SshdServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using exporttest::TestFolder;
namespace stdfs = std::filesystem;

enum class Kind { Ftp, Ftps, Sftp };
enum class Trouble { None, CutMidway, MoveTaken };

TEST(ExportProgress, FileReportsRiseToTheLocalSizeAndEndWithTheOutcome) {
    const struct Row {
        const char* what;
        Kind kind;
        Trouble trouble;
    } rows[] = {
        {"FTP", Kind::Ftp, Trouble::None},
        {"FTPS", Kind::Ftps, Trouble::None},
        {"SFTP", Kind::Sftp, Trouble::None},
        {"FTP, server gone midway", Kind::Ftp, Trouble::CutMidway},
        {"FTPS, server gone midway", Kind::Ftps, Trouble::CutMidway},
        {"SFTP, session killed midway", Kind::Sftp, Trouble::CutMidway},
        {"FTP, the name in the sent folder taken", Kind::Ftp, Trouble::MoveTaken},
    };
    const size_t size = 50u << 20;
    const std::string content = exporttest::RandomBytes(size, 4);
    exporttest::LogSwitchesSetTo switches{true};
    TestFolder folder;
    folder.LetServersIn();
    testsrv::PrivateHome home(folder.Root());
    const std::string remote = folder.Root() + "/server", sent = folder.Root() + "/sent";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.kind == Kind::Sftp && !testsrv::SshdServer::Unavailable().empty()) {
            ADD_FAILURE() << testsrv::SshdServer::Unavailable();
            continue;
        }
        for (const std::string& path : {remote, remote + "/in", sent}) {
            stdfs::create_directories(path);
            stdfs::permissions(path, stdfs::perms::all);
        }
        stdfs::remove(remote + "/in/big.bin");
        stdfs::remove(sent + "/big.bin");
        stdfs::remove_all(folder.Watched());
        stdfs::create_directories(folder.Watched());
        std::unique_ptr<testsrv::PyFtpdServer> pyftpd;
        std::unique_ptr<testsrv::SshdServer> sshd;
        RConfiguration config;
        config.LocalFolder = folder.Watched();
        config.Host = "127.0.0.1";
        config.PassiveMode = true;
        config.BinaryMode = true;
        config.RemoteFolder = "in";
        config.SettleTime = 0;
        if (row.kind == Kind::Sftp) {
            sshd = std::make_unique<testsrv::SshdServer>(testsrv::SshdOptions{.root = remote});
            config.Protocol = "SFTP";
            config.Port = std::to_string(sshd->Port());
            config.Username = sshd->User();
            config.Password = sshd->Password();
        } else {
            pyftpd = std::make_unique<testsrv::PyFtpdServer>(
                testsrv::PyFtpdOptions{.root = remote, .tls = row.kind == Kind::Ftps});
            config.Port = std::to_string(pyftpd->Port());
            config.Username = "tavrin";
            config.Password = "secret";
            config.SSL = row.kind == Kind::Ftps;
        }
        if (row.trouble == Trouble::MoveTaken) {
            config.MoveDelete = true;
            config.MoveToFolder = sent;
            TestFolder::Write("big.bin", "an older file that stays", sent);
        }
        folder.Write("big.bin", content, folder.Outside());

        std::mutex mutex;
        std::vector<TTransferProgress> reports;
        std::chrono::steady_clock::time_point first{}, last{};
        bool cut = false;
        const auto onProgress = [&](const TTransferProgress& report) {
            std::lock_guard lock(mutex);
            (reports.empty() ? first : last) = std::chrono::steady_clock::now();
            reports.push_back(report);
            if (row.trouble != Trouble::CutMidway || cut || report.done < (4u << 20))
                return;
            cut = true;
            if (sshd)
                sshd->SignalSessions(SIGKILL);
            else
                pyftpd->Stop();
        };
        const auto ended = [&] {
            std::lock_guard lock(mutex);
            return !reports.empty() && reports.back().phase != TTransferPhase::Moving;
        };
        exporttest::LogCapture log;
        {
            TFolderMonitor monitor(config, log.Sink(), {}, {}, onProgress);
            stdfs::rename(folder.Outside() + "/big.bin", folder.Watched() + "/big.bin");
            const auto end = std::chrono::steady_clock::now() + 120s;
            while (!ended() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(10ms);
            ASSERT_TRUE(ended()) << log.Dump();
        }
        const double seconds = std::chrono::duration<double>(last - first).count();

        EXPECT_EQ(cut, row.trouble == Trouble::CutMidway);
        if (row.trouble != Trouble::CutMidway) {
            EXPECT_TRUE(TestFolder::Read(remote + "/in/big.bin") == content);
        }
        // A server stopped midway may take the whole file and go before it confirms it (the
        // file then stays here and goes again later), or confirm it before it goes (Done).
        // Done comes only with the whole file on the server; Failed keeps the local file.
        const bool arrived = stdfs::exists(remote + "/in/big.bin") &&
                             TestFolder::Read(remote + "/in/big.bin") == content;
        ASSERT_GE(reports.size(), 2u);
        EXPECT_EQ(reports.front().done, 0u);
        const bool whole =
            row.trouble == Trouble::None ||
            (row.trouble == Trouble::CutMidway && reports.back().phase == TTransferPhase::Done);
        if (whole) {
            EXPECT_TRUE(arrived);
        } else {
            EXPECT_TRUE(stdfs::exists(folder.Watched() + "/big.bin"));
        }
        const TTransferPhase outcome = whole ? TTransferPhase::Done : TTransferPhase::Failed;
        for (size_t i = 0; i < reports.size(); ++i) {
            const TTransferProgress& report = reports[i];
            EXPECT_EQ(report.file, "big.bin");
            EXPECT_TRUE(report.upload);
            EXPECT_EQ(report.total, std::optional<uint64_t>(size)) << i;
            if (i > 0) {
                EXPECT_LE(reports[i - 1].done, report.done) << i;
            }
            EXPECT_EQ(report.phase, i + 1 < reports.size() ? TTransferPhase::Moving : outcome) << i;
        }
        if (row.trouble == Trouble::CutMidway && !whole) {
            // Bytes handed to the socket count as sent, so a server that dies after the last
            // of them reached its socket buffers still fails the file (above) at a full count.
            EXPECT_LE(reports.back().done, size);
        } else {
            EXPECT_EQ(reports.back().done, size);
        }
        // Ten a second, the first and the two last (the bytes' end and the file's) on top.
        EXPECT_LE(static_cast<double>(reports.size()), seconds * 10 + 4)
            << reports.size() << " reports in " << seconds << " s";
    }
}

} // namespace
