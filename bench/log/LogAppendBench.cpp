// How long the activity log takes to take in 100,000 lines, and how much memory it needs:
// once from a worker thread (the export monitor's way, through the queue) and once from the
// window's own thread (the import monitor's way). A run counts as done when every line is in
// the list, the newest is selected and the list has scrolled to it.
#include "app/MainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTest>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr int kLines = 100000;

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string Line(int i) {
    return "Export > File " + std::to_string(i) + ".dat uploaded to /incoming/batch" +
           std::to_string(i % 97);
}

bool WaitUntilShown(TfmMainForm& window, int total) {
    return QTest::qWaitFor(
        [&] {
            if (window.LogLines->rowCount() != total)
                return false;
            QCoreApplication::processEvents(); // the scroll follows once per batch
            return window.lstLog->currentIndex().row() == total - 1 &&
                   window.lstLog->verticalScrollBar()->value() ==
                       window.lstLog->verticalScrollBar()->maximum();
        },
        60000);
}

// A slow writer: one line per turn of the event loop. Milliseconds per line.
double SlowWriter(TfmMainForm& window) {
    constexpr int kSlowLines = 200;
    QElapsedTimer slow;
    slow.start();
    for (int i = 0; i < kSlowLines; ++i) {
        window.AddLogLine(nullptr, Line(i), clRed);
        QCoreApplication::processEvents();
    }
    return slow.nsecsElapsed() / 1e6 / kSlowLines;
}

double Run(TfmMainForm& window, bool fromWorkerThread, int alreadyThere) {
    QElapsedTimer timer;
    timer.start();
    if (fromWorkerThread) {
        std::thread worker([&] {
            for (int i = 0; i < kLines; ++i)
                window.AddLogLine(nullptr, Line(i), clGreen);
        });
        // The window handles the batches while the worker writes.
        while (window.LogLines->rowCount() < alreadyThere + kLines && timer.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        worker.join();
    } else {
        for (int i = 0; i < kLines; ++i)
            window.AddLogLine(nullptr, Line(i), clHotLight);
    }
    if (!WaitUntilShown(window, alreadyThere + kLines)) {
        std::fprintf(stderr, "lines did not all arrive\n");
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

    const double slowShort = SlowWriter(window);
    const long baseline = PeakResidentKiB();
    const double worker = Run(window, true, window.LogLines->rowCount());
    const long afterWorker = PeakResidentKiB();
    const double direct = Run(window, false, window.LogLines->rowCount());
    const long afterDirect = PeakResidentKiB();

    const double slowLong = SlowWriter(window);

    std::printf("activity log, %d lines per run (goal: < 0.5 s, < 100 MB)\n", kLines);
    std::printf(
        "  from a worker thread:      %.3f s, peak RSS %.1f MB (+%.1f MB over the window)\n",
        worker, afterWorker / 1024.0, (afterWorker - baseline) / 1024.0);
    std::printf(
        "  from the window's thread:  %.3f s, peak RSS %.1f MB (+%.1f MB for 200,000 lines)\n",
        direct, afterDirect / 1024.0, (afterDirect - baseline) / 1024.0);
    std::printf("  one line per event-loop turn: %.3f ms per line in a short log, %.3f ms with "
                "%d lines present\n",
                slowShort, slowLong, 2 * kLines);
    return 0;
}
