#include "app/WindowArguments.h"

#include "config/ConfigPaths.h"

#include <cstdlib>

namespace tavrin::app {
namespace {

std::string UsageText() {
    return "Usage: tavrin [--help] [--version]\n"
           "Opens the Tavrin window: import and export jobs, started from the window.\n"
           "Settings: " +
           ConfigFilePath() +
           "\n"
           "Without a window, run tavrin-service.\n"
           "\n"
           "  -h, --help     print this text and exit\n"
           "      --version  print the version and exit\n";
}

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

std::string ProgramVersion() {
    return TAVRIN_VERSION;
}

TWindowArguments ReadInfoArguments(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h")
            return {TWindowArguments::TAction::PrintAndExit, UsageText(), 0};
        if (argument == "--version")
            return {TWindowArguments::TAction::PrintAndExit, "tavrin " + ProgramVersion() + "\n",
                    0};
    }
    return {};
}

TWindowArguments RefuseLeftoverArguments(const std::vector<std::string>& leftover) {
    if (leftover.empty())
        return {};
    return {TWindowArguments::TAction::PrintAndExit,
            "tavrin: unexpected argument " + leftover.front() + "\nTry 'tavrin --help'.\n", 2};
}

std::string AboutText() {
    const std::string state = ParentFolder(KnownServersFilePath());
    std::string text = "Tavrin " + ProgramVersion() +
                       "\nFile transfer monitor: imports from and exports to FTP, FTPS and SFTP "
                       "servers.\n\nSettings folder: " +
                       ParentFolder(ConfigFilePath()) + "\nState folder: " + state;
    // With TEMP set the registers live there, apart from the rest of the state.
    const std::string registers = RegisterFolder();
    if (registers != state)
        text += "\nRegister folder: " + registers;
    return text;
}

} // namespace tavrin::app
