#pragma once
// The names of files the import monitor has already downloaded, so a file left on the server
// is fetched only once. Names stay in file order (then download order) for saving; a hash set
// of the same names answers "downloaded before?" without walking the whole list, which
// matters once users have left the monitor running for months.
#include "import/NameSet.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
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
    // As AppendToFile for several names at once: one write, one flush to disk.
    static void AppendToFile(const std::string& path, const std::vector<std::string>& names);

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

// Appends names to one register file for several fetches at once. Each name is on disk when
// Append returns; names handed in while a write is in flight share the next write and its
// flush, so parallel fetches do not queue behind one flush each.
class TRegisterAppender {
public:
    // Writes names to the file and flushes them to disk, raising on failure.
    using TWrite = std::function<void(const std::string& path, const std::vector<std::string>&)>;
    explicit TRegisterAppender(std::string path, TWrite write = Appended);
    TRegisterAppender(const TRegisterAppender&) = delete;
    TRegisterAppender& operator=(const TRegisterAppender&) = delete;

    // Raises EIdException when the write that carried `name` failed.
    void Append(const std::string& name);
    // Names handed in that no write has taken yet.
    size_t Waiting();

private:
    static void Appended(const std::string& path, const std::vector<std::string>& names) {
        TDownloadedFilesRegister::AppendToFile(path, names);
    }

    // One caller's name and, once a write took it, how that write went.
    struct TTicket {
        const std::string& name;
        bool over = false;
        std::string problem;
    };
    const std::string path_;
    const TWrite write_;
    std::mutex mutex_;
    std::condition_variable written_;
    std::vector<TTicket*> waiting_; // handed in, not yet taken by a write
    bool writing_ = false;
};
