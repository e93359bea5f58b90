// The activity log over a long run: 2,000,000 lines into the real window at the default
// limit of 100,000 kept lines. Memory must stay flat once the limit is reached (resident set
// size at the start, at the limit, in the middle and at the end), and every 100,000 lines
// must go in within 0.5 s (slowest and mean block printed). Half the lines come from a
// worker thread (the export monitor's way, through the queue), half from the window's own
// thread (the import monitor's way). A block counts as done when its lines are in the list
// and the newest is selected and in view.
#include "app/MainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTest>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

constexpr int kBlock = 100000;
constexpr int kBlocks = 20;

double ResidentMiB() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

std::string Line(int i) {
    return "Export > File " + std::to_string(i) + ".dat uploaded to /incoming/batch" +
           std::to_string(i % 97);
}

bool WaitUntilShown(TfmMainForm& window, const std::string& newest) {
    return QTest::qWaitFor(
        [&] {
            QCoreApplication::processEvents();
            const int rows = window.LogLines->rowCount();
            return rows > 0 && window.LogLines->Line(rows - 1).Text == newest &&
                   window.lstLog->currentIndex().row() == rows - 1 &&
                   window.lstLog->verticalScrollBar()->value() ==
                       window.lstLog->verticalScrollBar()->maximum();
        },
        60000);
}

double Block(TfmMainForm& window, int block) {
    const int first = block * kBlock;
    QElapsedTimer timer;
    timer.start();
    if (block % 2 == 0) {
        std::thread worker([&] {
            for (int i = first; i < first + kBlock; ++i)
                window.AddLogLine(nullptr, Line(i), clGreen);
        });
        while (worker.joinable() && timer.elapsed() < 60000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (window.LogLines->rowCount() > 0 &&
                window.LogLines->Line(window.LogLines->rowCount() - 1).Text ==
                    Line(first + kBlock - 1))
                break;
        }
        worker.join();
    } else {
        for (int i = first; i < first + kBlock; ++i)
            window.AddLogLine(nullptr, Line(i), clHotLight);
    }
    if (!WaitUntilShown(window, Line(first + kBlock - 1))) {
        std::fprintf(stderr, "block %d did not arrive\n", block);
        std::exit(1);
    }
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    TfmMainForm window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;

    const double start = ResidentMiB();
    double slowest = 0, total = 0, atLimit = 0, middle = 0;
    std::string perBlock;
    for (int block = 0; block < kBlocks; ++block) {
        const double seconds = Block(window, block);
        perBlock += " " + std::to_string(static_cast<int>(ResidentMiB() + 0.5));
        slowest = std::max(slowest, seconds);
        total += seconds;
        if (block == 0)
            atLimit = ResidentMiB();
        if (block == kBlocks / 2 - 1)
            middle = ResidentMiB();
    }
    const double end = ResidentMiB();
    std::printf("activity log, %d lines at the default limit (%zu kept), blocks of %d\n",
                kBlock * kBlocks, window.LogLines->LineLimit(), kBlock);
    std::printf("  rows at the end: %d\n", window.LogLines->rowCount());
    std::printf("  RSS: start %.1f MiB, after 100,000 %.1f MiB, after 1,000,000 %.1f MiB, "
                "end %.1f MiB (end - limit %+.1f MiB)\n",
                start, atLimit, middle, end, end - atLimit);
    std::printf("  RSS after each block (MiB):%s\n", perBlock.c_str());
    std::printf("  per 100,000 lines: slowest %.3f s, mean %.3f s (goal: < 0.5 s)\n", slowest,
                total / kBlocks);
    return 0;
}
