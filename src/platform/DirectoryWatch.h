#pragma once
// Reports the files added to one local folder (not its subfolders), over inotify.
//
// A file counts as added once it is complete: a file created in the folder is reported when
// its writer closes it, a file moved in from elsewhere when it arrives. Renames inside the
// folder, deletions, rewrites of files that were already there, files present before Open and
// subfolders are never reported. When the kernel's event queue overflows, the changes of that
// period are lost.
#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tavrin {

class TDirectoryWatch {
public:
    TDirectoryWatch() = default;
    ~TDirectoryWatch();
    TDirectoryWatch(const TDirectoryWatch&) = delete;
    TDirectoryWatch& operator=(const TDirectoryWatch&) = delete;

    // Begins watching `folder`. 0 on success, else the errno that stopped it (the watch then
    // stays closed and every wait returns at once).
    int Open(const std::string& folder);
    bool IsOpen() const { return watchFd_ >= 0; }

    // Blocks until at least one file has been added or Stop was called. Returns the bare names
    // in the order they became complete; an empty list means stopped (or never opened).
    std::vector<std::string> WaitForAddedFiles();

    // From any thread: wakes a waiting WaitForAddedFiles at once; every later wait returns
    // empty too.
    void Stop();
    bool StopRequested() const { return stopRequested_; }

private:
    struct MovedAway {
        bool pending;    // created here and not yet closed by its writer
        uint64_t readNo; // the read that brought the move's first half
    };

    void Close();
    void Interpret(uint32_t mask, uint32_t cookie, const std::string& name,
                   std::vector<std::string>& added);
    void ForgetStaleMoves();

    int inotifyFd_ = -1;
    int watchFd_ = -1;
    int stopFd_ = -1; // eventfd
    std::atomic<bool> stopRequested_{false};
    // Names created in the folder whose writer has not closed them yet.
    std::set<std::string> pending_;
    // First halves of renames, by cookie, until the second half shows up. A first half
    // without a second one (moved out of the folder) is dropped after the next read.
    std::map<uint32_t, MovedAway> movedAway_;
    uint64_t readNo_ = 0;
};

} // namespace tavrin
