#pragma once
// The uploads in progress, written down before their STOR so that a run that ends in the
// middle of them (a crash, a kill, a power cut, a stop) leaves word of the files that the
// server may hold only in part under their final names. One note per monitor, in the per-user
// state folder; the next start of that monitor sends the files again before anything else.
// The folder is the first line and each name one line after it, so a note of one file reads
// as it always has.
#include <string>
#include <vector>

class TUploadNote {
public:
    // The note of the monitor called `monitorName` (the export monitor is "Export"):
    // $XDG_STATE_HOME/tavrin/<monitorName>.uploading.
    explicit TUploadNote(const std::string& monitorName);

    const std::string& Path() const { return path_; }
    // Notes that `names` in `folder` are being sent: written whole and on disk before it
    // returns; no names clears the note. Empty on success, else what went wrong.
    std::string Write(const std::string& folder, const std::vector<std::string>& names) const;
    // Every upload is over, one way or another.
    void Clear() const;
    // The names an earlier run noted for `folder`; none when there is no such note.
    std::vector<std::string> Read(const std::string& folder) const;

private:
    std::string path_;
};
