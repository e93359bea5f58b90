#pragma once
// Where the settings file and the downloaded-files register live.
#include "platform/FileLock.h"

#include <memory>
#include <string>
#include <vector>

namespace tavrin {

// The settings file: the file named by $TAVRIN_CONFIG when that is set and not empty, else
// $XDG_CONFIG_HOME/tavrin/MonitorConfig.ini (default ~/.config/tavrin/MonitorConfig.ini).
// Nothing is created here; the first save creates the folder.
std::string ConfigFilePath();

// The register of downloaded names: $TEMP with one trailing "/" removed, then
// "/LocalFileList.txt". Without TEMP (or with an empty one) the file goes into the per-user
// state folder $XDG_STATE_HOME/tavrin (default ~/.local/state/tavrin), which is created here
// when missing.
std::string RegisterFilePath();

// The folder that holds the register file (what RegisterFilePath() puts "/LocalFileList.txt"
// after), e.g. as the working folder of a program that opens the register.
std::string RegisterFolder();

// The fingerprints of servers trusted on first use:
// $XDG_STATE_HOME/tavrin/known-servers (default ~/.local/state/tavrin/known-servers). Nothing is
// created here; the first stored fingerprint creates the folder.
std::string KnownServersFilePath();
// The SSH host keys trusted on first use, in OpenSSH's known_hosts format:
// $XDG_STATE_HOME/tavrin/known_hosts (default ~/.local/state/tavrin/known_hosts), the file the
// SFTP sessions store new keys in.
std::string KnownHostsFilePath();

// Creates `path` and any missing parents with mode 0700; true when the folder exists after.
bool ForceDirectories(const std::string& path);

// What a program holds while it runs on a settings file and a register: a lock on each
// (beside the file, see TFileLock), so that a second window or service on the same files
// refuses to start instead of fetching the same files. `warnings` names a lock that could
// not be taken at all (a read-only folder): the program runs without that one.
struct TProgramLocks {
    std::vector<std::unique_ptr<fs::TFileLock>> locks;
    std::vector<std::string> warnings;
};
// Locks ConfigFilePath() and RegisterFilePath(); raises fs::EFileInUse when another process
// holds either.
TProgramLocks LockSettingsAndRegister();

} // namespace tavrin
