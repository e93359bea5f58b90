#pragma once
// The upload in progress, written down before its STOR so that a run that ends in the middle
// of it (a crash, a kill, a power cut, a stop) leaves word of the file that the server may hold
// only in part under its final name. One note per monitor, in the per-user state folder; the
// next start of that monitor sends the file again before anything else.
#include <optional>
#include <string>

class TUploadNote {
public:
    // The note of the monitor called `monitorName` (the export monitor is "Export"):
    // $XDG_STATE_HOME/tavrin/<monitorName>.uploading.
    explicit TUploadNote(const std::string& monitorName);

    const std::string& Path() const { return path_; }
    // Notes that `name` in `folder` is being sent: written whole and on disk before it
    // returns. Empty on success, else what went wrong.
    std::string Write(const std::string& folder, const std::string& name) const;
    // The upload is over, one way or another.
    void Clear() const;
    // The name an earlier run noted for `folder`, if any.
    std::optional<std::string> Read(const std::string& folder) const;

private:
    std::string path_;
};
