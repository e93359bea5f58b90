#include "platform/DirectoryWatch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin {
namespace {

// IN_DELETE_SELF and IN_MOVE_SELF tell that the folder itself went; IN_IGNORED and
// IN_UNMOUNT come without asking.
constexpr uint32_t kWatchMask = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                IN_MOVED_TO | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF |
                                IN_ONLYDIR | IN_EXCL_UNLINK;
constexpr uint32_t kFolderGoneMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

// Room for many events per read; a single event is at most sizeof(inotify_event)+NAME_MAX+1.
constexpr size_t kReadBufferSize = 64 * 1024;

using Kind = TFolderChange::Kind;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

TDirectoryWatch::~TDirectoryWatch() {
    Close();
}

void TDirectoryWatch::Close() {
    if (inotifyFd_ >= 0)
        ::close(inotifyFd_); // also removes the watches
    if (stopFd_ >= 0)
        ::close(stopFd_);
    inotifyFd_ = watchFd_ = stopFd_ = -1;
    opened_ = false;
    backlog_.clear();
}

int TDirectoryWatch::Open(const std::string& folder, int maxDepth) {
    Close();
    folder_ = folder;
    maxDepth_ = std::max(maxDepth, 0);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0)
        return errno;
    if (int error = Watch(backlog_); error != 0) {
        Close();
        return error;
    }
    opened_ = true;
    return 0;
}

int TDirectoryWatch::Watch(std::vector<TFolderChange>& changes) {
    inotifyFd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotifyFd_ < 0)
        return errno;
    watchFd_ = ::inotify_add_watch(inotifyFd_, folder_.c_str(), kWatchMask);
    if (watchFd_ < 0) {
        int error = errno;
        ::close(inotifyFd_);
        inotifyFd_ = -1;
        return error;
    }
    struct stat info {};
    if (::stat(folder_.c_str(), &info) == 0) {
        folderDevice_ = static_cast<uint64_t>(info.st_dev);
        folderInode_ = static_cast<uint64_t>(info.st_ino);
    }
    tree_.Clear();
    tree_.Add(watchFd_, "");
    notWatched_.clear();
    // Listed after the watches began, so a file is either known now or reported later.
    Walk walk{tree_, {}, {}};
    ListAndDescend("", walk);
    present_ = std::move(walk.files);
    ReportNotWatched(walk.failed, changes);
    pending_.clear();
    announced_.clear();
    movedAway_.clear();
    nextCheckMs_ = NowMs() + kFolderCheckMs;
    return 0;
}

void TDirectoryWatch::WatchSubfolder(const std::string& folder, Walk& walk) {
    int wd = -1;
    if (watchLimit_ >= 0 && walk.tree.Size() >= static_cast<size_t>(watchLimit_))
        errno = ENOSPC;
    else
        wd = ::inotify_add_watch(inotifyFd_, JoinRelative(folder_, folder).c_str(),
                                 kWatchMask | IN_DONT_FOLLOW);
    if (wd < 0) {
        // A folder that went again (or was replaced by a file) meanwhile is no failure: its
        // departure is reported by its parent.
        if (errno != ENOENT && errno != ENOTDIR)
            walk.failed[folder] = errno;
        return;
    }
    // Already watched under this path: the same folder seen twice (its parent's listing found
    // it before its creation was read).
    if (const std::string* known = walk.tree.FolderOf(wd); known != nullptr && *known == folder)
        return;
    if (!walk.tree.Add(wd, folder)) {
        // One folder under a second path (a bind mount) is left out, or its events would be
        // told under the wrong path.
        walk.failed[folder] = ELOOP;
        return;
    }
    ListAndDescend(folder, walk);
}

void TDirectoryWatch::ListAndDescend(const std::string& folder, Walk& walk) {
    TFolderEntries entries = ListFolderEntries(JoinRelative(folder_, folder));
    for (const std::string& name : entries.files)
        walk.files.insert(JoinRelative(folder, name));
    if (DepthOf(folder) >= maxDepth_)
        return;
    for (const std::string& name : entries.folders)
        WatchSubfolder(JoinRelative(folder, name), walk);
}

