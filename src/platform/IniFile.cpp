#include "platform/IniFile.h"

#include "base/StrUtils.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavrin {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

struct Line {
    std::string text; // without its line end
    std::string end;  // "\n", "\r\n", "\r" or "" for a last line without one
};

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::vector<Line> SplitLines(const std::string& contents) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < contents.size()) {
        size_t stop = contents.find_first_of("\r\n", start);
        if (stop == std::string::npos) {
            lines.push_back({contents.substr(start), ""});
            break;
        }
        size_t endLength =
            contents[stop] == '\r' && stop + 1 < contents.size() && contents[stop + 1] == '\n' ? 2
                                                                                               : 1;
        lines.push_back({contents.substr(start, stop - start), contents.substr(stop, endLength)});
        start = stop + endLength;
    }
    return lines;
}

// The text of a line as the parser sees it: a byte-order mark on the first line is no part of
// a name.
std::string_view ParsedText(const std::vector<Line>& lines, size_t index) {
    std::string_view text = lines[index].text;
    if (index == 0 && text.starts_with(kUtf8Bom))
        text.remove_prefix(kUtf8Bom.size());
    return TrimBlanks(text);
}

std::optional<std::string_view> SectionName(std::string_view text) {
    if (!text.starts_with('['))
        return std::nullopt;
    size_t close = text.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return TrimBlanks(text.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view text) {
    if (text.starts_with('['))
        return std::nullopt;
    size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return KeyLine{TrimBlanks(text.substr(0, equals)), TrimBlanks(text.substr(equals + 1))};
}

// Where a section's lines are: its header line and the first line after it that belongs to
// another section (or the line count).
struct SectionRange {
    size_t header;
    size_t end;
};

std::optional<SectionRange> FindSection(const std::vector<Line>& lines,
                                        const std::string& section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionName(ParsedText(lines, i));
        if (!name || !SameTextAscii(*name, section))
            continue;
        size_t end = i + 1;
        while (end < lines.size() && !SectionName(ParsedText(lines, end)))
            ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<Line>& lines, SectionRange range,
                              const std::string& key) {
    for (size_t i = range.header + 1; i < range.end; ++i) {
        auto parsed = ParseKeyLine(ParsedText(lines, i));
        if (parsed && SameTextAscii(parsed->key, key))
            return i;
    }
    return std::nullopt;
}

enum class ReadResult { ok, missing, failed };

ReadResult ReadWholeFile(const std::string& path, std::string& contents) {
    // Non-blocking, so a pipe in the file's place cannot hang the window; only a regular file
    // is a settings file (replacing, say, a device node would be a disaster).
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::failed;
    }
    contents.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return ReadResult::failed;
        }
        if (n == 0)
            break;
        contents.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadResult::ok;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A link to the settings file stays a link: the write goes to the file it points at.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return path;
    return resolved;
}

// Puts `contents` in place of the file at `target` in one step: a temporary file beside it,
// flushed to disk, then renamed over it. An existing file's mode (and owner, where we may) is
// carried over; a new file keeps mkstemp's 0600.
bool ReplaceFile(const std::string& target, const std::string& contents, bool existed) {
    struct stat old {};
    if (existed && ::stat(target.c_str(), &old) != 0)
        return false;
    std::string temp = target + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        // A folder we may not create files in, holding a file we may write: write in place,
        // as the file's own permissions allow.
        if (!existed || (errno != EACCES && errno != EPERM))
            return false;
        int direct = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (direct < 0)
            return false;
        bool ok = WriteAll(direct, contents) && ::fsync(direct) == 0;
        return ::close(direct) == 0 && ok;
    }
    bool ok = true;
    if (existed) {
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
        if (ok && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
            (void)::fchown(fd, old.st_uid, old.st_gid); // only root may; a failure is harmless
    }
    ok = ok && WriteAll(fd, contents) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Names and values that would read back as something else, or forge other lines.
bool Writable(const std::string& section, const std::string& key, const std::string& value) {
    if (TrimBlanks(section).empty() || TrimBlanks(key).empty())
        return false;
    if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value))
        return false;
    return section.find(']') == std::string::npos && key.find('=') == std::string::npos &&
           !TrimBlanks(key).starts_with('[');
}

