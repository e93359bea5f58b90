#include "ftp/IdStream.h"

#include "ftp/IdExceptions.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

size_t TIdStringStream::Read(char* buffer, size_t size) {
    const size_t count = std::min(size, data_.size() - std::min(position_, data_.size()));
    std::memcpy(buffer, data_.data() + position_, count);
    position_ += count;
    return count;
}

void TIdStringStream::Write(const char* data, size_t size) {
    if (position_ > data_.size())
        data_.resize(position_);
    data_.replace(position_, std::min(size, data_.size() - position_), data, size);
    position_ += size;
}

void TIdCappedStringStream::Write(const char* data, size_t size) {
    const size_t end = static_cast<size_t>(Position());
    if (end > cap_ || size > cap_ - end) {
        constexpr size_t kMiB = size_t{1} << 20;
        const std::string limit = cap_ % kMiB == 0 && cap_ > 0
                                      ? std::to_string(cap_ / kMiB) + " MiB"
                                      : std::to_string(cap_) + " bytes";
        throw EIdException("Directory listing exceeds " + limit + ".");
    }
    TIdStringStream::Write(data, size);
}

void TIdStringStream::SetPosition(int64_t position) {
    position_ = position < 0 ? 0 : static_cast<size_t>(position);
}

TIdFileStream::TIdFileStream(const std::string& path, Mode mode) : path_(path) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Create:
        flags |= O_WRONLY | O_CREAT | O_TRUNC;
        break;
    case Mode::OpenOrCreateAppend:
        flags |= O_RDWR | O_CREAT;
        break;
    case Mode::OpenRead:
        flags |= O_RDONLY;
        break;
    }
    fd_ = ::open(path.c_str(), flags, 0666);
    if (fd_ < 0)
        Fail(mode == Mode::OpenRead ? "Cannot open file" : "Cannot create file", errno);
    if (mode == Mode::OpenOrCreateAppend && ::lseek(fd_, 0, SEEK_END) < 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        Fail("Cannot open file", error);
    }
}

TIdFileStream::~TIdFileStream() {
    if (fd_ >= 0)
        ::close(fd_);
}

void TIdFileStream::Fail(const char* what, int error) const {
    throw EIdFileError(std::string(what) + " \"" + path_ + "\". " +
                       tavrin::fs::SystemErrorText(error));
}

size_t TIdFileStream::Read(char* buffer, size_t size) {
    for (;;) {
        const ssize_t count = ::read(fd_, buffer, size);
        if (count >= 0)
            return static_cast<size_t>(count);
        if (errno != EINTR)
            Fail("Cannot read from file", errno);
    }
}

void TIdFileStream::Write(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t count = ::write(fd_, data, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            Fail("Cannot write to file", count < 0 ? errno : ENOSPC);
        data += count;
        size -= static_cast<size_t>(count);
    }
}

int64_t TIdFileStream::Position() const {
    const off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0)
        Fail("Cannot seek in file", errno);
    return position;
}

void TIdFileStream::SetPosition(int64_t position) {
    if (::lseek(fd_, position, SEEK_SET) < 0)
        Fail("Cannot seek in file", errno);
}

int64_t TIdFileStream::Size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0)
        Fail("Cannot read the size of file", errno);
    return info.st_size;
}

void TIdFileStream::Close() {
    if (fd_ < 0)
        return;
    const int fd = fd_;
    fd_ = -1;
    // Some file systems report a failed write only here; such a file is not complete.
    if (::close(fd) != 0)
        Fail("Cannot close file", errno);
}
