// The program: one window, an event loop until it closes. No command-line arguments are
// read and no monitor starts by itself. Exit status 2: another program holds the settings
// file or the register.
#include "app/InstanceLock.h"
#include "app/MainForm.h"
#include "app/SignalCloser.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    // A server that vanishes mid-write must fail that write, never end the program.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavrin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tavrin"));
    // A second window on the same settings or register says who has them and goes.
    const std::optional<tavrin::TProgramLocks> locks = LockOrExplain(nullptr);
    if (!locks)
        return 2;
    try {
        TfmMainForm fmMainForm;
        // A logout or kill stops the monitors and saves the register, as Exit does.
        TSignalCloser closer(&fmMainForm);
        fmMainForm.show();
        return app.exec();
    } catch (const std::exception& e) {
        // Only the window's construction can get here; every event handler is guarded.
        std::fprintf(stderr, "tavrin: %s\n", e.what());
        return 1;
    }
}
