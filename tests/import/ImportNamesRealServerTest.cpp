// Names and folders as real servers give them: names that differ only in letter case are
// different files here, the longest names a file system allows still arrive, and the remote
// folder may be relative, absolute, with or without a trailing slash, empty or missing.
#include "ImportTestSupport.h"

#include "config/LogSwitches.h"
#include "import/MonitorFTPUnit.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

using namespace importtest;

namespace {

enum class Kind { PyFtpd, Vsftpd };

class ImportNamesRealServer : public ::testing::TestWithParam<Kind> {
protected:
    void StartServer() {
        if (GetParam() == Kind::PyFtpd) {
            testsrv::PyFtpdOptions options;
            options.root = scratch.server;
            pyftpd = std::make_unique<testsrv::PyFtpdServer>(options);
            config = LocalServerConfig(scratch, pyftpd->Port(), options.user, options.password);
            absoluteRoot = ""; // pyftpdlib shows its root as "/"
        } else {
            vsftpd =
                std::make_unique<testsrv::VsftpdServer>(testsrv::VsftpdOptions{scratch.server});
            config = LocalServerConfig(scratch, vsftpd->Port(), vsftpd->User(), vsftpd->Password());
            absoluteRoot = scratch.server; // vsftpd shows the whole file system
        }
    }
    std::string Served(const std::string& name) const { return scratch.server + "/" + name; }
    std::vector<std::string> LocalNames() const {
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(scratch.local.c_str())) {
            while (dirent* e = ::readdir(dir))
                if (e->d_name[0] != '.' || (e->d_name[1] != '\0' && e->d_name[1] != '.'))
                    names.push_back(e->d_name);
            ::closedir(dir);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    size_t Fetches() const {
        return std::count_if(log.lines.begin(), log.lines.end(), [](const LogLine& line) {
            return line.text.rfind("Import > Getting file \"", 0) == 0 &&
                   line.text.compare(line.text.size() - 5, 5, " done") == 0;
        });
    }

    Scratch scratch;
    Recorder log;
    RConfiguration config;
    std::string absoluteRoot;
    std::unique_ptr<testsrv::PyFtpdServer> pyftpd;
    std::unique_ptr<testsrv::VsftpdServer> vsftpd;
};

TEST_P(ImportNamesRealServer, EveryListedNameArrivesUnderItselfAndOnlyOnce) {
    const std::string longest = std::string(251, 'L') + ".dat";                     // 255 bytes
    const std::string longestUtf8 = std::string(247, 'u') + "\xC3\xA4\xC3\xB6.txt"; // 255 bytes
    const std::vector<std::string> names = {
        "INVOICE.PDF",
        "invoice.pdf", // twins in ASCII
        "\xC3\x84rger.txt",
        "\xC3\xA4rger.txt", // twins in UTF-8: Ärger.txt, ärger.txt
        "\xE2\x84\xAAilo.txt",
        "kilo.txt", // the Kelvin sign folds to a plain "k"
        " padded ",
        "padded", // spaces at either end count
        longest,
        longestUtf8, // ".NAME.part" would be too long
        std::string(254, 'p'),
        std::string(253, 'q') // and 1 or 2 bytes shorter still
    };
    std::vector<std::string> expected;
    for (size_t i = 0; i < names.size(); ++i) {
        WriteFile(Served(names[i]), Payload(1000 + i, static_cast<unsigned>(i)));
        expected.push_back(names[i]);
    }
    std::sort(expected.begin(), expected.end());
    StartServer();

    {
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        monitor.Checker().PollCycle();
    }
    EXPECT_EQ(log.CountColour(clRed), 0u);
    EXPECT_TRUE(log.boxes.empty());
    EXPECT_EQ(LocalNames(), expected); // no hidden part left behind either
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_TRUE(ReadFile(scratch.local + "/" + names[i]) ==
                    Payload(1000 + i, static_cast<unsigned>(i)))
            << names[i].substr(0, 40);
    // The register file keeps each name once, byte for byte.
    std::vector<std::string> saved =
        TDownloadedFilesRegister::SplitLines(ReadFile(scratch.registerPath));
    std::sort(saved.begin(), saved.end());
    EXPECT_EQ(saved, expected);

    // After a restart nothing comes again; a third spelling is a new file.
    log.lines.clear();
    WriteFile(Served("Invoice.pdf"), "third");
    {
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        monitor.Checker().PollCycle();
    }
    EXPECT_EQ(Fetches(), 1u);
    EXPECT_EQ(ReadFile(scratch.local + "/Invoice.pdf"), "third");
}

TEST_P(ImportNamesRealServer, RemoteFolderRelativeAbsoluteEmptyOrMissing) {
    ::mkdir(Served("out").c_str(), 0755);
    StartServer();
    const std::string hostPort = "127.0.0.1:" + config.Port;
    struct Row {
        std::string folder;
        std::string where; // where the file lies, below the server's root
        bool found;
    };
    const Row rows[] = {
        {"out", "out", true},
        {"out/", "out", true},
        {"./out", "out", true},
        {absoluteRoot + "/out", "out", true},
        {absoluteRoot + "/out/", "out", true},
        {"", "", true}, // the login folder
        {"missing", "", false},
        {absoluteRoot + "/out/missing", "", false},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE("RemoteFolder=" + row.folder);
        const std::string name = "f" + std::to_string(++n) + ".txt";
        const std::string served =
            row.where.empty() ? Served(name) : Served(row.where + "/" + name);
        WriteFile(served, "row " + row.folder);
        log.lines.clear();
        log.boxes.clear();
        config.RemoteFolder = row.folder;
        config.MoveDelete = true;
        {
            TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
            monitor.Checker().PollCycle();
        }
        RunEventsFor(std::chrono::milliseconds(100)); // a box opens once the cycle is over
        if (row.found) {
            EXPECT_EQ(ReadFile(scratch.local + "/" + name), "row " + row.folder);
            EXPECT_FALSE(Exists(served)); // DELE found it too
            EXPECT_EQ(log.CountColour(clRed), 0u);
            EXPECT_TRUE(log.boxes.empty());
        } else {
            EXPECT_FALSE(Exists(scratch.local + "/" + name));
            // The line and the box name the folder and the server.
            const std::string named = "\"" + row.folder + "\" on " + hostPort;
            size_t redNaming = 0;
            for (const LogLine& line : log.lines)
                redNaming += line.colour == clRed && line.text.find(named) != std::string::npos;
            EXPECT_EQ(redNaming, 1u);
            ASSERT_EQ(log.boxes.size(), 1u);
            EXPECT_NE(log.boxes[0].find(named), std::string::npos) << log.boxes[0];
            ::unlink(served.c_str());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, ImportNamesRealServer,
                         ::testing::Values(Kind::PyFtpd, Kind::Vsftpd),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return info.param == Kind::PyFtpd ? "PyFtpd" : "Vsftpd";
                         });

} // namespace
