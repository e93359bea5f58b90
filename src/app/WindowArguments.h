#pragma once
// The window's command line: --help and --version print and end the program before any
// window (or display) is needed. Qt takes its own options (-platform, -style, ...) first;
// anything left over is refused, so a mistyped option does not silently open the window.
#include <string>
#include <vector>

namespace tavrin::app {

struct TWindowArguments {
    enum class TAction { OpenWindow, PrintAndExit };
    TAction action = TAction::OpenWindow;
    std::string output; // what to print: on stdout with exit code 0, else on stderr
    int exitCode = 0;
};

// Looks only for --help (-h) and --version; everything else is left for Qt.
TWindowArguments ReadInfoArguments(const std::vector<std::string>& arguments);
// After Qt has taken its own options: anything still there is an error (exit code 2).
TWindowArguments RefuseLeftoverArguments(const std::vector<std::string>& leftover);

std::string ProgramVersion();
// The About box: version, the settings file's folder and the state folder.
std::string AboutText();

} // namespace tavrin::app