void TDirectoryWatch::ReportNotWatched(const std::map<std::string, int>& failed,
                                       std::vector<TFolderChange>& changes) {
    for (const auto& [folder, error] : failed)
        if (notWatched_.emplace(folder, error).second)
            changes.push_back({Kind::NotWatched, folder, error});
}

void TDirectoryWatch::LoseFolder(std::vector<TFolderChange>& changes) {
    ::close(inotifyFd_);
    inotifyFd_ = watchFd_ = -1;
    tree_.Clear();
    notWatched_.clear();
    present_.clear();
    pending_.clear();
    announced_.clear();
    movedAway_.clear();
    changes.push_back({Kind::FolderLost, ""});
    // A folder renamed over the old one is there already: the next wait looks at once.
    nextCheckMs_ = NowMs();
}

void TDirectoryWatch::CheckFolder(std::vector<TFolderChange>& changes) {
    if (!opened_ || NowMs() < nextCheckMs_)
        return;
    nextCheckMs_ = NowMs() + kFolderCheckMs;
    if (IsOpen()) {
        // The events tell of a removal or a move, but a folder renamed over ours may bring
        // none: the path must still name the folder the watch is on. A look that fails for
        // another reason (a network file system's hiccup) proves nothing: a lost folder
        // would send every file in it again.
        struct stat info {};
        if (::stat(folder_.c_str(), &info) != 0) {
            if (errno != ENOENT && errno != ENOTDIR)
                return;
        } else if (S_ISDIR(info.st_mode) && static_cast<uint64_t>(info.st_dev) == folderDevice_ &&
                   static_cast<uint64_t>(info.st_ino) == folderInode_) {
            return;
        }
        LoseFolder(changes);
    }
    std::vector<TFolderChange> leftOut;
    if (Watch(leftOut) != 0)
        return; // still not there: looked for again at the next check
    changes.push_back({Kind::FolderBack, ""});
    changes.insert(changes.end(), leftOut.begin(), leftOut.end());
    for (const std::string& name : present_)
        changes.push_back({Kind::Arrived, name});
    announced_ = present_;
}

std::set<std::string> TDirectoryWatch::ListFiles(const std::string& folder, int maxDepth) {
    std::set<std::string> files;
    std::vector<std::string> folders{""};
    while (!folders.empty()) {
        const std::string relative = std::move(folders.back());
        folders.pop_back();
        TFolderEntries entries = ListFolderEntries(JoinRelative(folder, relative));
        for (const std::string& name : entries.files)
            files.insert(JoinRelative(relative, name));
        if (DepthOf(relative) < maxDepth)
            for (const std::string& name : entries.folders)
                folders.push_back(JoinRelative(relative, name));
    }
    return files;
}

void TDirectoryWatch::Stop() {
    stopRequested_ = true;
    if (stopFd_ >= 0) {
        uint64_t one = 1;
        // A full counter (never in practice) still leaves the descriptor readable.
        [[maybe_unused]] ssize_t written = ::write(stopFd_, &one, sizeof one);
    }
}

std::vector<std::string> TDirectoryWatch::WaitForAddedFiles() {
    std::vector<std::string> added;
    while (added.empty() && !stopRequested_ && opened_)
        for (const TFolderChange& change : WaitForChanges(-1))
            if (change.kind == Kind::Arrived)
                added.push_back(change.name);
    return stopRequested_ ? std::vector<std::string>() : added;
}

