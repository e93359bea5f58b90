#include "platform/DirectoryWatch.h"

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

constexpr uint32_t kWatchMask = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                IN_MOVED_TO | IN_DELETE | IN_ONLYDIR | IN_EXCL_UNLINK;

// Room for many events per read; a single event is at most sizeof(inotify_event)+NAME_MAX+1.
constexpr size_t kReadBufferSize = 64 * 1024;

using Kind = TFolderChange::Kind;

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
}

int TDirectoryWatch::Open(const std::string& folder) {
    Close();
    folder_ = folder;
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0)
        return errno;
    inotifyFd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotifyFd_ < 0) {
        int error = errno;
        Close();
        return error;
    }
    watchFd_ = ::inotify_add_watch(inotifyFd_, folder.c_str(), kWatchMask);
    if (watchFd_ < 0) {
        int error = errno;
        Close();
        return error;
    }
    // Listed after the watch began, so a file is either known now or reported later.
    present_ = ListFiles(folder);
    return 0;
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
    while (added.empty() && !stopRequested_ && IsOpen())
        for (const TFolderChange& change : WaitForChanges(-1))
            if (change.kind == Kind::Arrived)
                added.push_back(change.name);
    return stopRequested_ ? std::vector<std::string>() : added;
}

std::vector<TFolderChange> TDirectoryWatch::WaitForChanges(int timeoutMs) {
    std::vector<TFolderChange> changes;
    alignas(inotify_event) char buffer[kReadBufferSize];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (changes.empty() && !stopRequested_ && IsOpen()) {
        int wait = timeoutMs;
        if (timeoutMs > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<long long>(0, left.count()));
        }
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}};
        int ready = ::poll(fds, 2, wait);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break; // nothing sensible left to wait on
        }
        if (fds[0].revents != 0 || stopRequested_)
            break;
        if ((fds[1].revents & POLLIN) == 0) {
            if (ready == 0 && timeoutMs >= 0)
                break; // time is up
            continue;
        }
        ssize_t length = ::read(inotifyFd_, buffer, sizeof buffer);
        if (length <= 0)
            continue; // EAGAIN or EINTR: poll again
        ++readNo_;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            // The kernel pads the name with NULs; the name ends at the first one.
            std::string name = event->len ? std::string(event->name) : std::string();
            Interpret(event->mask, event->cookie, name, changes);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        if (simulateOverflow_.exchange(false))
            Rescan(changes);
        ForgetStaleMoves();
    }
    return stopRequested_ ? std::vector<TFolderChange>() : changes;
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
