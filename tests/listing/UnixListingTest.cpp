#include "ListingTestSupport.h"

#include "ftp/listing/IdFTPListParseUnitree.h"
#include "ftp/listing/IdFTPListParseUnix.h"

using namespace listingtest;

namespace {

struct UnixRow {
    const char* line;
    EntryKind kind;
    const char* name;
    int64_t size;
    const char* modified;
};

// "Today" is 15 June 2026 (PinnedClock).
const UnixRow kUnixRows[] = {
    // Plain directory; no year, so this year since 15 January is not after today.
    {"drwxr-xr-x   2 owner  group   4096 Jan 15 10:30 docs", ekDirectory, "docs", 4096,
     "2026-01-15 10:30:00.999"},
    // Year instead of a time: midnight plus 999 ms; the name keeps its inner space.
    {"-rw-r--r--   1 owner  group  120 Mar  3  2001 my file.txt", ekFile, "my file.txt", 120,
     "2001-03-03 00:00:00.999"},
    // A month after this one without a year is from last year.
    {"-rw-r--r-- 1 owner group 10 Dec  1 10:30 december.log", ekFile, "december.log", 10,
     "2025-12-01 10:30:00.999"},
    // This month but a later day: also last year; today itself is this year.
    {"-rw-r--r-- 1 owner group 10 Jun 16 08:00 tomorrow.log", ekFile, "tomorrow.log", 10,
     "2025-06-16 08:00:00.999"},
    {"-rw-r--r-- 1 owner group 10 Jun 15 08:00 today.log", ekFile, "today.log", 10,
     "2026-06-15 08:00:00.999"},
    // Month names in any case.
    {"-rw-r--r-- 1 owner group 10 jan 15 10:30 lower-month", ekFile, "lower-month", 10,
     "2026-01-15 10:30:00.999"},
    // Link to a directory: the trailing "/" of the target says so and is dropped.
    {"lrwxrwxrwx 1 root root 7 Feb 1 2002 lib -> usr/lib/", ekSymbolicLinkDir, "lib", 7,
     "2002-02-01 00:00:00.999"},
    {"lrwxrwxrwx 1 root root 8 Feb 1 2002 latest -> data.csv", ekSymbolicLink, "latest", 8,
     "2002-02-01 00:00:00.999"},
    // A link without an arrow keeps its whole name.
    {"lrwxrwxrwx 1 root root 8 Feb 1 2002 dangling", ekSymbolicLink, "dangling", 8,
     "2002-02-01 00:00:00.999"},
    // An arrow in the name of a plain file is part of the name.
    {"-rw-r--r-- 1 owner group 3 Feb 1 2002 a -> b", ekFile, "a -> b", 3,
     "2002-02-01 00:00:00.999"},
    // Devices show major, minor instead of a size.
    {"crw-rw-rw- 1 root sys 13, 2 Apr 7 2004 null", ekCharDevice, "null", 0,
     "2004-04-07 00:00:00.999"},
    {"brw-rw---- 1 root disk   8,   0 Apr  7  2004 sda", ekBlockDevice, "sda", 0,
     "2004-04-07 00:00:00.999"},
    {"prw-r--r-- 1 owner group 0 Jan 15 10:30 fifo", ekFifo, "fifo", 0, "2026-01-15 10:30:00.999"},
    {"srwxrwxrwx 1 owner group 0 Jan 15 10:30 socket", ekSocket, "socket", 0,
     "2026-01-15 10:30:00.999"},
    // Inode number and block count in front (ls -is).
    {"12345 8 -rw-r--r-- 1 u g 10 May 1 1999 x", ekFile, "x", 10, "1999-05-01 00:00:00.999"},
    // ISO dates keep their year, also with a time.
    {"-rw-r--r-- 1 o g 512 2003-01-15 10:30 iso.txt", ekFile, "iso.txt", 512,
     "2003-01-15 10:30:00.999"},
    // Year, day, month: a first number above 12 is the day.
    {"-rw-r--r-- 1 o g 512 2003/15/01 10:30 dayfirst", ekFile, "dayfirst", 512,
     "2003-01-15 10:30:00.999"},
    // Slashed two-digit years are not widened: the year is literally 3.
    {"-rw-r--r-- 1 o g 512 01/15/03 slashed", ekFile, "slashed", 512, "0003-01-15 00:00:00.999"},
    // Full time followed by a year (ls --full-time style).
    {"-rw-r--r-- 1 owner group 120 Jan 15 10:30:45 2003 full-time.txt", ekFile, "full-time.txt",
     120, "2003-01-15 10:30:45.999"},
    // Only one space goes with the time: names may begin with spaces.
    {"-rw-r--r-- 1 owner group 10 Jan 15 10:30   leading.txt", ekFile, "  leading.txt", 10,
     "2026-01-15 10:30:00.999"},
    // ls -F markers are not part of the name.
    {"-rwxr-xr-x 1 owner group 10 Jan 15 10:30 run.sh*", ekFile, "run.sh", 10,
     "2026-01-15 10:30:00.999"},
    {"drwxr-xr-x 2 owner group 10 Jan 15 10:30 marked/", ekDirectory, "marked", 10,
     "2026-01-15 10:30:00.999"},
    // Sizes beyond 32 bits.
    {"-rw-r--r-- 1 o g 5368709120 Jan 15 10:30 big.iso", ekFile, "big.iso", 5368709120LL,
     "2026-01-15 10:30:00.999"},
    // No link count, owner or group.
    {"drwxr-xr-x folder 0 Jan 15 10:30 Mac style", ekDirectory, "Mac style", 0,
     "2026-01-15 10:30:00.999"},
    // Size right after the link count.
    {"-rw-r--r-- 1 512 Jan 15 10:30 bare.txt", ekFile, "bare.txt", 512, "2026-01-15 10:30:00.999"},
    // The group is missing: its place holds the size.
    {"-rw-r--r-- 1 owner 512 Jan 15 10:30 no-group.txt", ekFile, "no-group.txt", 512,
     "2026-01-15 10:30:00.999"},
    // Owner and group names with spaces push the size along.
    {"-rw-r--r-- 1 John Smith staff 120 Jan 15 10:30 spaced.txt", ekFile, "spaced.txt", 120,
     "2026-01-15 10:30:00.999"},
    // Link count zero run together with the owner.
    {"-rw-r--r-- 0root wheel 10 Jan 15 10:30 joined", ekFile, "joined", 10,
     "2026-01-15 10:30:00.999"},
    // Dates we cannot read (German month names, days and times that do not exist) cost the
    // date only: Modified 0, ModifiedKnown false, the rest of the entry as listed.
    {"-rw-r--r-- 1 o g 10 Mai 15 10:30 mai.txt", ekFile, "mai.txt", 10, "0"},
    {"drwxr-xr-x 2 o g 4096 Okt  3  2019 oktober", ekDirectory, "oktober", 4096, "0"},
    {"-rw-r--r-- 1 o g 77 Dez 24 18:00 weihnachten.txt", ekFile, "weihnachten.txt", 77, "0"},
    {"-rw-r--r-- 1 o g 10 Jan 32 10:30 day32", ekFile, "day32", 10, "0"},
    {"-rw-r--r-- 1 o g 10 Feb 29 2003 not-leap", ekFile, "not-leap", 10, "0"},
    {"-rw-r--r-- 1 o g 10 Jan 15 25:30 hour25", ekFile, "hour25", 10, "0"},
    {"-rw-r--r-- 1 o g 10 Jan 15 10:75 minute75", ekFile, "minute75", 10, "0"},
};

class UnixLines : public PinnedClock, public ::testing::WithParamInterface<UnixRow> {};

TEST_P(UnixLines, ParseAsListed) {
    const UnixRow& row = GetParam();
    TIdFTPListItems entries;
    const auto& entry = ParseOne<TIdUnixFTPListItem>(TIdFTPLPUnix::Class(), entries, row.line);
    EXPECT_EQ(entry.Kind(), row.kind);
    EXPECT_EQ(entry.Name(), row.name);
    EXPECT_EQ(entry.ByteSize(), row.size);
    EXPECT_EQ(Stamp(entry.Modified()), row.modified);
    EXPECT_TRUE(entry.ByteSizeKnown());
    EXPECT_EQ(entry.ModifiedKnown(), std::string(row.modified) != "0");
    EXPECT_TRUE(TIdFTPLPUnix::Class()->LooksLikeUnixLine(row.line)) << row.line;
}

INSTANTIATE_TEST_SUITE_P(Table, UnixLines, ::testing::ValuesIn(kUnixRows));

using UnixFields = PinnedClock;

TEST_F(UnixFields, OwnerGroupLinksPermissionsAndNumbers) {
    TIdFTPListItems entries;
    auto parse = [&](const char* line) -> const TIdUnixFTPListItem& {
        return ParseOne<TIdUnixFTPListItem>(TIdFTPLPUnix::Class(), entries, line);
    };
    const auto& docs = parse("drwxr-sr-t   2 owner  group   4096 Jan 15 10:30 docs");
    EXPECT_EQ(docs.ModeText(), "drwxr-sr-t");
    EXPECT_EQ(docs.UserPerms(), "rwx");
    EXPECT_EQ(docs.GroupPerms(), "r-s");
    EXPECT_EQ(docs.OtherPerms(), "r-t");
    EXPECT_EQ(docs.LinkCount(), 2);
    EXPECT_EQ(docs.OwnerName(), "owner");
    EXPECT_EQ(docs.GroupName(), "group");

    const auto& inode = parse("12345 8 -rw-r--r-- 1 u g 10 May 1 1999 x");
    EXPECT_EQ(inode.InodeNumber(), 12345);
    EXPECT_EQ(inode.BlockCount(), 8);
    EXPECT_EQ(inode.OwnerName(), "u");

    EXPECT_EQ(parse("lrwxrwxrwx 1 root root 7 Feb 1 2002 lib -> usr/lib/").LinkTarget(), "usr/lib");
    EXPECT_EQ(parse("lrwxrwxrwx 1 root root 7 Feb 1 2002 l -> /srv/data.csv").LinkTarget(),
              "/srv/data.csv");

    const auto& noGroup = parse("-rw-r--r-- 1 owner 512 Jan 15 10:30 no-group.txt");
    EXPECT_EQ(noGroup.OwnerName(), "");
    EXPECT_EQ(noGroup.GroupName(), "owner");

    const auto& spaced = parse("-rw-r--r-- 1 John Smith staff 120 Jan 15 10:30 spaced.txt");
    EXPECT_EQ(spaced.OwnerName(), "John");
    EXPECT_EQ(spaced.GroupName(), "Smith staff");

    const auto& joined = parse("-rw-r--r-- 0root wheel 10 Jan 15 10:30 joined");
    EXPECT_EQ(joined.LinkCount(), 0);
    EXPECT_EQ(joined.OwnerName(), "root");
    EXPECT_EQ(joined.GroupName(), "wheel");

    // Names shouted in capitals get a lower-case local name.
    EXPECT_EQ(parse("-rw-r--r-- 1 o g 1 Jan 15 10:30 README.TXT").LocalName(), "readme.txt");
}

TEST(UnixLineTests, LinesThatAreNotUnixEntries) {
    const TIdFTPLPUnix* unix = TIdFTPLPUnix::Class();
    for (const char* line : {
             "01-15-03  10:30AM       <DIR>          docs", // Windows
             "type=file;size=10; x",                        // machine listing
             "total 12", "./sub:", "hello world",
             "drwxr-xr-x",                         // permission column alone... is one
             "drwxr-xr-x 1 a b 0 Jan 15 10 30 PM", // ten columns ending in PM
             "-rw-r--r-- 1 a b 0 x Jan 15 2003 z", // a month in the seventh, no time
             "123 hello world x",                  // a number, but no permission column
         }) {
        const bool expected = std::string(line) == "drwxr-xr-x";
        EXPECT_EQ(unix->LooksLikeUnixLine(line), expected) << line;
    }
}

} // namespace