std::vector<TFolderChange> TDirectoryWatch::WaitForChanges(int timeoutMs) {
    std::vector<TFolderChange> changes = std::move(backlog_);
    backlog_.clear();
    alignas(inotify_event) char buffer[kReadBufferSize];
    const int64_t deadline = NowMs() + std::max(timeoutMs, 0);
    while (changes.empty() && !stopRequested_ && opened_) {
        CheckFolder(changes);
        if (!changes.empty())
            break;
        // Woken for the next look at the folder too; a lost folder leaves only the stop.
        int64_t wait = std::max<int64_t>(0, nextCheckMs_ - NowMs());
        if (timeoutMs >= 0)
            wait = std::min<int64_t>(wait, std::max<int64_t>(0, deadline - NowMs()));
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}};
        int ready = ::poll(fds, 2, static_cast<int>(wait));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break; // nothing sensible left to wait on
        }
        if (fds[0].revents != 0 || stopRequested_)
            break;
        if (inotifyFd_ >= 0 && (fds[1].revents & POLLIN) != 0)
            ReadEvents(buffer, sizeof buffer, changes);
        if (timeoutMs >= 0 && NowMs() >= deadline)
            break; // time is up
    }
    return stopRequested_ ? std::vector<TFolderChange>() : changes;
}

void TDirectoryWatch::ReadEvents(char* buffer, size_t size, std::vector<TFolderChange>& changes) {
    ssize_t length = ::read(inotifyFd_, buffer, size);
    if (length <= 0)
        return; // EAGAIN or EINTR: poll again
    ++readNo_;
    bool folderGone = false;
    for (ssize_t offset = 0; offset < length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
        offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->wd == watchFd_ && (event->mask & kFolderGoneMask)) {
            folderGone = true;
            continue;
        }
        Interpret(*event, changes);
    }
    if (folderGone) {
        LoseFolder(changes);
        return;
    }
    if (simulateOverflow_.exchange(false))
        Rescan(changes);
    ForgetStaleMoves();
}

void TDirectoryWatch::Interpret(const inotify_event& event, std::vector<TFolderChange>& changes) {
    if (event.mask & IN_Q_OVERFLOW) {
        Rescan(changes);
        return;
    }
    const std::string* found = tree_.FolderOf(event.wd);
    if (found == nullptr)
        return; // queued before its folder left the tree
    const std::string folder = *found;
    if (event.mask & IN_IGNORED) {
        // A subfolder's watch ended by the system (removed, unmounted); its parent may
        // never say so.
        FolderGone(folder, changes);
        return;
    }
    // The kernel pads the name with NULs; the name ends at the first one.
    const std::string name = event.len ? std::string(event.name) : std::string();
    if (name.empty())
        return; // events of a folder itself: its parent reports them
    const std::string path = JoinRelative(folder, name);
    if ((event.mask & IN_ISDIR) == 0) {
        InterpretFile(event.mask, event.cookie, path, changes);
        return;
    }
    if (DepthOf(folder) >= maxDepth_ || IsHiddenName(name))
        return; // not a folder of the tree
    if (event.mask & (IN_CREATE | IN_MOVED_TO))
        FolderAppeared(path, changes);
    else if (event.mask & (IN_DELETE | IN_MOVED_FROM))
        FolderGone(path, changes);
}

void TDirectoryWatch::InterpretFile(uint32_t mask, uint32_t cookie, const std::string& name,
                                    std::vector<TFolderChange>& changes) {
    if (mask & IN_CREATE) {
        present_.insert(name);
        // A file a listing has reported already was created before that listing.
        if (announced_.erase(name) == 0)
            pending_.insert(name);
    } else if (mask & IN_MODIFY) {
        changes.push_back({Kind::Touched, name});
    } else if (mask & IN_CLOSE_WRITE) {
        // The first close of a file created here completes it; later closes are touches.
        if (pending_.erase(name) != 0)
            changes.push_back({Kind::Arrived, name});
        else
            changes.push_back({Kind::Touched, name});
    } else if (mask & IN_DELETE) {
        present_.erase(name);
        pending_.erase(name);
        announced_.erase(name);
        changes.push_back({Kind::Gone, name});
    } else if (mask & IN_MOVED_FROM) {
        bool wasPending = pending_.erase(name) != 0;
        present_.erase(name);
        announced_.erase(name);
        movedAway_[cookie] = MovedAway{wasPending, readNo_};
        changes.push_back({Kind::Gone, name});
    } else if (mask & IN_MOVED_TO) {
        present_.insert(name);
        // Which file a listing saw cannot be told from a move over it: a file reported twice
        // is sent twice, one never reported is lost.
        announced_.erase(name);
        auto from = movedAway_.find(cookie);
        // A file still being written keeps waiting for its close under its new name; a
        // complete one (moved in, or renamed inside) has arrived. Whatever was pending under
        // this name has just been replaced.
        if (from != movedAway_.end() && from->second.pending) {
            pending_.insert(name);
        } else {
            pending_.erase(name);
            changes.push_back({Kind::Arrived, name});
        }
        if (from != movedAway_.end())
            movedAway_.erase(from);
    }
}

