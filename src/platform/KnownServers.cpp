#include "platform/KnownServers.h"

#include "platform/FileSystem.h"

#include <cctype>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::known {
namespace {

// Both monitors and the settings page may change the file at the same time.
std::mutex& FileLock() {
    static std::mutex lock;
    return lock;
}

const char* const kHeader = "# Servers whose TLS certificate Tavrin trusted on first use:\n"
                            "# host:port SHA-256 fingerprint. Remove a line to trust that "
                            "server's next certificate.\n";

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool ParseLine(const std::string& line, Entry& entry) {
    std::istringstream words(line);
    if (!(words >> entry.Server) || entry.Server.front() == '#' || !(words >> entry.Fingerprint))
        return false;
    return true;
}

std::runtime_error WriteFailure(const std::string& path, int error) {
    return std::runtime_error("Unable to write " + path + ": " + fs::SystemErrorText(error));
}

void MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (!fs::DirectoryExists(folder) && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            throw WriteFailure(path, errno);
    }
}

// Never half a file: the old one or the new one.
void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
    MakeFolders(path);
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    if (const int error = fs::ReplaceFilePrivately(path, text); error != 0)
        throw WriteFailure(path, error);
}

} // namespace

std::string ServerKey(const std::string& host, int port) {
    std::string lower;
    for (char c : host)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find(':') != std::string::npos && lower.front() != '[')
        lower = "[" + lower + "]";
    return lower + ":" + std::to_string(port);
}

std::vector<Entry> Load(const std::string& path) {
    std::lock_guard<std::mutex> guard(FileLock());
    std::vector<Entry> entries;
    for (const std::string& line : ReadLines(path))
        if (Entry entry; ParseLine(line, entry))
            entries.push_back(entry);
    return entries;
}

std::string Find(const std::string& path, const std::string& server) {
    for (const Entry& entry : Load(path))
        if (entry.Server == server)
            return entry.Fingerprint;
    return std::string();
}

std::string RememberIfNew(const std::string& path, const std::string& server,
                          const std::string& fingerprint) {
    std::lock_guard<std::mutex> guard(FileLock());
    std::vector<std::string> lines = ReadLines(path);
    for (const std::string& line : lines)
        if (Entry entry; ParseLine(line, entry) && entry.Server == server)
            return entry.Fingerprint;
    if (lines.empty()) {
        std::istringstream header(kHeader);
        for (std::string line; std::getline(header, line);)
            lines.push_back(line);
    }
    lines.push_back(server + " " + fingerprint);
    WriteLines(path, lines);
    return std::string();
}

bool Forget(const std::string& path, const std::string& server) {
    std::lock_guard<std::mutex> guard(FileLock());
    std::vector<std::string> lines = ReadLines(path);
    std::vector<std::string> kept;
    for (const std::string& line : lines)
        if (Entry entry; !ParseLine(line, entry) || entry.Server != server)
            kept.push_back(line);
    if (kept.size() == lines.size())
        return false;
    WriteLines(path, kept);
    return true;
}

} // namespace tavrin::known
