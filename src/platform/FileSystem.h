#pragma once
// Small file and folder operations; paths are bytes, joined with "/".
#include <string>
#include <vector>

namespace tavrin::fs {

bool FileExists(const std::string& path);      // a regular file (or a link to one)
bool DirectoryExists(const std::string& path); // a folder (or a link to one)
bool CreateDir(const std::string& path);       // one level; false when it fails or exists
bool DeleteFile(const std::string& path);      // false when it fails
// Moves a file without ever replacing an existing target; false when it fails. Across file
// systems the file is copied to a hidden name in the target folder, flushed, renamed into
// place and only then removed at the source, so the target name never shows a partial file.
bool MoveFileNoReplace(const std::string& from, const std::string& to);
// The same; `error` receives the errno value of a failure (EEXIST: the target exists).
bool MoveFileNoReplace(const std::string& from, const std::string& to, int& error);
// Flushes a file's data to disk; false (errno set) when it fails.
bool SyncFile(const std::string& path);
// Replaces a file's whole content with mode 0600: written to a temporary name beside it,
// flushed, renamed over it and the folder flushed, so a crash or power cut leaves either the
// old file or the new one, never half of one. Returns 0, or the errno value of the failure
// (then the file is as it was and no temporary file is left).
int ReplaceFilePrivately(const std::string& path, const std::string& text);
// The steps of a '/'-separated relative path: "sub/deeper/a.txt" gives sub, deeper, a.txt.
std::vector<std::string> PathSteps(const std::string& relative);
// Makes the missing folders a relative file path needs below `base` (not `base` itself): for
// "sub/deeper/a.txt", base/sub and base/sub/deeper. Empty when they are all there, else the
// folder that could not be made (errno set).
std::string MakeFoldersBelow(const std::string& base, const std::string& relative);
// The system's text for an errno value, e.g. "No such file or directory".
std::string SystemErrorText(int error);

} // namespace tavrin::fs
