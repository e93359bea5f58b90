#include "platform/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::fs {

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

std::vector<std::string> PathSteps(const std::string& relative) {
    std::vector<std::string> steps;
    size_t from = 0;
    for (size_t slash; (slash = relative.find('/', from)) != std::string::npos; from = slash + 1)
        steps.push_back(relative.substr(from, slash - from));
    steps.push_back(relative.substr(from));
    return steps;
}

std::string MakeFoldersBelow(const std::string& base, const std::string& relative) {
    const std::vector<std::string> steps = PathSteps(relative);
    std::string path = base;
    for (size_t i = 0; i + 1 < steps.size(); ++i) {
        path += "/" + steps[i];
        if (!CreateDir(path) && !DirectoryExists(path))
            return path;
    }
    return {};
}

bool DeleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

namespace {

// Renames without replacing; file systems without RENAME_NOREPLACE get link + unlink, which
// refuses an existing target just the same.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool CopyAll(int in, int out) {
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                if (w == 0)
                    errno = ENOSPC;
                return false;
            }
            done += w;
        }
    }
}

// The move across file systems: a hidden copy beside the target, made durable, then given
// the target's name; the source goes last, so a failure at any step loses nothing.
bool CopyThenRename(const std::string& from, const std::string& to) {
    struct stat target {};
    if (::lstat(to.c_str(), &target) == 0) {
        errno = EEXIST;
        return false;
    }
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat source {};
    std::string temporary = FolderOf(to) + "/." + BaseName(to) + ".XXXXXX";
    int out = ::fstat(in, &source) == 0 ? ::mkostemp(temporary.data(), O_CLOEXEC) : -1;
    if (out < 0) {
        int error = errno;
        ::close(in);
        errno = error;
        return false;
    }
    bool ok = CopyAll(in, out) && ::fchmod(out, source.st_mode & 07777) == 0 && ::fsync(out) == 0;
    int error = errno;
    ::close(in);
    ok = ::close(out) == 0 && ok;
    if (ok && !RenameNoReplace(temporary, to)) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        errno = error;
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

} // namespace

bool MoveFileNoReplace(const std::string& from, const std::string& to, int& error) {
    error = 0;
    if (RenameNoReplace(from, to))
        return true;
    if (errno == EXDEV && CopyThenRename(from, to))
        return true;
    error = errno;
    return false;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
    int error = 0;
    return MoveFileNoReplace(from, to, error);
}

bool SyncFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    int error = errno;
    ::close(fd);
    errno = error;
    return ok;
}

std::string SystemErrorText(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

int ReplaceFilePrivately(const std::string& path, const std::string& text) {
    static std::atomic<unsigned> serial{0};
    const std::string temp =
        path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++serial);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int error = 0;
    for (size_t done = 0; done < text.size() && error == 0;) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (errno != EINTR)
            error = errno;
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

} // namespace tavrin::fs
