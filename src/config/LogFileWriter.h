#pragma once
// Appends activity-log lines to a file for a record that outlives the window: one line per
// entry, "<ISO-8601 local time> <direction> <message>", written to the system at once so a
// crash loses nothing. When a line would take the file past the size limit, the file becomes
// <name>.1 (older ones move up to .5, the oldest goes) and a new one is started.
//
// No Qt here: the service program writes its log with the same class.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin {

class TLogFileWriter {
public:
    static constexpr uint64_t kDefaultRotateBytes = 10ull * 1024 * 1024;
    static constexpr int kDefaultKeptFiles = 5;

    explicit TLogFileWriter(std::string path, uint64_t rotateBytes = kDefaultRotateBytes,
                            int keptFiles = kDefaultKeptFiles);
    ~TLogFileWriter();
    TLogFileWriter(const TLogFileWriter&) = delete;
    TLogFileWriter& operator=(const TLogFileWriter&) = delete;

    // A shown line ("Import > text", "Export > text" or a line without a direction) and the
    // moment it was written. False when it could not be written; Error() then says why.
    bool Write(std::string_view line, std::chrono::system_clock::time_point when);

    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }

    // "2026-12-09T14:03:07.250+01:00": local time with its offset from UTC.
    static std::string TimeStamp(std::chrono::system_clock::time_point when);
    // The file line for a shown line, without the time stamp and the line end.
    static std::string Record(std::string_view line);

private:
    bool Open();
    bool Rotate();
    bool Fail(const std::string& what, int error);

    std::string path_;
    uint64_t rotateBytes_;
    int keptFiles_;
    int fd_ = -1;
    uint64_t size_ = 0;
    std::string error_;
};

} // namespace tavrin
