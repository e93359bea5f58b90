#include "platform/DirectoryWatch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
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
        ::close(inotifyFd_); // also removes the watch
    if (stopFd_ >= 0)
        ::close(stopFd_);
    inotifyFd_ = watchFd_ = stopFd_ = -1;
    opened_ = false;
}

int TDirectoryWatch::Open(const std::string& folder) {
    Close();
    folder_ = folder;
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0)
        return errno;
    if (int error = Watch(); error != 0) {
        Close();
        return error;
    }
    opened_ = true;
    return 0;
}

int TDirectoryWatch::Watch() {
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
    // Listed after the watch began, so a file is either known now or reported later.
    present_ = ListFiles(folder_);
    pending_.clear();
    movedAway_.clear();
    nextCheckMs_ = NowMs() + kFolderCheckMs;
    return 0;
}

void TDirectoryWatch::LoseFolder(std::vector<TFolderChange>& changes) {
    ::close(inotifyFd_);
    inotifyFd_ = watchFd_ = -1;
    present_.clear();
    pending_.clear();
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
    if (Watch() != 0)
        return; // still not there: looked for again at the next check
    changes.push_back({Kind::FolderBack, ""});
    for (const std::string& name : present_)
        changes.push_back({Kind::Arrived, name});
}

std::set<std::string> TDirectoryWatch::ListFiles(const std::string& folder) {
    std::set<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode))
            names.insert(entry->d_name);
    }
    ::closedir(dir);
    return names;
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
    std::vector<TFolderChange> changes;
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
        if (event->mask & kFolderGoneMask) {
            folderGone = true;
            continue;
        }
        // The kernel pads the name with NULs; the name ends at the first one.
        std::string name = event->len ? std::string(event->name) : std::string();
        Interpret(event->mask, event->cookie, name, changes);
    }
    if (folderGone) {
        LoseFolder(changes);
        return;
    }
    if (simulateOverflow_.exchange(false))
        Rescan(changes);
    ForgetStaleMoves();
}

void TDirectoryWatch::Interpret(uint32_t mask, uint32_t cookie, const std::string& name,
                                std::vector<TFolderChange>& changes) {
    if (mask & IN_Q_OVERFLOW) {
        Rescan(changes);
        return;
    }
    if (name.empty() || (mask & IN_ISDIR))
        return; // events of the folder itself, and subfolders
    if (mask & IN_CREATE) {
        present_.insert(name);
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
        changes.push_back({Kind::Gone, name});
    } else if (mask & IN_MOVED_FROM) {
        bool wasPending = pending_.erase(name) != 0;
        present_.erase(name);
        movedAway_[cookie] = MovedAway{wasPending, readNo_};
        changes.push_back({Kind::Gone, name});
    } else if (mask & IN_MOVED_TO) {
        present_.insert(name);
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

void TDirectoryWatch::Rescan(std::vector<TFolderChange>& changes) {
    // The events of the lost period are gone; the folder itself tells what came and went.
    std::set<std::string> now = ListFiles(folder_);
    for (const std::string& name : present_)
        if (now.count(name) == 0) {
            pending_.erase(name);
            changes.push_back({Kind::Gone, name});
        }
    for (const std::string& name : now)
        if (present_.count(name) == 0 || pending_.count(name) != 0) {
            // Whether its writer is done is unknown now; the caller's settle time decides.
            pending_.erase(name);
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
