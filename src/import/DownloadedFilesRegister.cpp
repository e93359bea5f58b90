#include "import/DownloadedFilesRegister.h"

#include "base/IdException.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FailureText(const char* what, const std::string& path, int error) {
    return std::string(what) + " \"" + path + "\". " + tavrin::fs::SystemErrorText(error);
}

// Closes the descriptor on every way out of the save and load paths.
class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : fd_(fd) {}
    ~TFileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    int Get() const { return fd_; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::vector<std::string> TDownloadedFilesRegister::SplitLines(std::string_view text) {
    size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

bool TDownloadedFilesRegister::Contains(const std::string& name) const {
    return set_.Contains(name);
}

void TDownloadedFilesRegister::Add(const std::string& name) {
    names_.push_back(name);
    set_.Insert(name);
}

void TDownloadedFilesRegister::Clear() {
    names_.clear();
    set_.Clear();
}

bool TDownloadedFilesRegister::LoadIfPresent(const std::string& path) {
    Clear();
    // Non-blocking open so a pipe planted at the path cannot hang the window; only a regular
    // file is accepted as a register.
    TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0) {
        if (errno == ENOENT)
            return false;
        throw EIdException(FailureText("Cannot open file", path, errno));
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        throw EIdException(FailureText("Cannot open file", path, errno));
    if (!S_ISREG(st.st_mode))
        throw EIdException(
            FailureText("Cannot open file", path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL));

    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw EIdException(FailureText("Cannot read file", path, errno));
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    for (std::string& line : SplitLines(text))
        Add(line);
    return true;
}

void TDownloadedFilesRegister::AppendToFile(const std::string& path, const std::string& name) {
    AppendToFile(path, std::vector<std::string>{name});
}

void TDownloadedFilesRegister::AppendToFile(const std::string& path,
                                            const std::vector<std::string>& names) {
    if (names.empty())
        return;
    TFileDescriptor fd(
        ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644));
    if (fd.Get() < 0)
        throw EIdException(FailureText("Cannot open file", path, errno));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        throw EIdException(FailureText("Cannot write file", path, errno));
    if (!S_ISREG(st.st_mode))
        throw EIdException(FailureText("Cannot write file", path, EINVAL));
    std::string line;
    char last = '\n';
    if (st.st_size > 0 && ::pread(fd.Get(), &last, 1, st.st_size - 1) != 1)
        throw EIdException(FailureText("Cannot read file", path, errno));
    if (last != '\n' && last != '\r')
        line = "\r\n";
    for (const std::string& name : names) {
        line += name;
        line += "\r\n";
    }
    // Appended lines change the data and the length only, which is what fdatasync flushes.
    if (!WriteAll(fd.Get(), line) || ::fdatasync(fd.Get()) != 0)
        throw EIdException(FailureText("Cannot write file", path, errno));
    if (::close(fd.Release()) != 0)
        throw EIdException(FailureText("Cannot write file", path, errno));
    if (st.st_size == 0) {
        // A register made just now: make its name in the folder durable too.
        int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
    }
}

void TDownloadedFilesRegister::SaveToFile(const std::string& path) const {
    std::string text;
    for (const std::string& name : names_) {
        text += name;
        text += "\r\n";
    }

    // A fresh, exclusively created file beside the register: rename() within one folder is
    // atomic, and renaming over the path replaces a link planted there instead of following it.
    std::string pattern = path + ".XXXXXX";
    int raw = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (raw < 0)
        throw EIdException(FailureText("Cannot create file", path, errno));
    TFileDescriptor fd(raw);
    const std::string& temporary = pattern;
    auto fail = [&](const char* what) {
        int error = errno;
        ::unlink(temporary.c_str());
        throw EIdException(FailureText(what, path, error));
    };
    if (!WriteAll(fd.Get(), text))
        fail("Cannot write file");
    if (::fsync(fd.Get()) != 0)
        fail("Cannot write file");
    if (::close(fd.Release()) != 0)
        fail("Cannot write file");
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        fail("Cannot create file");

    // Make the rename itself durable; a folder that cannot be synced loses nothing already
    // written, so a failure here is not reported.
    int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

TRegisterAppender::TRegisterAppender(std::string path, TWrite write)
    : path_(std::move(path)), write_(std::move(write)) {}

void TRegisterAppender::Append(const std::string& name) {
    TTicket mine{name, false, {}};
    std::unique_lock lock(mutex_);
    waiting_.push_back(&mine);
    while (!mine.over) {
        if (writing_) {
            written_.wait(lock);
            continue;
        }
        // This write takes every name handed in so far, those of waiting fetches too.
        writing_ = true;
        std::vector<TTicket*> batch;
        batch.swap(waiting_);
        lock.unlock();
        // The tickets stay where they are: their callers wait until this write marks them.
        std::string problem;
        try {
            std::vector<std::string> names;
            names.reserve(batch.size());
            for (const TTicket* ticket : batch)
                names.push_back(ticket->name);
            write_(path_, names);
        } catch (const std::exception& failure) {
            problem = failure.what();
            if (problem.empty())
                problem = "Cannot write file \"" + path_ + "\".";
        }
        lock.lock();
        writing_ = false;
        for (TTicket* ticket : batch) {
            ticket->problem = problem;
            ticket->over = true;
        }
        written_.notify_all();
    }
    if (!mine.problem.empty())
        throw EIdException(mine.problem);
}

size_t TRegisterAppender::Waiting() {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}
