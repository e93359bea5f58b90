#pragma once
// The uploads in progress, written down before their STOR so that a run that ends in the
// middle of them (a crash, a kill, a power cut, a stop) leaves word of the files that the
// server may hold only in part under their final names. One note per monitor, in the per-user
// state folder; the next start of that monitor sends the files again before anything else.
// The folder is the first line and each name one line after it, so a note of one file reads
// as it always has. While uploads go on, lines are appended rather than the note rewritten:
// a name that started, or "/" and a name that is over (a name is relative, so it never
// starts with "/"); the last line counts only once its line break is there.
#include <condition_variable>
#include <cstdint>
#include <mutex>
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
    // Appends the names that are over ("/" lines), then those that start, to the note
    // written before, and flushes them to disk before it returns. Empty on success, else what
    // went wrong; the note may then end in a piece of a line, so it must be written whole.
    std::string Append(const std::vector<std::string>& over,
                       const std::vector<std::string>& started) const;
    // Every upload is over, one way or another.
    void Clear() const;
    // The names an earlier run noted for `folder`; none when there is no such note.
    std::vector<std::string> Read(const std::string& folder) const;

private:
    std::string path_;
};

// The names a note holds while uploads run at once. Each name is on disk before Add returns;
// uploads that start while the note is being written share the next write, so several
// connections cost one write, not one each. A name is appended with a single flush; the note
// is written whole only when it is new, after a failure, or once it has grown long. A
// finished name leaves the note with the next write (until then a crash would only send it
// once more), or with the note itself once nothing is in progress.
class TNotedUploads {
public:
    // `earlier`: names an earlier run noted, which stay until their files are dealt with.
    TNotedUploads(const TUploadNote& note, std::string folder, std::vector<std::string> earlier);
    TNotedUploads(const TNotedUploads&) = delete;
    TNotedUploads& operator=(const TNotedUploads&) = delete;

    // Empty once `name` is noted on disk, else what went wrong.
    std::string Add(const std::string& name);
    void Remove(const std::string& name);

private:
    const TUploadNote& note_;
    const std::string folder_;
    std::mutex mutex_;
    std::condition_variable written_;
    std::vector<std::string> names_;
    std::vector<std::string> started_; // added since the last write
    std::vector<std::string> over_;    // removed since the last write
    bool appendable_ = false;          // the note on disk is one this object wrote whole
    size_t linesOnDisk_ = 0;
    uint64_t wanted_ = 0;  // additions so far
    uint64_t durable_ = 0; // additions on disk
    bool writing_ = false;
    std::string problem_; // of the last write
};
