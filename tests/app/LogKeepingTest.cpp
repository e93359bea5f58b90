// How much of the log the window keeps and how it can be read: the newest LogLines lines,
// the list that follows the bottom only while it is there, whole texts of wide lines, copy
// and save, and the optional log file with its time stamps and rotation.
#include "app/MainForm.h"
#include "config/ConfigPaths.h"
#include "config/LogFileWriter.h"
#include "config/LogSwitches.h"
#include "config/dialog/MessageBoxes.h"
#include "servers/ChildProcess.h"

#include <QApplication>
#include <QClipboard>
#include <QHelpEvent>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace {

constexpr int kWaitMs = 10000;

class LogKeeping : public ::testing::Test {
protected:
    void SetUp() override { dir_ = testsrv::MakeTempDir("logkeep-"); }
    void TearDown() override {
        std::remove(tavrin::ConfigFilePath().c_str());
        std::filesystem::remove_all(dir_);
        LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
    }
    static void WriteGeneral(const std::string& keys) {
        std::ofstream(tavrin::ConfigFilePath()) << "[General]\n" << keys;
    }
    static std::string Text(const TfmMainForm& window, int row) {
        return window.LogLines->Line(row).Text;
    }
    static void Settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    std::string dir_;
    tavrin::TMessageRecorder boxes_;
};

TEST_F(LogKeeping, OnlyTheNewestLinesStayWithTheNewestSelected) {
    // Lines from the window's thread one by one, and from a worker thread in batches; a limit
    // of 0 keeps everything; a lower limit set later trims at once.
    struct Case {
        const char* keys;
        int lines;
        bool fromWorker;
        int kept;
    };
    const Case cases[] = {
        {"LogLines=50\n", 130, false, 50},
        {"LogLines=50\n", 130, true, 50},
        // Above 64 lines they go in batches of a 64th: 1,005 lines at 640 keep 645.
        {"LogLines=640\n", 1005, false, 645},
        {"LogLines=0\n", 3000, false, 3000},
        {"", 2000, false, 2000},            // the default keeps 100,000
        {"LogLines=-4\n", 200, false, 200}, // unreadable: the default
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.keys) + (c.fromWorker ? " worker" : " window"));
        WriteGeneral(c.keys);
        TfmMainForm window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        auto write = [&] {
            for (int i = 0; i < c.lines; ++i)
                window.AddLogLine(nullptr, "line " + std::to_string(i), clGreen);
        };
        if (c.fromWorker)
            std::thread(write).join();
        else
            write();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window.lstLog->currentIndex().row() == c.kept - 1; }, kWaitMs));
        ASSERT_EQ(window.LogLines->rowCount(), c.kept);
        EXPECT_EQ(Text(window, 0), "line " + std::to_string(c.lines - c.kept));
        EXPECT_EQ(Text(window, c.kept - 1), "line " + std::to_string(c.lines - 1));
        const QModelIndex newest = window.LogLines->index(c.kept - 1);
        EXPECT_EQ(window.lstLog->selectionModel()->selectedRows(), QModelIndexList{newest});
        EXPECT_TRUE(window.lstLog->viewport()->rect().contains(window.lstLog->visualRect(newest)));
    }
    TfmMainForm window;
    for (int i = 0; i < 40; ++i)
        window.AddLogLine(nullptr, "line " + std::to_string(i), clGreen);
    window.ApplyLogKeeping({10, ""});
    ASSERT_EQ(window.LogLines->rowCount(), 10);
    EXPECT_EQ(Text(window, 0), "line 30");
}

