#pragma once
// Turns fuzzer bytes into listing lines the way the client hands them over: split at LF,
// a CR before it dropped. A bad line costs only that line, so anything that escapes a parse,
// and every sanitizer report, is a finding.
#include "ftp/listing/IdFTPListParseBase.h"
#include "ftp/listing/IdListingClock.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzinput {

inline std::vector<std::string> Lines(const uint8_t* data, size_t size) {
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            if (!current.empty() && current.back() == '\r')
                current.pop_back();
            lines.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        lines.push_back(std::move(current));
    return lines;
}

// A fixed today and zone, so a finding replays the same way on any day.
inline void PinClock() {
    static const bool pinned = [] {
        tavrin::PinListingClock(tavrin::EncodeDate(2026, 6, 15) + 0.5);
        tavrin::PinLocalUtcOffset(2.0 / 24);
        return true;
    }();
    (void)pinned;
}

// Detection, then a full parse, checking what every entry must satisfy.
inline void Exercise(TIdFTPListParseClass parser, const std::vector<std::string>& lines) {
    PinClock();
    (void)parser->Recognizes(lines, "", true);
    TIdFTPListItems entries;
    parser->ParseLines(lines, entries);
    size_t nonEmpty = 0;
    for (const std::string& line : lines)
        nonEmpty += line.empty() ? 0 : 1;
    if (entries.Count() + entries.SkippedLineCount() > nonEmpty)
        __builtin_trap();
    for (size_t i = 0; i < entries.Count(); ++i) {
        const TIdFTPListItem& entry = entries[i];
        if (entry.RawLine().empty() || entry.Kind() > ekSocket)
            __builtin_trap();
        if (!entry.ModifiedKnown() && entry.Modified() != 0)
            __builtin_trap();
    }
}

} // namespace fuzzinput
