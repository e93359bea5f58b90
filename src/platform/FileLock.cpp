#include "platform/FileLock.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tavrin::fs {
namespace {

std::string HolderText(pid_t holder) {
    return holder > 0 ? "process " + std::to_string(holder) : std::string("another process");
}

// Makes the folders above `path`, as the first save of the settings would.
void MakeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0700); // an existing folder is fine
}

pid_t ReadHolder(int fd) {
    char text[32] = {};
    const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
    if (length <= 0)
        return 0;
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return pid > 0 && end != text ? static_cast<pid_t>(pid) : 0;
}

// The holder writes its id right after locking; a reader that comes in between finds the
// file empty and looks again, briefly.
pid_t WaitForHolder(int fd) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (pid_t holder = ReadHolder(fd))
            return holder;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

} // namespace

EFileInUse::EFileInUse(const std::string& file, pid_t holder)
    : std::runtime_error(file + " is in use by " + HolderText(holder)), file_(file),
      holder_(holder) {}

TFileLock::TFileLock(const std::string& file) {
    const std::string path = LockFileFor(file);
    MakeParents(path);
    // Opened without truncating: the file holds the current owner's id until we own it.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        throw ELockUnavailable("Cannot make the lock file " + path + ": " + std::strerror(errno));
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        const int error = errno;
        const pid_t holder = error == EWOULDBLOCK ? WaitForHolder(fd_) : 0;
        ::close(fd_);
        fd_ = -1;
        if (error == EWOULDBLOCK)
            throw EFileInUse(file, holder);
        throw ELockUnavailable("Cannot lock " + path + ": " + std::strerror(error));
    }
    // Should the id not get written, we are locked all the same; a second program then
    // says "another process".
    const std::string id = std::to_string(::getpid()) + "\n";
    [[maybe_unused]] const bool written =
        ::ftruncate(fd_, 0) == 0 &&
        ::pwrite(fd_, id.data(), id.size(), 0) == static_cast<ssize_t>(id.size());
}

TFileLock::~TFileLock() {
    if (fd_ >= 0)
        ::close(fd_); // releases the lock
}

} // namespace tavrin::fs