TEST_F(LogKeeping, TheListFollowsTheNewestLineOnlyWhileItShowsTheBottom) {
    WriteGeneral("LogLines=400\n");
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QScrollBar* bar = window.lstLog->verticalScrollBar();
    int next = 0;
    auto append = [&](int count) {
        for (int i = 0; i < count; ++i)
            window.AddLogLine(nullptr, "line " + std::to_string(next++), clHotLight);
        Settle();
    };
    append(300);
    ASSERT_EQ(bar->value(), bar->maximum());
    ASSERT_GT(bar->maximum(), 100);

    // The user scrolls up and selects a line to read: new lines neither move nor reselect.
    bar->setValue(120);
    const QModelIndex chosen = window.LogLines->index(125);
    window.lstLog->selectionModel()->setCurrentIndex(chosen, QItemSelectionModel::ClearAndSelect |
                                                                 QItemSelectionModel::Rows);
    const QModelIndex top = window.lstLog->indexAt(QPoint(5, 2));
    ASSERT_EQ(top.row(), 120);
    append(60);
    EXPECT_FALSE(window.lstLog->Following());
    EXPECT_EQ(bar->value(), 120);
    EXPECT_EQ(window.lstLog->currentIndex().row(), 125);

    // Past the limit the oldest lines go, and the text under the reader stays put.
    append(90); // 450 written, 400 kept, in batches of 6: 402 lines, 48..449
    ASSERT_EQ(window.LogLines->rowCount(), 402);
    EXPECT_EQ(Text(window, 0), "line 48");
    const QModelIndex topNow = window.lstLog->indexAt(QPoint(5, 2));
    EXPECT_EQ(Text(window, topNow.row()), "line 120");
    EXPECT_EQ(window.lstLog->currentIndex().data(TActivityLogModel::TextRole).toString(),
              "line 125");

    // Back at the bottom, it follows again and the newest is the one selected.
    bar->setValue(bar->maximum());
    append(5);
    EXPECT_TRUE(window.lstLog->Following());
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(window.lstLog->currentIndex().data(TActivityLogModel::TextRole).toString(),
              "line 454");
    EXPECT_EQ(window.lstLog->selectionModel()->selectedRows().size(), 1);
}

