#pragma once
// Reports the changes of one local folder, and of its subfolders down to a given depth, that
// decide when a file can be sent, over inotify. Files are named by their path relative to the
// folder ("a.txt", "sub/deeper/b.txt").
//
// A file counts as arrived once it is complete: a file created in the tree when its writer
// closes it, a file moved in from elsewhere when it lands, a complete file renamed inside the
// tree under its new path (the old one is reported gone). A file still being written that is
// renamed keeps waiting for its close under the new path. Writes and closes of any file are
// reported as touches, deletions and moves out as gone. Files present before Open never
// arrive. When the kernel's event queue overflows, the tree is listed again and every file
// that appeared meanwhile arrives, so nothing is lost.
//
// A subfolder (not a hidden one, not a link) that appears in the tree later is watched at once
// and the files already in it arrive; one that goes takes its files with it (gone). Renamed
// inside the tree, its files are gone under the old paths and arrive under the new ones. A
// subfolder that cannot be watched (the system's watch limit, no permission) is reported once
// and left out, and the rest of the tree stays watched.
//
// A folder that is removed, moved away or replaced (a rename over it) is reported lost at once;
// the watch then looks for a folder under the same path every second, and when one is there
// again it is reported back and every file in it arrives.
#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/WatchTree.h"

struct inotify_event;

namespace tavrin {

struct TFolderChange {
    // FolderLost and FolderBack carry no name: they are about the watched folder itself.
    // NotWatched names a subfolder left out, with the errno of the attempt to watch it
    // (ENOSPC: the system's limit of watches, fs.inotify.max_user_watches).
    enum class Kind { Arrived, Touched, Gone, FolderLost, FolderBack, NotWatched };
    Kind kind;
    std::string name; // relative path, '/'-separated
    int error = 0;
    bool operator==(const TFolderChange&) const = default;
};

class TDirectoryWatch {
public:
    TDirectoryWatch() = default;
    ~TDirectoryWatch();
    TDirectoryWatch(const TDirectoryWatch&) = delete;
    TDirectoryWatch& operator=(const TDirectoryWatch&) = delete;

    // Begins watching `folder` and its subfolders down to `maxDepth` levels (0: the folder
    // alone; 1: its direct subfolders too). 0 on success, else the errno that stopped it (the
    // watch then stays closed and every wait returns at once). Subfolders that cannot be
    // watched are reported by the first wait.
    int Open(const std::string& folder, int maxDepth = 0);
    // Watching the folder now: false before Open, after a failed one, and while it is lost.
    bool IsOpen() const { return watchFd_ >= 0; }
    // How often the path is compared with the folder watched, and looked for while lost.
    static constexpr int kFolderCheckMs = 1000;

    // Waits up to `timeoutMs` (-1: no limit, 0: only what is queued) for changes and returns
    // them in the order they happened; empty on time-out, stop, or a closed watch.
    std::vector<TFolderChange> WaitForChanges(int timeoutMs);
    // Blocks until at least one file has arrived or Stop was called; only the arrivals.
    std::vector<std::string> WaitForAddedFiles();

    // From any thread: wakes a waiting call at once; every later wait returns empty too.
    void Stop();
    bool StopRequested() const { return stopRequested_; }

    // The regular files in the folder and its subfolders down to `maxDepth` now, by relative
    // path; the watch's own list after an overflow.
    static std::set<std::string> ListFiles(const std::string& folder, int maxDepth = 0);
    // Seam for tests: handles the next read as if the kernel had reported an overflow.
    void SimulateOverflow() { simulateOverflow_ = true; }
    // Seam for tests: watching a subfolder fails with ENOSPC, as at the system's limit, once
    // `count` folders (the watched one included) are watched. Negative: no limit.
    void LimitWatchesForTest(int count) { watchLimit_ = count; }

private:
    struct MovedAway {
        bool pending;    // created here and not yet closed by its writer
        uint64_t readNo; // the read that brought the move's first half
    };

    // What a walk over (part of) the tree found: the files by relative path, and the folders
    // that could not be watched with the errno.
    struct Walk {
        TWatchTree& tree;
        std::set<std::string> files;
        std::map<std::string, int> failed;
    };

    void Close();
    // The inotify half of Open, and of a folder that is back; errno on failure. Subfolders
    // left out are added to `changes`.
    int Watch(std::vector<TFolderChange>& changes);
    void CheckFolder(std::vector<TFolderChange>& changes);
    void ReadEvents(char* buffer, size_t size, std::vector<TFolderChange>& changes);
    void LoseFolder(std::vector<TFolderChange>& changes);
    void Interpret(const inotify_event& event, std::vector<TFolderChange>& changes);
    void InterpretFile(uint32_t mask, uint32_t cookie, const std::string& path,
                       std::vector<TFolderChange>& changes);
    void FolderAppeared(const std::string& folder, std::vector<TFolderChange>& changes);
    void FolderGone(const std::string& folder, std::vector<TFolderChange>& changes);
    void WatchSubfolder(const std::string& folder, Walk& walk);
    void ListAndDescend(const std::string& folder, Walk& walk);
    void ReportNotWatched(const std::map<std::string, int>& failed,
                          std::vector<TFolderChange>& changes);
    void Rescan(std::vector<TFolderChange>& changes);
    void ForgetStaleMoves();

    std::string folder_;
    int maxDepth_ = 0;
    int watchLimit_ = -1;
    int inotifyFd_ = -1;
    int watchFd_ = -1;
    int stopFd_ = -1; // eventfd
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> simulateOverflow_{false};
    bool opened_ = false; // Open succeeded: the folder is watched, or lost and looked for
    uint64_t folderDevice_ = 0, folderInode_ = 0; // what the path named when the watch began
    int64_t nextCheckMs_ = 0;                     // steady clock, milliseconds
    // The watched folders: the folder itself ("") and its subfolders.
    TWatchTree tree_;
    // Subfolders that could not be watched, with the errno; reported once, tried again when
    // created anew or at a rescan.
    std::map<std::string, int> notWatched_;
    // Paths in the tree, as far as the events tell; the rescan after an overflow compares the
    // tree against it.
    std::set<std::string> present_;
    // Paths created in the tree whose writer has not closed them yet.
    std::set<std::string> pending_;
    // Paths a listing reported as arrived whose own creation may still be queued: that event
    // is no news then.
    std::set<std::string> announced_;
    // Changes found outside a wait (by Open), handed out by the next one.
    std::vector<TFolderChange> backlog_;
    // First halves of renames, by cookie, until the second half shows up. A first half
    // without a second one (moved out of the folder) is dropped after the next read.
    std::map<uint32_t, MovedAway> movedAway_;
    uint64_t readNo_ = 0;
};

} // namespace tavrin
