#include "service/StartChecks.h"

#include "base/StrUtils.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace tavrin::service {
namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string PortProblem(const std::string& port) {
    try {
        const int32_t number = StrToInt(port);
        if (number < 1 || number > 65535)
            return "Port " + port + " is not between 1 and 65535";
        return {};
    } catch (const std::exception& failure) {
        return failure.what(); // "'abc' is not a valid integer value", as the window says
    }
}

std::string FolderProblem(const char* what, const std::string& folder) {
    if (fs::DirectoryExists(folder))
        return {};
    return std::string(what) + " " + Quoted(folder) + " does not exist";
}

// An empty name means "none" to the TLS layer, so only a named file must be readable.
std::string ReadableProblem(const char* what, const std::string& path) {
    if (path.empty())
        return {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string("Cannot read ") + what + " " + Quoted(path) + ": " +
               std::strerror(errno);
    ::close(fd);
    return {};
}

std::string TlsProblem(const RConfiguration& config) {
    if (!config.SSL)
        return {};
    std::string problem = ReadableProblem("TLS certificate", config.SSLCertificate);
    return problem.empty() ? ReadableProblem("TLS key", config.SSLKey) : problem;
}

std::string FirstProblem(std::initializer_list<std::string> problems) {
    for (const std::string& problem : problems)
        if (!problem.empty())
            return problem;
    return {};
}

} // namespace

std::string ImportStartProblem(const RConfiguration& config) {
    return FirstProblem(
        {PortProblem(config.Port), FolderProblem("Import folder", config.LocalFolder),
         config.FirstToTemp ? FolderProblem("Staging folder", config.TempFolder) : std::string(),
         TlsProblem(config)});
}

std::string ExportStartProblem(const RConfiguration& config) {
    return FirstProblem({PortProblem(config.Port),
                         FolderProblem("Export folder", config.LocalFolder), TlsProblem(config)});
}

} // namespace tavrin::service
