#pragma once
// Where the settings file and the downloaded-files register live.
#include <string>

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

// Creates `path` and any missing parents with mode 0700; true when the folder exists after.
bool ForceDirectories(const std::string& path);

} // namespace tavrin
