// What a session reports while a 50 MB file moves, each way and over each protocol: a first
// report of 0 bytes, counts that only rise, at most about ten reports a second, and a last
// report of every byte. The file arrives whole with reports on.
#include "config/CommonTypesUnit.h"
#include "remote/RemoteSession.h"
#include "servers/ChildProcess.h"
#include "servers/RealServers.h"
#include "servers/SshdServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tavrin::remote::MakeRemoteSession;
using tavrin::remote::TRemoteSession;

struct Report {
    uint64_t done;
    std::optional<uint64_t> total;
};

std::string Bytes(size_t size) {
    std::string data(size, '\0');
    uint32_t x = 12345;
    for (char& c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return data;
}

TEST(TransferBytes, FiftyMegabytesRiseToTheTotalAtMostTenTimesASecond) {
    enum class Kind { Ftp, Ftps, Sftp };
    const struct Row {
        const char* what;
        Kind kind;
    } rows[] = {{"FTP (pyftpdlib)", Kind::Ftp},
                {"FTPS (pyftpdlib)", Kind::Ftps},
                {"SFTP (sshd)", Kind::Sftp}};
    const std::string dir = testsrv::MakeTempDir("tavrin-transfer-bytes-");
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    const std::string root = dir + "/root", local = dir + "/local";
    fs::create_directories(local);
    const size_t size = 50u << 20;
    const std::string content = Bytes(size);
    testsrv::WriteWholeFile(local + "/up.bin", content);
    const testsrv::TestCertificates& certs = testsrv::Certificates(); // also our known hosts
    ::setenv("HOME", dir.c_str(), 1);

    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(root);
        fs::create_directories(root);
        fs::permissions(root, fs::perms::all);
        testsrv::WriteWholeFile(root + "/down.bin", content);
        fs::permissions(root + "/down.bin", fs::perms::all);
        std::unique_ptr<testsrv::PyFtpdServer> pyftpd;
        std::unique_ptr<testsrv::SshdServer> sshd;
        RConfiguration config;
        config.Host = "127.0.0.1";
        config.PassiveMode = true;
        config.BinaryMode = true;
        if (row.kind == Kind::Sftp) {
            if (const std::string why = testsrv::SshdServer::Unavailable(); !why.empty()) {
                ADD_FAILURE() << why;
                continue;
            }
            sshd = std::make_unique<testsrv::SshdServer>(testsrv::SshdOptions{.root = root});
            config.Protocol = "SFTP";
            config.Port = std::to_string(sshd->Port());
            config.Username = sshd->User();
            config.Password = sshd->Password();
        } else {
            pyftpd = std::make_unique<testsrv::PyFtpdServer>(
                testsrv::PyFtpdOptions{.root = root, .tls = row.kind == Kind::Ftps});
            config.Port = std::to_string(pyftpd->Port());
            config.Username = "tavrin";
            config.Password = "secret";
            config.SSL = row.kind == Kind::Ftps;
            (void)certs;
        }
        std::unique_ptr<TRemoteSession> session = MakeRemoteSession(config, {});
        session->Connect();
        for (const bool upload : {false, true}) {
            SCOPED_TRACE(upload ? "upload" : "download");
            std::vector<Report> reports;
            session->SetOnTransferBytes([&](uint64_t done, std::optional<uint64_t> total) {
                reports.push_back({done, total});
            });
            const auto start = std::chrono::steady_clock::now();
            if (upload)
                session->Upload(local + "/up.bin", "up.bin");
            else
                session->Download("down.bin", local + "/down.bin", false);
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            session->SetOnTransferBytes({});
            EXPECT_TRUE(testsrv::ReadWholeFile(upload ? root + "/up.bin" : local + "/down.bin") ==
                        content);
            ASSERT_GE(reports.size(), 2u);
            EXPECT_EQ(reports.front().done, 0u);
            EXPECT_EQ(reports.back().done, size);
            for (size_t i = 1; i < reports.size(); ++i)
                EXPECT_LE(reports[i - 1].done, reports[i].done) << i;
            // The first and the last report come on top of ten a second; one more of slack.
            EXPECT_LE(static_cast<double>(reports.size()), seconds * 10 + 3)
                << reports.size() << " reports in " << seconds << " s";
            // A download over FTP leaves the size to the caller, who has it from the listing.
            const bool totalKnown = upload || row.kind == Kind::Sftp;
            for (const Report& report : reports)
                EXPECT_EQ(report.total, totalKnown ? std::optional<uint64_t>(size) : std::nullopt);
        }
        session->Close(true);
    }
    fs::remove_all(dir);
}

} // namespace
