#pragma once
// Small file and folder operations; paths are bytes, joined with "/".
#include <string>

namespace tavrin::fs {

bool FileExists(const std::string& path);      // a regular file (or a link to one)
bool DirectoryExists(const std::string& path); // a folder (or a link to one)
bool CreateDir(const std::string& path);       // one level; false when it fails or exists
bool DeleteFile(const std::string& path);      // false when it fails
// Moves a file without ever replacing an existing target; false when it fails.
bool MoveFileNoReplace(const std::string& from, const std::string& to);
// The system's text for an errno value, e.g. "No such file or directory".
std::string SystemErrorText(int error);

} // namespace tavrin::fs
