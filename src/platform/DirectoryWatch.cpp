#include "platform/DirectoryWatch.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace tavrin {
namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_DELETE | IN_ONLYDIR | IN_EXCL_UNLINK;

// Room for many events per read; a single event is at most sizeof(inotify_event)+NAME_MAX+1.
constexpr size_t kReadBufferSize = 64 * 1024;

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
    return 0;
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
    alignas(inotify_event) char buffer[kReadBufferSize];
    while (added.empty() && !stopRequested_ && IsOpen()) {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}};
        int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break; // nothing sensible left to wait on
        }
        if (fds[0].revents != 0 || stopRequested_)
            break;
        if ((fds[1].revents & POLLIN) == 0)
            continue;
        ssize_t length = ::read(inotifyFd_, buffer, sizeof buffer);
        if (length <= 0)
            continue; // EAGAIN or EINTR: poll again
        ++readNo_;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            // The kernel pads the name with NULs; the name ends at the first one.
            std::string name = event->len ? std::string(event->name) : std::string();
            Interpret(event->mask, event->cookie, name, added);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        ForgetStaleMoves();
    }
    return stopRequested_ ? std::vector<std::string>() : added;
}

void TDirectoryWatch::Interpret(uint32_t mask, uint32_t cookie, const std::string& name,
                                std::vector<std::string>& added) {
    if (mask & IN_Q_OVERFLOW)
        return; // those changes are lost
    if (name.empty() || (mask & IN_ISDIR))
        return; // events of the folder itself, and subfolders
    if (mask & IN_CREATE) {
        pending_.insert(name);
    } else if (mask & IN_CLOSE_WRITE) {
        // Only the first close of a file created here completes it; later rewrites of a file
        // that was already there are not additions.
        if (pending_.erase(name) != 0)
            added.push_back(name);
    } else if (mask & IN_DELETE) {
        pending_.erase(name);
    } else if (mask & IN_MOVED_FROM) {
        bool wasPending = pending_.erase(name) != 0;
        movedAway_[cookie] = MovedAway{wasPending, readNo_};
    } else if (mask & IN_MOVED_TO) {
        auto from = movedAway_.find(cookie);
        if (from == movedAway_.end()) {
            // Moved in from elsewhere: complete on arrival. Whatever was pending under this
            // name has just been replaced.
            pending_.erase(name);
            added.push_back(name);
            return;
        }
        // Renamed inside the folder: not an addition, but a file still being written keeps
        // waiting for its close under its new name.
        if (from->second.pending)
            pending_.insert(name);
        else
            pending_.erase(name);
        movedAway_.erase(from);
    }
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
