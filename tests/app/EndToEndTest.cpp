// The whole program from its window against a real server on 127.0.0.1: both monitors
// started from the menu, a file dropped into the export folder reaches the server, a file
// placed on the server reaches the import folder, and the log tells of both.
#include "app/MainForm.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "config/dialog/MessageBoxes.h"
#include "servers/RealServers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(EndToEnd, BothMonitorsMoveFilesAgainstARealServer) {
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString server = work.filePath("server"), exportDir = work.filePath("export"),
                  importDir = work.filePath("import");
    for (const QString& dir : {server + "/outbox", server + "/inbox", exportDir, importDir})
        ASSERT_TRUE(QDir().mkpath(dir));
    const QByteArray waiting = "waiting on the server\r\n";
    {
        QFile file(server + "/outbox/e2e-from-server.txt");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(waiting);
    }

    testsrv::PyFtpdOptions options;
    options.root = server.toStdString();
    testsrv::PyFtpdServer ftp(options);
    const std::string port = std::to_string(ftp.Port());
    std::ofstream(tavrin::ConfigFilePath())
        << "[Import]\nHost=127.0.0.1\nPort=" << port << "\nUsername=" << options.user
        << "\nPassword=" << options.password << "\nRemoteFolder=/outbox\nKeepAlive=1\n"
        << "LocalFolder=" << importDir.toStdString() << "\n[Export]\nHost=127.0.0.1\nPort=" << port
        << "\nUsername=" << options.user << "\nPassword=" << options.password
        << "\nRemoteFolder=/inbox\nLocalFolder=" << exportDir.toStdString() << "\n";

    tavrin::TMessageRecorder boxes;
    {
        TfmMainForm window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.Startimportmonitor1->trigger();
        window.StartEXPORTmonitor1->trigger();
        ASSERT_EQ(window.Jobs().Find("Import")->State(), tavrin::jobs::TJobState::Running);
        ASSERT_EQ(window.Jobs().Find("Export")->State(), tavrin::jobs::TJobState::Running);

        const QByteArray dropped = "dropped by the user\n";
        {
            QFile file(exportDir + "/e2e-to-server.txt");
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(dropped);
        }
        const QString uploaded = server + "/inbox/e2e-to-server.txt";
        const QString downloaded = importDir + "/e2e-from-server.txt";
        // The import monitor's first poll comes one 5 s interval after its start.
        EXPECT_TRUE(QTest::qWaitFor([&] { return ReadAll(uploaded) == dropped; }, 30000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return ReadAll(downloaded) == waiting; }, 30000));

        QCoreApplication::processEvents();
        QStringList log;
        for (int row = 0; row < window.LogLines->rowCount(); ++row)
            log << QString::fromStdString(window.LogLines->Line(row).Text);
        EXPECT_TRUE(
            log.contains("Export > Uploading file \"" + exportDir + "/e2e-to-server.txt\" done"))
            << log.join('\n').toStdString();
        EXPECT_TRUE(log.contains("Import > Getting file \"e2e-from-server.txt\" done"))
            << log.join('\n').toStdString();
        window.close();
    }
    EXPECT_TRUE(boxes.Texts(tavrin::TMessageKind::mkError).empty());
    std::remove(tavrin::ConfigFilePath().c_str());
    LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
}

} // namespace
