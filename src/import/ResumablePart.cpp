#include "import/ResumablePart.h"

#include "platform/FileSystem.h"
#include "remote/RemoteSession.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kLongestFileName = 255;

int64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : -1;
}

// The stamp's text; %.17g gives back the very same double when read.
std::string StampText(int64_t size, double time) {
    char text[96];
    std::snprintf(text, sizeof text, "size %lld\ntime %.17g\n", static_cast<long long>(size), time);
    return text;
}

bool WriteAndSync(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                    ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

} // namespace

TResumablePart::TResumablePart(std::string partPath, const tavrin::remote::TRemoteEntry& entry,
                               bool enabled)
    : part_(std::move(partPath)), stamp_(StampPath(part_)) {
    wanted_ = enabled && entry.sizeKnown && entry.modifiedKnown && entry.size > 0;
    listedSize_ = entry.size;
    listedTime_ = entry.modified;
    if (wanted_ && StampMatches()) {
        const int64_t kept = FileSize(part_);
        goOn_ = kept > 0 && kept < listedSize_;
        sizeBefore_ = goOn_ ? kept : 0;
    }
    if (!goOn_)
        ::unlink(stamp_.c_str());
}

bool TResumablePart::StampMatches() const {
    std::FILE* file = std::fopen(stamp_.c_str(), "re");
    if (!file)
        return false;
    char text[96] = {};
    const size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    return std::string(text, length) == StampText(listedSize_, listedTime_);
}

void TResumablePart::AfterFailure(bool serverCanResume) noexcept {
    const int64_t size = FileSize(part_);
    const bool keep = wanted_ && serverCanResume && size > sizeBefore_ && size < listedSize_;
    // The part's bytes reach the disk before the stamp vouches for them.
    if (keep && tavrin::fs::SyncFile(part_) &&
        WriteAndSync(stamp_, StampText(listedSize_, listedTime_)))
        return;
    // A part that cannot be used again would only fill the disk for the files after it.
    RemoveBoth();
}

void TResumablePart::Forget() noexcept {
    ::unlink(stamp_.c_str());
}

void TResumablePart::RemoveBoth() noexcept {
    ::unlink(part_.c_str());
    ::unlink(stamp_.c_str());
}

std::string TResumablePart::StampPath(const std::string& partPath) {
    const size_t slash = partPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : partPath.substr(0, slash);
    const std::string name = slash == std::string::npos ? partPath : partPath.substr(slash + 1);
    const std::string suffix = ".resume";
    if (name.size() + suffix.size() <= kLongestFileName)
        return folder + "/" + name + suffix;
    uint64_t hash = 1469598103934665603ull; // FNV-1a: the same name gives the same stamp
    for (unsigned char c : name)
        hash = (hash ^ c) * 1099511628211ull;
    char text[32];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return folder + "/.part-" + text + suffix;
}
