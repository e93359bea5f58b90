// `./run --demo` starts fresh each time: the demo script is run twice with this test program
// in the window's place (a headless driver that presses "Import monitor" and waits for the
// demo's three files), and both runs must see all three arrive.
#include "app/MainForm.h"
#include "app/SignalCloser.h"
#include "config/ConfigPaths.h"
#include "config/SettingsFile.h"
#include "platform/FileLock.h"
#include "servers/ChildProcess.h"

#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const char* const kReports[] = {"report-1.txt", "report-2.txt", "report-3.txt"};

QStringList Log(const TfmMainForm& window) {
    QStringList lines;
    for (int row = 0; row < window.LogLines->rowCount(); ++row)
        lines << QString::fromStdString(window.LogLines->Line(row).Text);
    return lines;
}

} // namespace

// The driver: what a user of the demo does, with the settings the demo script wrote.
int RunDemoDriver() {
    TfmMainForm window;
    TSignalCloser closer(&window);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 2;
    const std::string import = tavrin::LoadImportConfiguration().LocalFolder;
    if (import.empty() || !fs::is_directory(import) || !fs::is_empty(import)) {
        std::fprintf(stderr, "driver: the import folder %s is not fresh\n", import.c_str());
        return 3;
    }
    window.tbtnImport->click();
    const bool arrived = QTest::qWaitFor(
        [&] {
            const QStringList log = Log(window);
            for (const char* name : kReports)
                if (!log.contains(QStringLiteral("Import > Getting file \"%1\" done").arg(name)))
                    return false;
            return true;
        },
        60000);
    if (!arrived) {
        std::fprintf(stderr, "driver: files missing; log:\n%s\n",
                     Log(window).join('\n').toLocal8Bit().constData());
        return 4;
    }
    // Closing as a desktop logout does: by signal.
    ::kill(::getpid(), SIGTERM);
    if (!QTest::qWaitFor([&] { return !window.isVisible(); }, 10000))
        return 5;
    return window.Jobs().Find("Import")->State() == tavrin::jobs::TJobState::Stopped ? 0 : 6;
}

TEST(Demo, StartsFreshEachTimeAndTheThreeFilesArriveBothTimes) {
    const std::string demo = testsrv::MakeTempDir("demo-");
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    ::setenv("TAVRIN_DEMO_DIR", demo.c_str(), 1);
    ::setenv("TAVRIN_DEMO_DRIVER", "1", 1);
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        std::string output;
        const int status = testsrv::RunCommand({"/bin/bash", TAVRIN_SOURCE_DIR "/tools/demo", self},
                                               output, std::chrono::milliseconds(120000));
        EXPECT_EQ(status, 0) << output;
        for (const char* name : kReports) {
            const std::string fetched = testsrv::ReadWholeFile(demo + "/import/" + name);
            EXPECT_FALSE(fetched.empty()) << name;
            EXPECT_EQ(fetched, testsrv::ReadWholeFile(demo + "/server/outbox/" + name)) << name;
        }
        if (run == 2)
            break;
        // What a first session leaves behind, which the next one must not trip over.
        testsrv::WriteWholeFile(demo + "/import/left-over.txt", "from the first run\n");
        testsrv::WriteWholeFile(demo + "/server/inbox/uploaded.txt", "uploaded\n");
        fs::remove(demo + "/server/outbox/report-2.txt");
    }
    EXPECT_FALSE(fs::exists(demo + "/server/inbox/uploaded.txt")) << "server files reset";
    ::unsetenv("TAVRIN_DEMO_DIR");
    ::unsetenv("TAVRIN_DEMO_DRIVER");
    fs::remove_all(demo);
}

// A second `./run --demo` while one runs would clear the running demo's folders under it.
TEST(Demo, RefusesToStartOverARunningDemo) {
    const std::string demo = testsrv::MakeTempDir("demo-");
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    fs::create_directories(demo + "/import");
    testsrv::WriteWholeFile(demo + "/import/fetched.txt", "the running demo's\n");
    tavrin::fs::TFileLock running(demo + "/demo"); // what the running demo's script holds
    ::setenv("TAVRIN_DEMO_DIR", demo.c_str(), 1);
    ::setenv("TAVRIN_DEMO_DRIVER", "1", 1);
    std::string output;
    const int status = testsrv::RunCommand({"/bin/bash", TAVRIN_SOURCE_DIR "/tools/demo", self},
                                           output, std::chrono::milliseconds(60000));
    ::unsetenv("TAVRIN_DEMO_DIR");
    ::unsetenv("TAVRIN_DEMO_DRIVER");
    EXPECT_EQ(status, 2) << output;
    EXPECT_NE(output.find("A demo is already running (process " + std::to_string(::getpid())),
              std::string::npos)
        << output;
    EXPECT_EQ(testsrv::ReadWholeFile(demo + "/import/fetched.txt"), "the running demo's\n");
    fs::remove_all(demo);
}
