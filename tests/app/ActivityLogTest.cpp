// The activity log: lines from any thread, each writer's order kept, the newest selected and
// in view, and each line drawn in its colour over the list's own background.
#include "app/MainForm.h"

#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

constexpr auto kWaitMs = 20000;

std::string Text(const TfmMainForm& window, int row) {
    return window.LogLines->Line(row).Text;
}

// Colour distance, the largest difference of one channel.
int Distance(QColor a, QColor b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue())});
}

} // namespace

TEST(ActivityLog, LinesFromTwoThreadsArriveCompleteInEachWritersOrderWithTheNewestSelected) {
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    constexpr int kPerWriter = 50000;
    std::atomic<int> writersDone{0};
    auto writer = [&](char tag) {
        for (int i = 0; i < kPerWriter; ++i)
            window.AddLogLine(nullptr, tag + std::to_string(i), clGreen);
        ++writersDone;
    };
    std::thread a(writer, 'A');
    std::thread b(writer, 'B');
    // The window keeps handling events while the writers run, so batches arrive meanwhile.
    EXPECT_TRUE(QTest::qWaitFor([&] { return writersDone == 2; }, kWaitMs));
    a.join();
    b.join();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window.LogLines->rowCount() == 2 * kPerWriter; }, kWaitMs));
    QTest::qWait(50); // let the view catch up with the last batch
    ASSERT_EQ(window.LogLines->rowCount(), 2 * kPerWriter);

    int next[2] = {0, 0};
    for (int row = 0; row < 2 * kPerWriter; ++row) {
        const std::string line = Text(window, row);
        const int writerIndex = line[0] == 'A' ? 0 : 1;
        ASSERT_EQ(line.substr(1), std::to_string(next[writerIndex])) << "row " << row;
        ++next[writerIndex];
    }
    EXPECT_EQ(next[0], kPerWriter);
    EXPECT_EQ(next[1], kPerWriter);

    const QModelIndex newest = window.LogLines->index(2 * kPerWriter - 1);
    EXPECT_EQ(window.lstLog->currentIndex(), newest);
    EXPECT_TRUE(window.lstLog->selectionModel()->isSelected(newest));
    EXPECT_EQ(window.lstLog->selectionModel()->selectedIndexes().size(), 1);
    EXPECT_TRUE(window.lstLog->viewport()->rect().contains(window.lstLog->visualRect(newest)))
        << "the list stays on the newest line";
}

TEST(ActivityLog, LineFromTheWindowsThreadComesAfterWhatOtherThreadsWroteBeforeIt) {
    TfmMainForm window;
    // A watch thread writes its upload lines; before the window has handled them, the
    // window's thread writes the monitor's closing line.
    std::thread watch([&] {
        for (int i = 0; i < 100; ++i)
            window.AddLogLine(nullptr, "Export > upload " + std::to_string(i), clGreen);
    });
    watch.join();
    EXPECT_EQ(window.LogLines->rowCount(), 0) << "other threads' lines wait for the event loop";
    window.AddLogLine(nullptr, "Export > Monitor closed", clMaroon);
    ASSERT_EQ(window.LogLines->rowCount(), 101) << "the window's own line is there at once";
    EXPECT_EQ(Text(window, 0), "Export > upload 0");
    EXPECT_EQ(Text(window, 99), "Export > upload 99");
    EXPECT_EQ(Text(window, 100), "Export > Monitor closed");
    // The selection follows once the window's events run.
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.lstLog->currentIndex().row() == 100; }, 5000));

    // Nothing is left behind in the queue to turn up twice.
    QTest::qWait(20);
    EXPECT_EQ(window.LogLines->rowCount(), 101);

    // A text with a line break stays one line, kept as written.
    window.AddLogLine(nullptr, "Import > 200 NOOP ok\r\n", clHotLight);
    ASSERT_EQ(window.LogLines->rowCount(), 102);
    EXPECT_EQ(Text(window, 101), "Import > 200 NOOP ok\r\n");
}

TEST(ActivityLog, EachLineIsDrawnInItsColourOverTheListBackground) {
    TfmMainForm window;
    // Distinct palette colours, so a system colour mapped to the wrong role shows.
    QPalette palette = window.lstLog->palette();
    palette.setColor(QPalette::Base, QColor(255, 255, 255));
    palette.setColor(QPalette::Highlight, QColor(0, 0, 160));
    palette.setColor(QPalette::Link, QColor(0, 100, 210));
    palette.setColor(QPalette::Shadow, QColor(90, 90, 90));
    window.lstLog->setPalette(palette);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    const std::vector<std::pair<TColor, QColor>> colours = {
        {clMaroon, QColor(128, 0, 0)}, {clHotLight, QColor(0, 100, 210)},
        {clGreen, QColor(0, 128, 0)},  {cl3DDkShadow, QColor(90, 90, 90)},
        {clRed, QColor(255, 0, 0)},
    };
    for (const auto& [colour, expected] : colours)
        window.AddLogLine(nullptr, "HHHH IIII MMMM llll", colour);
    QTest::qWait(20);

    const QImage image = window.lstLog->viewport()->grab().toImage();
    const qreal ratio = window.lstLog->viewport()->devicePixelRatioF();
    const QColor background(255, 255, 255);
    for (int row = 0; row < static_cast<int>(colours.size()); ++row) {
        const QRect rect = window.lstLog->visualRect(window.LogLines->index(row));
        EXPECT_EQ(rect.height(), 14);
        // The pixel furthest from the background is a full-coverage pixel of the text.
        QColor strongest = background;
        int textPixels = 0;
        int leftmost = rect.right();
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x) {
                const QColor pixel = image.pixelColor(QPoint(x, y) * ratio);
                if (Distance(pixel, background) > 0) {
                    ++textPixels;
                    if (Distance(pixel, background) > Distance(strongest, background))
                        strongest = pixel;
                    leftmost = std::min(leftmost, x);
                }
            }
        EXPECT_GT(textPixels, 20) << "row " << row;
        EXPECT_GE(leftmost, rect.left() + 2) << "text starts 2 pixels in, row " << row;
        EXPECT_LE(Distance(strongest, colours[row].second), 24)
            << "row " << row << " drawn in " << strongest.name().toStdString();
    }
    // The newest line is selected but keeps the list's background: no highlight bar.
    const QRect newest = window.lstLog->visualRect(window.LogLines->index(4));
    EXPECT_EQ(image.pixelColor(QPoint(newest.right() - 6, newest.center().y()) * ratio),
              background);
}
