#include "export/UploadNote.h"

#include "config/ConfigPaths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

// Appended lines a note may gather beyond twice the names it holds before it is written whole
// again: a long burst keeps the note small, and the rewrite is rare.
constexpr size_t kMostExtraLines = 512;

// The state folder is where the known-servers file lives.
std::string StateFolder() {
    const std::string known = tavrin::KnownServersFilePath();
    return known.substr(0, known.rfind('/'));
}

bool WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

} // namespace

TUploadNote::TUploadNote(const std::string& monitorName) {
    std::string file = monitorName;
    for (char& c : file)
        if (c == '/')
            c = '_';
    path_ = StateFolder() + "/" + file + ".uploading";
}

std::string TUploadNote::Write(const std::string& folder,
                               const std::vector<std::string>& names) const {
    if (names.empty()) {
        Clear();
        return {};
    }
    // Written beside it and renamed over it, each step on disk before the next, so that after
    // a crash the note is either the old one or the new one, whole.
    const std::string folderPath = StateFolder();
    if (!tavrin::ForceDirectories(folderPath))
        return "cannot create " + folderPath + ": " + std::strerror(errno);
    const std::string temporary = path_ + ".new";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return "cannot write " + temporary + ": " + std::strerror(errno);
    std::string text = folder + "\n";
    for (const std::string& name : names)
        text += name + "\n";
    const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path_.c_str()) != 0) {
        const int why = written ? errno : error;
        ::unlink(temporary.c_str());
        return "cannot write " + path_ + ": " + std::strerror(why);
    }
    if (int dir = ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir); // the rename itself
        ::close(dir);
    }
    return {};
}

std::string TUploadNote::Append(const std::vector<std::string>& over,
                                const std::vector<std::string>& started) const {
    // Never made here: a note that is gone holds nothing to add to.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return "cannot write " + path_ + ": " + std::strerror(errno);
    std::string text;
    for (const std::string& name : over)
        text += "/" + name + "\n";
    for (const std::string& name : started)
        text += name + "\n";
    // The note already has its name in the folder: the data and its length are all to flush.
    const bool written = WriteAll(fd, text) && ::fdatasync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!written)
        return "cannot write " + path_ + ": " + std::strerror(error);
    return {};
}

void TUploadNote::Clear() const {
    ::unlink(path_.c_str());
}

std::vector<std::string> TUploadNote::Read(const std::string& folder) const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    std::string text = content.str();
    // A last line without its line break was being appended when the run ended: its upload
    // had not started, so it is left out.
    const size_t lastBreak = text.rfind('\n');
    if (lastBreak == std::string::npos)
        return {};
    text.resize(lastBreak + 1);
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    // The folder and at least one line after it, none of them empty; anything else is no note
    // of ours.
    if (lines.size() < 2 || lines.front() != folder)
        return {};
    std::vector<std::string> names;
    for (size_t at = 1; at < lines.size(); ++at) {
        const std::string& line = lines[at];
        if (line.empty())
            return {};
        if (line.front() == '/')
            std::erase(names, line.substr(1));
        else if (std::find(names.begin(), names.end(), line) == names.end())
            names.push_back(line);
    }
    return names;
}

TNotedUploads::TNotedUploads(const TUploadNote& note, std::string folder,
                             std::vector<std::string> earlier)
    : note_(note), folder_(std::move(folder)), names_(std::move(earlier)) {}

std::string TNotedUploads::Add(const std::string& name) {
    std::unique_lock lock(mutex_);
    std::erase(over_, name); // over and started again: it is to be sent once more
    if (std::find(names_.begin(), names_.end(), name) == names_.end()) {
        names_.push_back(name);
        started_.push_back(name);
    }
    const uint64_t mine = ++wanted_;
    while (durable_ < mine) {
        if (writing_) {
            written_.wait(lock);
            continue;
        }
        // This write takes every name added so far, the ones of waiting uploads too.
        writing_ = true;
        const uint64_t covers = wanted_;
        const std::vector<std::string> over = std::move(over_), started = std::move(started_);
        over_.clear();
        started_.clear();
        const size_t appended = over.size() + started.size();
        const bool whole =
            !appendable_ || linesOnDisk_ + appended > 2 * names_.size() + kMostExtraLines;
        const std::vector<std::string> names = names_;
        lock.unlock();
        bool wroteWhole = whole;
        std::string problem = whole ? note_.Write(folder_, names) : note_.Append(over, started);
        if (!problem.empty() && !whole) {
            // Gone or cut off in the middle of a line: the whole note replaces it.
            wroteWhole = true;
            problem = note_.Write(folder_, names);
        }
        lock.lock();
        writing_ = false;
        durable_ = covers;
        // After a failure the note may end in a piece of a line: the next write starts afresh.
        appendable_ = problem.empty() && !names.empty();
        linesOnDisk_ = wroteWhole ? names.size() + 1 : linesOnDisk_ + appended;
        problem_ = std::move(problem);
        if (names_.empty()) {
            note_.Clear(); // everything ended during the write
            appendable_ = false;
            over_.clear();
        }
        written_.notify_all();
    }
    return problem_;
}

void TNotedUploads::Remove(const std::string& name) {
    std::lock_guard lock(mutex_);
    const auto at = std::find(names_.begin(), names_.end(), name);
    if (at == names_.end())
        return;
    names_.erase(at);
    // A write in progress clears the note itself when it finds nothing left.
    if (names_.empty() && !writing_) {
        note_.Clear();
        appendable_ = false;
        over_.clear();
        return;
    }
    over_.push_back(name);
}
