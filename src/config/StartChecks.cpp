#include "config/StartChecks.h"

#include "base/StrUtils.h"
#include "config/FilterSettings.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace tavrin {
namespace {

using TProblems = std::vector<std::string>;

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

void CheckHost(const std::string& host, TProblems& problems) {
    if (Trim(host).empty())
        problems.push_back("Host is empty");
}

void CheckPort(const std::string& port, TProblems& problems) {
    try {
        const int32_t number = StrToInt(port);
        if (number < 1 || number > 65535)
            problems.push_back("Port " + port + " is not between 1 and 65535");
    } catch (const std::exception& failure) {
        problems.push_back(failure.what()); // "'abc' is not a valid integer value"
    }
}

void CheckFolder(const char* what, const std::string& folder, TProblems& problems) {
    if (folder.empty())
        problems.push_back(std::string(what) + " is not set");
    else if (!fs::DirectoryExists(folder))
        problems.push_back(std::string(what) + " " + Quoted(folder) + " does not exist");
}

// An empty name means "none" to the TLS layer, so only a named file must be readable.
void CheckReadable(const char* what, const std::string& path, TProblems& problems) {
    if (path.empty())
        return;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        problems.push_back(std::string("Cannot read ") + what + " " + Quoted(path) + ": " +
                           std::strerror(errno));
        return;
    }
    ::close(fd);
}

void CheckTls(const RConfiguration& config, TProblems& problems) {
    if (!config.SSL)
        return;
    CheckReadable("TLS certificate", config.SSLCertificate, problems);
    CheckReadable("TLS key", config.SSLKey, problems);
}

// A filter that cannot be read would take files nobody meant to move, or none at all.
void CheckFilter(const RConfiguration& config, TProblems& problems) {
    for (std::string& problem : rules::FilterProblems(FilterSettingsOf(config)))
        problems.push_back(std::move(problem));
}

} // namespace

std::vector<std::string> ImportStartProblems(const RConfiguration& config) {
    TProblems problems;
    CheckHost(config.Host, problems);
    CheckPort(config.Port, problems);
    CheckFolder("Import folder", config.LocalFolder, problems);
    if (config.FirstToTemp)
        CheckFolder("Staging folder", config.TempFolder, problems);
    CheckTls(config, problems);
    CheckFilter(config, problems);
    return problems;
}

std::vector<std::string> ExportStartProblems(const RConfiguration& config) {
    TProblems problems;
    CheckHost(config.Host, problems);
    CheckPort(config.Port, problems);
    CheckFolder("Export folder", config.LocalFolder, problems);
    // Without a folder the sent files would move to the root of the file system.
    if (config.MoveDelete && Trim(config.MoveToFolder).empty())
        problems.push_back("Folder for exported files is not set");
    CheckTls(config, problems);
    CheckFilter(config, problems);
    return problems;
}

std::string JoinedProblems(const std::vector<std::string>& problems, const std::string& separator) {
    std::string joined;
    for (const std::string& problem : problems)
        joined += (joined.empty() ? "" : separator) + problem;
    return joined;
}

} // namespace tavrin
