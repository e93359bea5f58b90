// Whole listings as servers send them, through ParseLines and detection.
#include "ListingTestSupport.h"

#include "ftp/listing/IdFTPListParseUnitree.h"
#include "ftp/listing/IdFTPListParseUnix.h"

using namespace listingtest;
using Names_ = std::vector<std::string>;

namespace {

using UnixSamples = PinnedClock;

const std::vector<std::string> kPlainListing = {
    "total 24",
    "drwxr-xr-x    2 1000     1000         4096 Jan 15 10:30 docs",
    "-rw-r--r--    1 1000     1000         1234 Mar 03  2001 report.txt",
    "lrwxrwxrwx    1 1000     1000            7 Feb 01  2002 lib -> usr/lib/",
    "-rw-r--r--    1 1000     1000            0 Jun 15 11:59 .hidden",
};

TEST_F(UnixSamples, PlainListingSkipsTheTotalLine) {
    TIdFTPListItems entries;
    ASSERT_TRUE(TIdFTPLPUnix::Class()->Recognizes(kPlainListing, "", true));
    EXPECT_FALSE(TIdFTPLPUnitree::Class()->Recognizes(kPlainListing, "", true));
    ASSERT_TRUE(TIdFTPLPUnix::Class()->ParseLines(kPlainListing, entries));
    EXPECT_EQ(Names(entries), (Names_{"docs", "report.txt", "lib", ".hidden"}));
    EXPECT_EQ(entries[0].Kind(), ekDirectory);
    EXPECT_EQ(entries[1].ByteSize(), 1234);
    EXPECT_EQ(entries[2].Kind(), ekSymbolicLinkDir);
    EXPECT_EQ(Stamp(entries[3].Modified()), "2026-06-15 11:59:00.999");
    EXPECT_EQ(entries[1].RawLine(), kPlainListing[2]);
}

TEST_F(UnixSamples, RecursiveListingPrefixesSectionPaths) {
    const std::vector<std::string> lines = {
        ".:",
        "total 8",
        "drwxr-xr-x 2 u g 4096 Jan 15 10:30 sub",
        "-rw-r--r-- 1 u g 10 Jan 15 10:30 top.txt",
        "",
        "./sub:",
        "total 4",
        "-rw-r--r-- 1 u g 20 Jan 15 10:31 inner.txt",
        "/bin/ls: cannot open directory ./locked: Permission denied",
        "",
        "/srv/abs:",
        "-rw-r--r-- 1 u g 20 Jan 15 10:31 DEEP.TXT",
    };
    TIdFTPListItems entries;
    ASSERT_TRUE(TIdFTPLPUnix::Class()->Recognizes(lines, "", true));
    TIdFTPLPUnix::Class()->ParseLines(lines, entries);
    EXPECT_EQ(Names(entries), (Names_{"sub", "top.txt", "sub/inner.txt", "/srv/abs/DEEP.TXT"}));
    EXPECT_EQ(entries[2].LocalName(), "inner.txt");
    // The local name was set apart from the name, so it keeps its case.
    EXPECT_EQ(entries[3].LocalName(), "DEEP.TXT");
}

TEST_F(UnixSamples, TotalWithColonIsASection) {
    const std::vector<std::string> lines = {"total:", "-rw-r--r-- 1 u g 1 Jan 15 10:30 f"};
    TIdFTPListItems entries;
    TIdFTPLPUnix::Class()->ParseLines(lines, entries);
    EXPECT_EQ(Names(entries), (Names_{"total/f"}));
}

TEST_F(UnixSamples, StorageServerListing) {
    const std::vector<std::string> lines = {
        "drwxr-xr-x   2 user   staff  DK  fam1     4096 Jan 15 10:30 docs",
        "-rw-r--r--   1 user   staff  AR  fam2  1048576 Mar  3  2001 old.tar",
        "/home/user (family default).",
    };
    EXPECT_TRUE(TIdFTPLPUnitree::Class()->Recognizes(lines, "", true));
    EXPECT_FALSE(TIdFTPLPUnix::Class()->Recognizes(lines, "", true));
    TIdFTPListItems entries;
    TIdFTPLPUnitree::Class()->ParseLines(lines, entries);
    ASSERT_EQ(entries.Count(), 2u); // the header line is no entry
    const auto& docs = dynamic_cast<const TIdUnitreeFTPListItem&>(entries[0]);
    const auto& old = dynamic_cast<const TIdUnitreeFTPListItem&>(entries[1]);
    EXPECT_EQ(docs.Name(), "docs");
    EXPECT_EQ(docs.ByteSize(), 4096);
    EXPECT_FALSE(docs.Migrated());
    EXPECT_EQ(docs.FileFamily(), "fam1");
    EXPECT_EQ(docs.GroupName(), "staff");
    EXPECT_EQ(old.Name(), "old.tar");
    EXPECT_EQ(old.ByteSize(), 1048576);
    EXPECT_TRUE(old.Migrated());
    EXPECT_EQ(old.FileFamily(), "fam2");
    EXPECT_EQ(Stamp(old.Modified()), "2001-03-03 00:00:00.999");
}

TEST_F(UnixSamples, DetectionIsDecidedByTheFirstEntryLine) {
    // Total lines, sections and lines that are no entries at all are passed over.
    EXPECT_TRUE(TIdFTPLPUnix::Class()->Recognizes(
        {"", "total 3", "sub:", "-rw-r--r-- 1 u g 1 Jan 15 10:30 f"}, "", true));
    EXPECT_TRUE(TIdFTPLPUnix::Class()->Recognizes({"Welcome!", "-rw-r--r-- 1 u g 1 Jan 15 10:30 f"},
                                                  "", true));
    EXPECT_TRUE(TIdFTPLPUnitree::Class()->Recognizes(
        {"garbage", "-rw-r--r-- 1 u g AR fam 1 Jan 15 10:30 t"}, "", true));
    EXPECT_FALSE(TIdFTPLPUnix::Class()->Recognizes({}, "", true));
    EXPECT_FALSE(TIdFTPLPUnix::Class()->Recognizes({"total 0"}, "", true));
    EXPECT_FALSE(TIdFTPLPUnix::Class()->Recognizes({"01-15-03  10:30AM       <DIR>          docs"},
                                                   "", true));
}

TEST_F(UnixSamples, ABadLineCostsThatLineOnly) {
    const std::vector<std::string> lines = {
        "-rw-r--r-- 1 u g 1 Jan 15 10:30 good",
        "-rw-r--r-- 1 u g 2 Mrz 15 10:30 bad date",   // German month: the date is lost
        "-rw-r--r-- 1 u g 3 Jan 15 10:30 first half", // a name with a line break in it...
        "second half",                                // ...leaves a stray line
        "drwxr-xr-x 2 u g 4096 Jan 15 10:30",         // no name
        "-rw-r--r-- 1 u g 4 Jan 15 10:30 last",
    };
    TIdFTPListItems entries;
    ASSERT_TRUE(TIdFTPLPUnix::Class()->ParseLines(lines, entries));
    EXPECT_EQ(Names(entries), (Names_{"good", "bad date", "first half", "last"}));
    EXPECT_EQ(entries.SkippedLineCount(), 2u);
    EXPECT_EQ(entries[1].ByteSize(), 2);
    EXPECT_EQ(entries[1].Modified(), 0);
    EXPECT_FALSE(entries[1].ModifiedKnown());
    EXPECT_EQ(entries[3].RawLine(), lines[5]);
    entries.Clear();
    EXPECT_EQ(entries.SkippedLineCount(), 0u);
}

} // namespace
