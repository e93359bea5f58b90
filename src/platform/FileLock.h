#pragma once
// One program per settings file and per register: a lock (flock) on a lock file beside the
// locked file, holding the owner's process id so that a second program can say who has it.
// The lock goes with the process, also when it crashes; the lock file itself stays.
#include <stdexcept>
#include <string>
#include <sys/types.h>

namespace tavrin::fs {

// Another process (or another lock in this one) holds the lock. what() says
// "<file> is in use by process <pid>".
class EFileInUse : public std::runtime_error {
public:
    EFileInUse(const std::string& file, pid_t holder);
    const std::string& File() const { return file_; }
    pid_t Holder() const { return holder_; } // 0 when it could not be read

private:
    std::string file_;
    pid_t holder_;
};

// The lock file cannot be made or locked at all (a read-only folder, for one).
class ELockUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TFileLock {
public:
    // Locks `file` + ".lock" (made, with its folder, when missing) and writes our process id
    // into it. Raises EFileInUse or ELockUnavailable; never waits for the holder.
    explicit TFileLock(const std::string& file);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    static std::string LockFileFor(const std::string& file) { return file + ".lock"; }

private:
    int fd_ = -1;
};

} // namespace tavrin::fs
