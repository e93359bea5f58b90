#pragma once
// Reports the changes of one local folder (not its subfolders) that decide when a file can be
// sent, over inotify.
//
// A file counts as arrived once it is complete: a file created in the folder when its writer
// closes it, a file moved in from elsewhere when it lands, a complete file renamed inside the
// folder under its new name (the old name is reported gone). A file still being written that
// is renamed keeps waiting for its close under the new name. Writes and closes of any file are
// reported as touches, deletions and moves out as gone. Files present before Open and
// subfolders never arrive. When the kernel's event queue overflows, the folder is listed again
// and every file that appeared meanwhile arrives, so nothing is lost.
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

namespace tavrin {

struct TFolderChange {
    // FolderLost and FolderBack carry no name: they are about the watched folder itself.
    enum class Kind { Arrived, Touched, Gone, FolderLost, FolderBack };
    Kind kind;
    std::string name;
    bool operator==(const TFolderChange&) const = default;
};

class TDirectoryWatch {
public:
    TDirectoryWatch() = default;
    ~TDirectoryWatch();
    TDirectoryWatch(const TDirectoryWatch&) = delete;
    TDirectoryWatch& operator=(const TDirectoryWatch&) = delete;

    // Begins watching `folder`. 0 on success, else the errno that stopped it (the watch then
    // stays closed and every wait returns at once).
    int Open(const std::string& folder);
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

    // The regular files in the folder now; the watch's own list after an overflow.
    static std::set<std::string> ListFiles(const std::string& folder);
    // Seam for tests: handles the next read as if the kernel had reported an overflow.
    void SimulateOverflow() { simulateOverflow_ = true; }

private:
    struct MovedAway {
        bool pending;    // created here and not yet closed by its writer
        uint64_t readNo; // the read that brought the move's first half
    };

    void Close();
    int Watch(); // the inotify half of Open; errno on failure
    void CheckFolder(std::vector<TFolderChange>& changes);
    void ReadEvents(char* buffer, size_t size, std::vector<TFolderChange>& changes);
    void LoseFolder(std::vector<TFolderChange>& changes);
    void Interpret(uint32_t mask, uint32_t cookie, const std::string& name,
                   std::vector<TFolderChange>& changes);
    void Rescan(std::vector<TFolderChange>& changes);
    void ForgetStaleMoves();

    std::string folder_;
    int inotifyFd_ = -1;
    int watchFd_ = -1;
    int stopFd_ = -1; // eventfd
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> simulateOverflow_{false};
    bool opened_ = false; // Open succeeded: the folder is watched, or lost and looked for
    uint64_t folderDevice_ = 0, folderInode_ = 0; // what the path named when the watch began
    int64_t nextCheckMs_ = 0;                     // steady clock, milliseconds
    // Names in the folder, as far as the events tell; the rescan after an overflow compares
    // the folder against it.
    std::set<std::string> present_;
    // Names created in the folder whose writer has not closed them yet.
    std::set<std::string> pending_;
    // First halves of renames, by cookie, until the second half shows up. A first half
    // without a second one (moved out of the folder) is dropped after the next read.
    std::map<uint32_t, MovedAway> movedAway_;
    uint64_t readNo_ = 0;
};

} // namespace tavrin
