#pragma once
// The names of files the import monitor has already downloaded, so a file left on the server
// is fetched only once. Names stay in file order (then download order) for saving; a hash set
// of the same names answers "downloaded before?" without walking the whole list, which
// matters once users have left the monitor running for months.
#include "import/NameSet.h"

#include <string>
#include <string_view>
#include <vector>

class TDownloadedFilesRegister {
public:
    // Replaces the contents by the lines of the file. Returns false (and leaves the register
    // empty) when there is no file at the path; any other failure raises EIdException.
    bool LoadIfPresent(const std::string& path);
    // Writes every name followed by CR LF. The new text goes to a fresh file in the same
    // folder, is flushed to disk and then renamed over the old one, so a failed save leaves
    // the previous register whole. Raises EIdException on failure.
    void SaveToFile(const std::string& path) const;

    // Appends one name and CR LF to the file (made when absent) and flushes it to disk, so a
    // name is remembered even when the program never gets to its full save. A file whose
    // last line has no line end gets one first. Raises EIdException on failure.
    static void AppendToFile(const std::string& path, const std::string& name);

    // Whole-name comparison, byte for byte: INVOICE.PDF and invoice.pdf are two files on this
    // system, and both must be fetched.
    bool Contains(const std::string& name) const;
    // Appends without looking for duplicates; the caller looked the name up before.
    void Add(const std::string& name);
    void Clear();

    size_t Count() const { return names_.size(); }
    const std::vector<std::string>& Names() const { return names_; }

    // Lines of a register text: split at CR, LF or CR LF; a NUL ends the text; a last line
    // without a line end counts; a blank line is an empty name.
    static std::vector<std::string> SplitLines(std::string_view text);

private:
    std::vector<std::string> names_;
    TNameSet set_;
};
