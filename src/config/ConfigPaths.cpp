#include "config/ConfigPaths.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string HomeFolder() {
    std::string home = Environment("HOME");
    if (!home.empty())
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

// An XDG base folder: the variable when it holds an absolute path (relative ones are to be
// ignored), else the fallback under the home folder.
std::string BaseFolder(const char* variable, const char* underHome) {
    std::string value = Environment(variable);
    if (!value.empty() && value.front() == '/')
        return value;
    return HomeFolder() + "/" + underHome;
}

} // namespace

std::string ConfigFilePath() {
    std::string overridden = Environment("TAVRIN_CONFIG");
    if (!overridden.empty())
        return overridden;
    return BaseFolder("XDG_CONFIG_HOME", ".config") + "/tavrin/MonitorConfig.ini";
}

std::string RegisterFolder() {
    std::string temp = Environment("TEMP");
    if (!temp.empty()) {
        if (temp.back() == '/')
            temp.pop_back();
        return temp;
    }
    std::string state = BaseFolder("XDG_STATE_HOME", ".local/state") + "/tavrin";
    ForceDirectories(state);
    return state;
}

std::string RegisterFilePath() {
    return RegisterFolder() + "/LocalFileList.txt";
}

std::string KnownServersFilePath() {
    return BaseFolder("XDG_STATE_HOME", ".local/state") + "/tavrin/known-servers";
}

std::string KnownHostsFilePath() {
    return BaseFolder("XDG_STATE_HOME", ".local/state") + "/tavrin/known_hosts";
}

bool ForceDirectories(const std::string& path) {
    if (path.empty())
        return false;
    if (fs::DirectoryExists(path))
        return true;
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && !fs::DirectoryExists(prefix) && ::mkdir(prefix.c_str(), 0700) != 0 &&
            errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    return fs::DirectoryExists(path);
}

TProgramLocks LockSettingsAndRegister() {
    TProgramLocks taken;
    for (const std::string& file : {ConfigFilePath(), RegisterFilePath()}) {
        try {
            taken.locks.push_back(std::make_unique<fs::TFileLock>(file));
        } catch (const fs::ELockUnavailable& failure) {
            taken.warnings.push_back(failure.what());
        }
    }
    return taken;
}

} // namespace tavrin
