#include "config/LogFileWriter.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin {

TLogFileWriter::TLogFileWriter(std::string path, uint64_t rotateBytes, int keptFiles)
    : path_(std::move(path)), rotateBytes_(rotateBytes), keptFiles_(keptFiles) {}

TLogFileWriter::~TLogFileWriter() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::string TLogFileWriter::TimeStamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%c%02ld:%02ld", date,
                  static_cast<int>(millis < 0 ? millis + 1000 : millis), offset < 0 ? '-' : '+',
                  (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
    return text;
}

std::string TLogFileWriter::Record(std::string_view line) {
    std::string direction = "-";
    for (std::string_view prefix : {"Import > ", "Export > "})
        if (line.starts_with(prefix)) {
            direction = prefix.substr(0, 6);
            line.remove_prefix(prefix.size());
        }
    // One entry, one line: a reply's CR LF must not split it.
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    std::string record = direction + " ";
    for (char c : line)
        record += (c == '\r' || c == '\n') ? ' ' : c;
    return record;
}

bool TLogFileWriter::Write(std::string_view line, std::chrono::system_clock::time_point when) {
    const std::string entry = TimeStamp(when) + " " + Record(line) + "\n";
    if (fd_ < 0 && !Open())
        return false;
    if (size_ > 0 && size_ + entry.size() > rotateBytes_ && !Rotate())
        return false;
    size_t done = 0;
    while (done < entry.size()) {
        const ssize_t n = ::write(fd_, entry.data() + done, entry.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail("Unable to write to " + path_, n < 0 ? errno : ENOSPC);
        done += static_cast<size_t>(n);
    }
    size_ += entry.size();
    return true;
}

bool TLogFileWriter::Open() {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return Fail("Unable to write to " + path_, errno);
    struct stat info {};
    size_ = ::fstat(fd_, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    return true;
}

bool TLogFileWriter::Rotate() {
    ::close(fd_);
    fd_ = -1;
    // The oldest goes; every other one moves up by one.
    const std::string oldest = path_ + "." + std::to_string(keptFiles_);
    ::unlink(oldest.c_str());
    for (int n = keptFiles_ - 1; n >= 1; --n) {
        const std::string from = path_ + "." + std::to_string(n);
        const std::string to = path_ + "." + std::to_string(n + 1);
        if (::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT)
            return Fail("Unable to rename " + from + " to " + to, errno);
    }
    if (keptFiles_ > 0) {
        const std::string first = path_ + ".1";
        if (::rename(path_.c_str(), first.c_str()) != 0)
            return Fail("Unable to rename " + path_ + " to " + first, errno);
    } else if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
        return Fail("Unable to delete " + path_, errno);
    }
    return Open();
}

bool TLogFileWriter::Fail(const std::string& what, int error) {
    error_ = what + ": " + fs::SystemErrorText(error);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    return false;
}

} // namespace tavrin
