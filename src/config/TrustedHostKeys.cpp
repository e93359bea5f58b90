#include "config/TrustedHostKeys.h"

#include "platform/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace tavrin::hostkeys {
namespace {

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::optional<THostKey> Parse(const std::string& line) {
    std::istringstream words(line);
    THostKey key;
    if (!(words >> key.Hosts) || key.Hosts.front() == '#' || key.Hosts.front() == '@')
        return std::nullopt;
    if (!(words >> key.KeyType >> key.Key))
        return std::nullopt;
    return key;
}

bool SameKey(const THostKey& a, const THostKey& b) {
    return a.Hosts == b.Hosts && a.KeyType == b.KeyType && a.Key == b.Key;
}

// A crash midway leaves the old file or the new one, never half of one.
void Replace(const std::string& path, const std::vector<std::string>& lines) {
    static std::atomic<unsigned> serial{0};
    const std::string temp =
        path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++serial);
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    int error = 0;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        error = errno;
    for (size_t done = 0; fd >= 0 && error == 0 && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (errno != EINTR)
            error = errno;
    }
    if (fd >= 0 && error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (fd >= 0 && ::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        throw std::runtime_error("Unable to write " + path + ": " + fs::SystemErrorText(error));
    }
}

} // namespace

std::vector<THostKey> Load(const std::string& path) {
    std::vector<THostKey> keys;
    for (const std::string& line : ReadLines(path))
        if (auto key = Parse(line))
            keys.push_back(*key);
    return keys;
}

bool Forget(const std::string& path, const THostKey& key) {
    const std::vector<std::string> lines = ReadLines(path);
    std::vector<std::string> kept;
    for (const std::string& line : lines) {
        const auto parsed = Parse(line);
        if (!parsed || !SameKey(*parsed, key))
            kept.push_back(line);
    }
    if (kept.size() == lines.size())
        return false;
    Replace(path, kept);
    return true;
}

} // namespace tavrin::hostkeys