TEST_F(LogKeeping, WideLinesShowWholeAndSelectedLinesCopyAndSave) {
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const std::string wide = "Import > " + std::string(400, 'w') + " end";
    window.AddLogLine(nullptr, "Import > short", clGreen);
    window.AddLogLine(nullptr, wide, clGreen);
    window.AddLogLine(nullptr, "Export > third", clRed);
    Settle();

    auto toolTipAt = [&](int row) {
        QToolTip::hideText();
        const QPoint at = window.lstLog->visualRect(window.LogLines->index(row)).center();
        QHelpEvent help(QEvent::ToolTip, at, window.lstLog->viewport()->mapToGlobal(at));
        QApplication::sendEvent(window.lstLog->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
    };
    EXPECT_EQ(toolTipAt(0), "") << "a line that fits needs no tool tip";
    EXPECT_EQ(toolTipAt(1), ShownLogLine(window.LogLines->Line(1)));

    QStringList menu;
    for (QAction* action : window.lstLog->actions())
        menu << action->text();
    EXPECT_EQ(menu, QStringList({"Copy", "Save log as\u2026"}));
    EXPECT_EQ(window.lstLog->contextMenuPolicy(), Qt::ActionsContextMenu);

    QItemSelectionModel* selection = window.lstLog->selectionModel();
    selection->select(window.LogLines->index(2),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selection->select(window.LogLines->index(0),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    window.lstLog->setFocus();
    QApplication::clipboard()->clear();
    QTest::keyClick(window.lstLog, Qt::Key_C, Qt::ControlModifier);
    // Each line with its time stamp in front.
    const std::regex stamped(
        "\\d\\d:\\d\\d:\\d\\d Import > short\n\\d\\d:\\d\\d:\\d\\d Export > third");
    EXPECT_TRUE(std::regex_match(QApplication::clipboard()->text().toStdString(), stamped))
        << QApplication::clipboard()->text().toStdString();

    const std::string saved = dir_ + "/saved.log";
    boxes_.QueueChosenPath(saved);
    window.lstLog->actSaveLogAs->trigger();
    EXPECT_EQ(testsrv::ReadWholeFile(saved), ShownLogLine(window.LogLines->Line(0)) + "\n" +
                                                 ShownLogLine(window.LogLines->Line(1)) + "\n" +
                                                 ShownLogLine(window.LogLines->Line(2)) + "\n");
    EXPECT_EQ(ShownLogLine(window.LogLines->Line(1)).substr(9), wide);
    boxes_.QueueChosenPath(dir_ + "/no/such/folder/saved.log");
    window.lstLog->actSaveLogAs->trigger();
    const auto errors = boxes_.Texts(tavrin::TMessageKind::mkError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].starts_with("Unable to write to " + dir_ + "/no/such")) << errors[0];
    EXPECT_EQ(boxes_.Texts(tavrin::TMessageKind::mkFileSave).size(), 2u);
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(testsrv::ReadWholeFile(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST_F(LogKeeping, TheLogFileGetsEveryShownLineStampedAndRotates) {
    const std::string path = dir_ + "/tavrin.log";
    WriteGeneral("LogFile=" + path + "\n");
    {
        TfmMainForm window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.AddLogLine(nullptr, "Import > Monitor started", clMaroon);
        std::thread([&] {
            window.AddLogLine(nullptr, "Export > File a.txt ready", clGreen);
        }).join();
        window.AddLogLine(nullptr, "Import > 200 NOOP ok\r\n", clHotLight);
        // Written per line, before the window is gone.
        const std::vector<std::string> lines = Lines(path);
        ASSERT_EQ(lines.size(), 3u) << testsrv::ReadWholeFile(path);
        const std::regex stamped(
            R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (Import|Export) (.*))");
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[0], match, stamped)) << lines[0];
        EXPECT_EQ(match[1], "Import");
        EXPECT_EQ(match[2], "Monitor started");
        ASSERT_TRUE(std::regex_match(lines[1], match, stamped)) << lines[1];
        EXPECT_EQ(match[1], "Export");
        EXPECT_EQ(match[2], "File a.txt ready");
        ASSERT_TRUE(std::regex_match(lines[2], match, stamped)) << lines[2];
        EXPECT_EQ(match[2], "200 NOOP ok");
    }

    // Rotation: a small limit, so the files fill quickly; five old ones stay, in order.
    const std::string rotated = dir_ + "/rot.log";
    tavrin::TLogFileWriter writer(rotated, 400, 5);
    const auto when = std::chrono::system_clock::now();
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(writer.Write("Import > entry " + std::to_string(i), when));
    EXPECT_FALSE(std::filesystem::exists(rotated + ".6"));
    std::vector<std::string> all;
    for (const std::string& file : {rotated + ".5", rotated + ".4", rotated + ".3", rotated + ".2",
                                    rotated + ".1", rotated}) {
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        EXPECT_LE(std::filesystem::file_size(file), 400u) << file;
        for (const std::string& line : Lines(file))
            all.push_back(line.substr(line.find(" entry ") + 7));
    }
    ASSERT_GT(all.size(), 20u);
    for (size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(all[i], std::to_string(200 - all.size() + i)) << "line " << i;
    using namespace std::chrono;
    EXPECT_EQ(
        tavrin::TLogFileWriter::TimeStamp(sys_days{year{2026} / 6 / 15} + hours(12)).substr(0, 8),
        "2026-06-")
        << "mid-month noon UTC is in June in every zone";
}

TEST_F(LogKeeping, AnUnwritableLogFileGivesOneRedLineAndTheWindowGoesOn) {
    const std::string path = dir_ + "/missing-folder/tavrin.log";
    WriteGeneral("LogFile=" + path + "\n");
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (int i = 0; i < 4; ++i)
        window.AddLogLine(nullptr, "Import > line " + std::to_string(i), clGreen);
    ASSERT_EQ(window.LogLines->rowCount(), 5);
    int red = 0;
    for (int row = 0; row < 5; ++row)
        if (window.LogLines->Line(row).Colour == clRed) {
            ++red;
            EXPECT_EQ(Text(window, row), "Log file not written: Unable to write to " + path +
                                             ": No such file or directory");
        }
    EXPECT_EQ(red, 1);
    EXPECT_EQ(Text(window, 4), "Import > line 3");
    EXPECT_TRUE(boxes_.Messages().empty()) << "no box holds the window up";
}

} // namespace
