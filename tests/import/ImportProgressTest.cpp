// What the import monitor reports while it fetches a 50 MB file over FTP, FTPS and SFTP: the
// file's name, 0 bytes first with the listing's size, counts rising to that size at most about
// ten times a second, then Done; Failed when the transfer is cut or a later step of the file
// (the move out of the staging folder) does not go through.
#include "ImportTestSupport.h"

#include "config/TransferProgress.h"
#include "import/MonitorFTPUnit.h"
#include "servers/PrivateHome.h"
#include "servers/RealServers.h"
#include "servers/SshdServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>

using namespace importtest;
namespace stdfs = std::filesystem;

namespace {

enum class Kind { Ftp, Ftps, Sftp };
enum class Trouble { None, CutMidway, StagingTaken };

TEST(ImportProgress, FileReportsRiseToTheListedSizeAndEndWithTheOutcome) {
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
        {"FTP, the name in the import folder taken", Kind::Ftp, Trouble::StagingTaken},
    };
    const size_t size = 50u << 20;
    const std::string content = Payload(size, 5);
    Scratch scratch;
    testsrv::PrivateHome home(scratch.root);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.kind == Kind::Sftp && !testsrv::SshdServer::Unavailable().empty()) {
            ADD_FAILURE() << testsrv::SshdServer::Unavailable();
            continue;
        }
        for (const std::string& folder : {scratch.server, scratch.local, scratch.temp}) {
            stdfs::remove_all(folder);
            stdfs::create_directories(folder);
        }
        stdfs::remove(scratch.registerPath);
        WriteFile(scratch.server + "/big.bin", content);
        std::unique_ptr<testsrv::PyFtpdServer> pyftpd;
        std::unique_ptr<testsrv::SshdServer> sshd;
        RConfiguration config;
        if (row.kind == Kind::Sftp) {
            sshd =
                std::make_unique<testsrv::SshdServer>(testsrv::SshdOptions{.root = scratch.server});
            config = LocalServerConfig(scratch, sshd->Port(), sshd->User(), sshd->Password());
            config.Protocol = "SFTP";
        } else {
            pyftpd = std::make_unique<testsrv::PyFtpdServer>(
                testsrv::PyFtpdOptions{.root = scratch.server, .tls = row.kind == Kind::Ftps});
            config = LocalServerConfig(scratch, pyftpd->Port(), "tavrin", "secret");
            config.SSL = row.kind == Kind::Ftps;
        }
        if (row.trouble == Trouble::StagingTaken) {
            config.FirstToTemp = true;
            WriteFile(scratch.local + "/big.bin", "an older file that stays");
        }
        Recorder log;
        std::vector<TTransferProgress> reports;
        bool cut = false;
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        monitor.SetProgressEvent([&](const TTransferProgress& report) {
            reports.push_back(report);
            if (row.trouble != Trouble::CutMidway || cut || report.done < (4u << 20))
                return;
            cut = true;
            if (sshd)
                sshd->SignalSessions(SIGKILL);
            else
                pyftpd->Stop();
        });
        const auto start = std::chrono::steady_clock::now();
        monitor.Checker().PollCycle();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        // A server stopped midway may still have handed over the whole file (and its 226)
        // before it went; then the file is whole and Done is right. Either way Done comes
        // only with the whole file under its final name, and Failed leaves none there.
        const bool arrived =
            Exists(scratch.local + "/big.bin") && ReadFile(scratch.local + "/big.bin") == content;
        const bool whole =
            row.trouble == Trouble::None || (row.trouble == Trouble::CutMidway && arrived);
        EXPECT_EQ(cut, row.trouble == Trouble::CutMidway);
        if (row.trouble == Trouble::CutMidway && !arrived) {
            EXPECT_FALSE(Exists(scratch.local + "/big.bin"));
        }
        EXPECT_EQ(Exists(scratch.temp + "/big.bin"), row.trouble == Trouble::StagingTaken);
        if (row.trouble == Trouble::None) {
            EXPECT_TRUE(ReadFile(scratch.local + "/big.bin") == content);
        }
        ASSERT_GE(reports.size(), 2u);
        EXPECT_EQ(reports.front().done, 0u);
        for (size_t i = 0; i < reports.size(); ++i) {
            const TTransferProgress& report = reports[i];
            EXPECT_EQ(report.file, "big.bin");
            EXPECT_FALSE(report.upload);
            EXPECT_EQ(report.total, std::optional<uint64_t>(size)) << i;
            if (i > 0) {
                EXPECT_LE(reports[i - 1].done, report.done) << i;
            }
            const TTransferPhase last = whole ? TTransferPhase::Done : TTransferPhase::Failed;
            EXPECT_EQ(report.phase, i + 1 < reports.size() ? TTransferPhase::Moving : last) << i;
        }
        if (whole) {
            EXPECT_EQ(reports.back().done, size);
        } else {
            EXPECT_LE(reports.back().done, size);
        }
        // Ten a second, the first and the two last (the bytes' end and the file's) on top.
        EXPECT_LE(static_cast<double>(reports.size()), seconds * 10 + 4)
            << reports.size() << " reports in " << seconds << " s";
        monitor.RequestStop();
    }
}

} // namespace
