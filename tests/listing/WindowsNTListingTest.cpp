#include "ListingTestSupport.h"

#include "ftp/listing/IdFTPListParseUnix.h"
#include "ftp/listing/IdFTPListParseWindowsNT.h"

using namespace listingtest;
using Names_ = std::vector<std::string>;

namespace {

struct NtRow {
    const char* line;
    EntryKind kind;
    const char* name;
    int64_t size;
    const char* modified;
};

// "Today" is in 2026, so two-digit years up to 50 are 20xx.
const NtRow kNtRows[] = {
    // Classic directory line: ten spaces after <DIR>.
    {"01-15-03  10:30AM       <DIR>          docs", ekDirectory, "docs", 0,
     "2003-01-15 10:30:00.000"},
    // Thousands separators in sizes; PM adds twelve hours.
    {"01-15-03  02:05PM                 1,234 report.txt", ekFile, "report.txt", 1234,
     "2003-01-15 14:05:00.000"},
    // 12 AM is just after midnight, 12 PM just after noon.
    {"01-15-03  12:30AM                   10 midnight.txt", ekFile, "midnight.txt", 10,
     "2003-01-15 00:30:00.000"},
    {"01-15-03  12:30PM                   10 noon.txt", ekFile, "noon.txt", 10,
     "2003-01-15 12:30:00.000"},
    // The two-digit year window: 99 and 51 are last century, 50 this one.
    {"12-31-99  11:59PM                   10 y99", ekFile, "y99", 10, "1999-12-31 23:59:00.000"},
    {"01-01-51  01:00AM                   10 y51", ekFile, "y51", 10, "1951-01-01 01:00:00.000"},
    {"01-01-50  01:00AM                   10 y50", ekFile, "y50", 10, "2050-01-01 01:00:00.000"},
    // Four-digit years make the line longer.
    {"01-15-2003  10:30AM       <DIR>          long-year", ekDirectory, "long-year", 0,
     "2003-01-15 10:30:00.000"},
    // Year first with a 24-hour clock.
    {"2003-01-15  10:30  1234 data.bin", ekFile, "data.bin", 1234, "2003-01-15 10:30:00.000"},
    // Slashes instead of dashes.
    {"01/15/03  10:30AM                   10 slashes", ekFile, "slashes", 10,
     "2003-01-15 10:30:00.000"},
    // A 24-hour clock without AM/PM.
    {"01-15-03  14:05                   10 h24", ekFile, "h24", 10, "2003-01-15 14:05:00.000"},
    // Leading and inner spaces belong to the name.
    {"01-15-03  10:30AM                  512  leading  space.txt", ekFile, " leading  space.txt",
     512, "2003-01-15 10:30:00.000"},
    {"01-15-03  10:30AM       <DIR>          dir with  spaces", ekDirectory, "dir with  spaces", 0,
     "2003-01-15 10:30:00.000"},
    {"01-15-03  10:30AM       <dir>          lower", ekDirectory, "lower", 0,
     "2003-01-15 10:30:00.000"},
    // Dates and times that do not exist leave the date 0 but keep the entry.
    {"13-45-03  10:30AM                   10 bad-date.txt", ekFile, "bad-date.txt", 10, "0"},
    {"01-15-03  25:00PM                   10 bad-time.txt", ekFile, "bad-time.txt", 10, "0"},
    // Sizes that are no number count as 0.
    {"01-15-03  10:30AM                 12ab odd-size", ekFile, "odd-size", 0,
     "2003-01-15 10:30:00.000"},
    // Digits only for the time: read as hours and minutes.
    {"01-15-03  1030AM                   10 nosep", ekFile, "nosep", 10, "2003-01-15 10:30:00.000"},
};

class NtLines : public PinnedClock, public ::testing::WithParamInterface<NtRow> {};

TEST_P(NtLines, ParseAsListed) {
    const NtRow& row = GetParam();
    TIdFTPListItems entries;
    const auto& entry =
        ParseOne<TIdWindowsNTFTPListItem>(TIdFTPLPWindowsNT::Class(), entries, row.line);
    EXPECT_EQ(entry.Kind(), row.kind);
    EXPECT_EQ(entry.Name(), row.name);
    EXPECT_EQ(entry.ByteSize(), row.size);
    EXPECT_EQ(entry.ByteSizeKnown(), row.kind != ekDirectory);
    EXPECT_EQ(Stamp(entry.Modified()), row.modified);
    EXPECT_EQ(entry.ModeText(), "");
    EXPECT_EQ(entry.ModifiedKnown(), std::string(row.modified) != "0");
}

INSTANTIATE_TEST_SUITE_P(Table, NtLines, ::testing::ValuesIn(kNtRows));

using NtSamples = PinnedClock;

const std::vector<std::string> kIisListing = {
    "01-15-03  10:30AM       <DIR>          docs",
    "01-15-03  02:05PM                 1,234 report.txt",
    "03-02-24  09:00AM            104857600 backup 2024.zip",
    "11-30-98  11:15PM                    0 EMPTY.LOG",
};

TEST_F(NtSamples, IisListing) {
    EXPECT_TRUE(TIdFTPLPWindowsNT::Class()->Recognizes(kIisListing, "", true));
    EXPECT_FALSE(TIdFTPLPUnix::Class()->Recognizes(kIisListing, "", true));
    TIdFTPListItems entries;
    ASSERT_TRUE(TIdFTPLPWindowsNT::Class()->ParseLines(kIisListing, entries));
    EXPECT_EQ(Names(entries), (Names_{"docs", "report.txt", "backup 2024.zip", "EMPTY.LOG"}));
    EXPECT_EQ(entries[2].ByteSize(), 104857600);
    EXPECT_EQ(entries[3].LocalName(), "empty.log");
    EXPECT_EQ(Stamp(entries[3].Modified()), "1998-11-30 23:15:00.000");
}

TEST_F(NtSamples, RecursiveListing) {
    const std::vector<std::string> lines = {
        ".:",
        "01-15-03  10:30AM                   10 x",
        "",
        "sub:",
        "01-15-03  10:30AM                   10 x",
        "01-15-03  10:30AM       <DIR>          deeper",
    };
    TIdFTPListItems entries;
    TIdFTPLPWindowsNT::Class()->ParseLines(lines, entries);
    EXPECT_EQ(Names(entries), (Names_{"x", "sub\\x", "sub\\deeper"}));
    EXPECT_EQ(entries[1].LocalName(), "x");
    EXPECT_EQ(entries[2].LocalName(), "deeper");
}

// A line with the size right-aligned in column 38 and a lone "F" or "D" as third column, the
// shape some other servers use.
std::string FlaggedLine(const std::string& flag) {
    std::string line = "01-15-03 10:30 " + flag;
    line.resize(34, ' ');
    return line + "1234 name";
}

TEST_F(NtSamples, Recognition) {
    const TIdFTPLPWindowsNT* nt = TIdFTPLPWindowsNT::Class();
    EXPECT_TRUE(nt->Recognizes({FlaggedLine("x")}, "", true));
    // Every qualifying line has the flag column: another server's format.
    EXPECT_FALSE(nt->Recognizes({FlaggedLine("F"), FlaggedLine("D")}, "", true));
    // The last qualifying line decides.
    EXPECT_TRUE(nt->Recognizes({FlaggedLine("F"), FlaggedLine("x")}, "", true));
    EXPECT_FALSE(nt->Recognizes({FlaggedLine("x"), FlaggedLine("F")}, "", true));
    // Lines without a date do not count either way.
    EXPECT_TRUE(nt->Recognizes({kIisListing[0], "garbage", "", "sub:"}, "", true));
    EXPECT_FALSE(nt->Recognizes({"hello", "-rw-r--r-- 1 u g 1 Jan 15 10:30 f"}, "", true));
    EXPECT_FALSE(nt->Recognizes({}, "", true));
    // A size of -1 says nothing.
    std::string minusOne = "01-15-03 10:30";
    minusOne.resize(36, ' ');
    EXPECT_FALSE(nt->Recognizes({minusOne + "-1 x"}, "", true));
}

} // namespace
