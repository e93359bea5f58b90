// The program: one window, an event loop until it closes; no monitor starts by itself. The
// command line knows only --help and --version (besides Qt's own options). Exit status 2: an
// unknown argument, or another program holds the settings file or the register.
#include "app/InstanceLock.h"
#include "app/MainForm.h"
#include "app/SignalCloser.h"
#include "app/WindowArguments.h"
#include "platform/CoreDumps.h"

#include <QApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

int Print(const tavrin::app::TWindowArguments& result) {
    std::fputs(result.output.c_str(), result.exitCode == 0 ? stdout : stderr);
    return result.exitCode;
}

} // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so they work without a display.
    const auto info = tavrin::app::ReadInfoArguments(Arguments(argc, argv));
    if (info.action == tavrin::app::TWindowArguments::TAction::PrintAndExit)
        return Print(info);
    // A server that vanishes mid-write must fail that write, never end the program.
    tavrin::platform::KeepMemoryOutOfCoreDumps();
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavrin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tavrin"));
    // Qt has taken its own options out of argv by now.
    const auto leftover = tavrin::app::RefuseLeftoverArguments(Arguments(argc, argv));
    if (leftover.action == tavrin::app::TWindowArguments::TAction::PrintAndExit)
        return Print(leftover);
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
