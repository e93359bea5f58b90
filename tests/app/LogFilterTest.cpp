// The activity log's time stamps (shown, copied, saved; the texts themselves unchanged) and
// its filter by job and to failures.
#include "app/LogFilterModel.h"
#include "app/MainForm.h"
#include "config/dialog/MessageBoxes.h"
#include "servers/ChildProcess.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

QStringList Shown(const TfmMainForm& window) {
    QStringList lines;
    const QAbstractItemModel* shown = window.lstLog->model();
    for (int row = 0; row < shown->rowCount(); ++row)
        lines << shown->index(row, 0).data().toString();
    return lines;
}

// Drops the "HH:MM:SS " in front after checking that it is there.
QStringList WithoutTime(const QStringList& lines) {
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d (.*)$"),
                                          QRegularExpression::DotMatchesEverythingOption);
    QStringList texts;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = stamp.match(line);
        texts << (match.hasMatch() ? match.captured(1) : QStringLiteral("<no time> ") + line);
    }
    return texts;
}

} // namespace

TEST(LogTimeAndFilter, LinesCarryTheirTimeAndFilterByJobAndFailure) {
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.LogFilter->SetJobs({"Import", "Partner", "Partner 2"});
    const auto before = std::chrono::system_clock::now();
    window.AddLogLine(nullptr, "Import > Monitor started", clMaroon);
    window.AddLogLine(nullptr, "Partner > Upload failed", clRed);
    window.AddLogLine(nullptr, "Partner 2 > file.txt sent", clGreen);
    window.AddLogLine(nullptr, "Import > Login incorrect.", clRed);
    window.AddLogLine(nullptr, "Job [Import:x/y] skipped: bad name", clRed);
    window.AddLogLine(nullptr, "Partner > two\r\nlines", clHotLight);
    QCoreApplication::processEvents();

    // The texts stay as written; the time is the local one of the Append.
    EXPECT_EQ(window.LogLines->Line(0).Text, "Import > Monitor started");
    EXPECT_GE(window.LogLines->Line(0).Written, before);
    EXPECT_EQ(Shown(window)[0],
              QString::fromStdString(LogLineTime(window.LogLines->Line(0).Written) +
                                     " Import > Monitor started"));

    struct Case {
        const char* job;
        bool errorsOnly;
        QStringList expected;
    } cases[] = {
        {"",
         false,
         {"Import > Monitor started", "Partner > Upload failed", "Partner 2 > file.txt sent",
          "Import > Login incorrect.", "Job [Import:x/y] skipped: bad name",
          "Partner > two\r\nlines"}},
        {"Partner", false, {"Partner > Upload failed", "Partner > two\r\nlines"}},
        {"Partner 2", false, {"Partner 2 > file.txt sent"}},
        {"",
         true,
         {"Partner > Upload failed", "Import > Login incorrect.",
          "Job [Import:x/y] skipped: bad name"}},
        {"Import", true, {"Import > Login incorrect."}},
        {"Partner 2", true, {}},
    };
    for (const Case& c : cases) {
        window.LogFilter->Choose(c.job, c.errorsOnly);
        EXPECT_EQ(WithoutTime(Shown(window)), c.expected) << c.job << " " << c.errorsOnly;
    }

    // A line that arrives while filtered shows when it matches, and the list follows it.
    window.LogFilter->Choose("Import", false);
    window.AddLogLine(nullptr, "Import > Monitor closed", clMaroon);
    window.AddLogLine(nullptr, "Partner > Monitor closed", clMaroon);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.lstLog->currentIndex().row() == 2; }, 5000));
    EXPECT_EQ(WithoutTime(Shown(window)),
              QStringList({"Import > Monitor started", "Import > Login incorrect.",
                           "Import > Monitor closed"}));

    // Copy and save take what is shown, time stamps included.
    window.lstLog->selectionModel()->select(window.lstLog->model()->index(1, 0),
                                            QItemSelectionModel::ClearAndSelect |
                                                QItemSelectionModel::Rows);
    window.lstLog->CopySelection();
    EXPECT_EQ(WithoutTime({QApplication::clipboard()->text()}),
              QStringList({"Import > Login incorrect."}));
    tavrin::TMessageRecorder boxes;
    const std::string dir = testsrv::MakeTempDir("logfilter-");
    boxes.QueueChosenPath(dir + "/saved.log");
    window.lstLog->actSaveLogAs->trigger();
    const QStringList saved =
        QString::fromStdString(testsrv::ReadWholeFile(dir + "/saved.log")).split('\n');
    EXPECT_EQ(WithoutTime(saved.mid(0, 3)),
              QStringList({"Import > Monitor started", "Import > Login incorrect.",
                           "Import > Monitor closed"}));
    std::filesystem::remove_all(dir);

    // A job that is gone from the list falls back to all jobs.
    window.LogFilter->SetJobs({"Partner"});
    EXPECT_EQ(window.LogFilter->cbJob->currentIndex(), 0);
    EXPECT_EQ(Shown(window).size(), window.LogLines->rowCount());
    EXPECT_EQ(window.lstLog->model(), window.LogLines) << "unfiltered shows the log itself";
}