std::string LineEndOf(const std::vector<Line>& lines) {
    for (const Line& line : lines)
        if (!line.end.empty())
            return line.end;
    return "\n";
}

} // namespace

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
    std::string contents;
    if (ReadWholeFile(fileName_, contents) != ReadResult::ok)
        return fallback;
    std::vector<Line> lines = SplitLines(contents);
    auto range = FindSection(lines, section);
    if (!range)
        return fallback;
    auto index = FindKey(lines, *range, key);
    if (!index)
        return fallback;
    std::string_view value = ParseKeyLine(ParsedText(lines, *index))->value;
    value = value.substr(0, value.find('\0'));
    return std::string(value.substr(0, kValueBufferSize - 1));
}

bool TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    if (!Writable(section, key, value))
        return false;
    const std::string target = ResolveTarget(fileName_);
    std::string contents;
    ReadResult read = ReadWholeFile(target, contents);
    if (read == ReadResult::failed)
        return false; // never replace a file we could not read
    std::vector<Line> lines = SplitLines(contents);
    const std::string end = LineEndOf(lines);

    auto insertAt = [&](size_t index, std::string text) {
        if (index > 0 && lines[index - 1].end.empty())
            lines[index - 1].end = end;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(index),
                     Line{std::move(text), end});
    };

    if (auto range = FindSection(lines, section)) {
        if (auto index = FindKey(lines, *range, key)) {
            // Keep the key as the file spells it; only the value changes.
            std::string_view text = lines[*index].text;
            lines[*index].text = std::string(text.substr(0, text.find('='))) + "=" + value;
        } else {
            // After the section's last non-blank line, so a blank line before the next
            // section stays where it is.
            size_t at = range->end;
            while (at > range->header + 1 && ParsedText(lines, at - 1).empty())
                --at;
            insertAt(at, key + "=" + value);
        }
    } else {
        insertAt(lines.size(), "[" + section + "]");
        insertAt(lines.size(), key + "=" + value);
    }

    std::string out;
    out.reserve(contents.size() + key.size() + value.size() + section.size() + 8);
    for (const Line& line : lines)
        out += line.text + line.end;
    return ReplaceFile(target, out, read == ReadResult::ok);
}

std::vector<std::string> TIniFile::ReadSections() const {
    std::vector<std::string> sections;
    std::string contents;
    if (ReadWholeFile(fileName_, contents) != ReadResult::ok)
        return sections;
    std::vector<Line> lines = SplitLines(contents);
    for (size_t i = 0; i < lines.size(); ++i)
        if (auto name = SectionName(ParsedText(lines, i)))
            sections.emplace_back(*name);
    return sections;
}

namespace {

// Reads the file, lets `change` edit its lines and puts it back; `change` returns false to
// leave the file alone (nothing to do, or a refusal: `changed` says which).
bool EditLines(const std::string& fileName,
               const std::function<bool(std::vector<Line>& lines, bool& changed)>& change) {
    const std::string target = ResolveTarget(fileName);
    std::string contents;
    ReadResult read = ReadWholeFile(target, contents);
    if (read == ReadResult::failed)
        return false;
    std::vector<Line> lines = SplitLines(contents);
    bool changed = false;
    if (!change(lines, changed))
        return !changed;
    std::string out;
    for (const Line& line : lines)
        out += line.text + line.end;
    return ReplaceFile(target, out, read == ReadResult::ok);
}

} // namespace

bool TIniFile::EraseSection(const std::string& section) {
    return EditLines(fileName_, [&section](std::vector<Line>& lines, bool& changed) {
        auto range = FindSection(lines, section);
        if (!range)
            return false; // nothing to remove: done
        changed = true;
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->header),
                    lines.begin() + static_cast<std::ptrdiff_t>(range->end));
        return true;
    });
}

bool TIniFile::RenameSection(const std::string& from, const std::string& to) {
    if (!Writable(to, "k", "") || TrimBlanks(to) != to)
        return false;
    return EditLines(fileName_, [&](std::vector<Line>& lines, bool& changed) {
        changed = true; // every early way out is a refusal
        auto range = FindSection(lines, from);
        if (!range)
            return false;
        if (!SameTextAscii(from, to) && FindSection(lines, to))
            return false;
        std::string& text = lines[range->header].text;
        const size_t open = text.find('[');
        const size_t close = text.find(']', open);
        text = text.substr(0, open + 1) + to + text.substr(close);
        return true;
    });
}

} // namespace tavrin
