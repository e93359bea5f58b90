#include "config/TrustedHostKeys.h"

#include "platform/FileSystem.h"

#include <cerrno>
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
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    if (const int error = fs::ReplaceFilePrivately(path, text); error != 0)
        throw std::runtime_error("Unable to write " + path + ": " + fs::SystemErrorText(error));
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