void TDirectoryWatch::FolderAppeared(const std::string& folder,
                                     std::vector<TFolderChange>& changes) {
    if (tree_.Has(folder))
        return; // its parent's listing found it before its creation was read
    // Created anew: tried again, and reported again if it still cannot be watched.
    notWatched_.erase(folder);
    Walk walk{tree_, {}, {}};
    WatchSubfolder(folder, walk);
    ReportNotWatched(walk.failed, changes);
    for (const std::string& path : walk.files)
        if (present_.insert(path).second) {
            // Its writer may still be at it; the caller's settle time decides.
            announced_.insert(path);
            changes.push_back({Kind::Arrived, path});
        }
}

void TDirectoryWatch::FolderGone(const std::string& folder, std::vector<TFolderChange>& changes) {
    // A folder moved away keeps its watches; they must not tell its events under this path.
    for (int wd : tree_.TakeSubtree(folder))
        ::inotify_rm_watch(inotifyFd_, wd);
    for (auto it = notWatched_.begin(); it != notWatched_.end();)
        it = it->first == folder || IsBelow(it->first, folder) ? notWatched_.erase(it) : ++it;
    for (const std::string& path : TakeBelow(present_, folder)) {
        pending_.erase(path);
        announced_.erase(path);
        changes.push_back({Kind::Gone, path});
    }
}

void TDirectoryWatch::Rescan(std::vector<TFolderChange>& changes) {
    // The events of the lost period are gone; the tree itself tells what came and went. Every
    // folder is watched again: one already watched keeps its watch, one that went or moved
    // loses it, one left out is tried again.
    TWatchTree tree;
    tree.Add(watchFd_, "");
    Walk walk{tree, {}, {}};
    ListAndDescend("", walk);
    for (int wd : tree_.WatchesNotIn(tree))
        ::inotify_rm_watch(inotifyFd_, wd);
    tree_ = std::move(tree);
    std::map<std::string, int> reported = std::move(notWatched_);
    notWatched_.clear();
    for (const auto& [folder, error] : walk.failed)
        if (reported.count(folder) != 0)
            notWatched_.emplace(folder, error); // still left out: said once already
    ReportNotWatched(walk.failed, changes);
    std::set<std::string>& now = walk.files;
    for (const std::string& name : present_)
        if (now.count(name) == 0) {
            pending_.erase(name);
            changes.push_back({Kind::Gone, name});
        }
    announced_.clear();
    for (const std::string& name : now)
        if (present_.count(name) == 0 || pending_.count(name) != 0) {
            // Whether its writer is done is unknown now; the caller's settle time decides.
            pending_.erase(name);
            announced_.insert(name);
            changes.push_back({Kind::Arrived, name});
        }
    present_ = std::move(now);
    movedAway_.clear();
}

void TDirectoryWatch::ForgetStaleMoves() {
    // Both halves of a rename are queued together, so the second half is at the latest in the
    // read after the first; anything older was moved out of the folder.
    for (auto it = movedAway_.begin(); it != movedAway_.end();) {
        if (it->second.readNo + 1 < readNo_)
            it = movedAway_.erase(it);
        else
            ++it;
    }
}

} // namespace tavrin
