#pragma once
// Shared by the listing tests: a fixed "today" (15 June 2026, 12:00 local) and a fixed UTC
// offset (+2 hours), so that year inference and machine-listing stamps never depend on when
// or where the tests run; and a readable form of listing dates.
#include "ftp/listing/IdFTPListParseBase.h"
#include "ftp/listing/IdListingClock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace listingtest {

inline TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return tavrin::ComposeDateTime(tavrin::EncodeDate(y, mo, d), tavrin::EncodeTime(h, mi, s, ms));
}

// "2003-01-15 10:30:00.999", or "0" for the zero date the Windows parser falls back to.
inline std::string Stamp(TDateTime value) {
    if (value == 0)
        return "0";
    const tavrin::TDateParts p = tavrin::DecodeDateTime(value);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second, p.millisecond);
    return text;
}

class PinnedClock : public ::testing::Test {
protected:
    void SetUp() override {
        tavrin::PinListingClock(At(2026, 6, 15, 12, 0, 0));
        tavrin::PinLocalUtcOffset(2.0 / 24);
    }
    void TearDown() override {
        tavrin::PinListingClock(std::nullopt);
        tavrin::PinLocalUtcOffset(std::nullopt);
    }
};

// One raw line through one parser, as ParseLines would do it for an entry line.
template <class Entry>
const Entry& ParseOne(TIdFTPListParseClass parser, TIdFTPListItems& entries,
                      const std::string& line, const std::string& path = "") {
    TIdFTPListItem& entry = parser->NewEntry(entries);
    entry.SetRawLine(line);
    EXPECT_TRUE(parser->ParseEntryLine(entry, path)) << line;
    auto* typed = dynamic_cast<const Entry*>(&entry);
    if (!typed)
        throw std::logic_error("wrong entry class for " + line);
    return *typed;
}

inline std::vector<std::string> Names(const TIdFTPListItems& entries) {
    std::vector<std::string> names;
    for (size_t i = 0; i < entries.Count(); ++i)
        names.push_back(entries[i].Name());
    return names;
}

} // namespace listingtest
