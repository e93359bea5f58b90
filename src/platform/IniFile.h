#pragma once
// A small INI reader and writer: sections in square brackets, "key=value" lines.
//
// Every call works on the file as it is on disk at that moment: a read opens and parses the
// file, a write changes one key and puts the whole file back at once. Section and key names
// match without regard to ASCII case; keys and sections the caller never names stay as they
// are, comments and blank lines included. Values are stored as they stand (no quoting, no
// escaping); blanks around names and values are not part of them.
#include <cstddef>
#include <string>
#include <vector>

namespace tavrin {

class TIniFile {
public:
    // Values are read into a buffer of this many bytes, the terminator included, so at most
    // kValueBufferSize - 1 characters of a stored value are ever seen.
    static constexpr size_t kValueBufferSize = 2048;

    explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string& FileName() const { return fileName_; }

    // The stored value of section/key (at most 2047 characters, cut at a NUL), or `fallback`
    // when the file, the section or the key is missing. An unreadable file reads as missing.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const;

    // Writes one key at once. The file and the section are created by the first write; a file
    // created here is readable and writable by its owner only, an existing file keeps its mode.
    // The new contents go to a temporary file in the same folder that then replaces the old
    // one, so a failure midway never leaves a cut-off file. False when the write failed, or
    // when a name or the value holds a line break or NUL (it would forge other keys), a key
    // holds "=" or a section "]". The folder must exist.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);

    // The section names in the order of the file, as the file spells them (a name that appears
    // twice is listed twice). A missing or unreadable file has none.
    std::vector<std::string> ReadSections() const;
    // Removes the section's header and lines up to the next section (the first section of that
    // name). True when the file no longer has it, also when it never had it.
    bool EraseSection(const std::string& section);
    // Gives the section's header the new name; its lines stay as they are. False when the
    // section is missing, `to` is no writable name or another section is named `to` already.
    bool RenameSection(const std::string& from, const std::string& to);

private:
    std::string fileName_;
};

} // namespace tavrin
