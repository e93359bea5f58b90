#include "ListingTestSupport.h"

#include "ftp/listing/IdFTPListParseMList.h"

using namespace listingtest;

namespace {

struct MlsdRow {
    const char* line;
    EntryKind kind;
    const char* name;
    bool sizeKnown;
    int64_t size;
    const char* modifiedGMT; // "" when ModifiedKnown is false
    const char* modeText;
};

const MlsdRow kMlsdRows[] = {
    {"type=file;size=1024;modify=20030115103045; report.txt", ekFile, "report.txt", true, 1024,
     "2003-01-15 10:30:45.000", ""},
    // The listed folder and its parent are directories.
    {"type=cdir;modify=20030115103045; .", ekDirectory, ".", false, 0, "2003-01-15 10:30:45.000",
     ""},
    {"type=pdir; ..", ekDirectory, "..", false, 0, "", ""},
    // Type values are compared without regard to case: a folder listed as "Dir" is no file.
    {"type=Dir; odd", ekDirectory, "odd", false, 0, "", ""},
    {"type=FILE;size=3; upper", ekFile, "upper", true, 3, "", ""},
    // Links are links whichever way a server spells them, never files to fetch.
    {"type=OS.unix=symlink;size=9; link", ekSymbolicLink, "link", true, 9, "", ""},
    {"type=OS.unix=slink:/etc/passwd; slink", ekSymbolicLink, "slink", false, 0, "", ""},
    {"type=OS.UNIX=SLINK:; slink-no-target", ekSymbolicLink, "slink-no-target", false, 0, "", ""},
    {"type=OS.unix=symlink;UNIX.mode=0777; moded-link", ekSymbolicLink, "moded-link", false, 0, "",
     "lrwxrwxrwx"},
    // Other system-specific types are no regular files either.
    {"type=OS.unix=chr-13/29; tty", ekCharDevice, "tty", false, 0, "", ""},
    {"type=OS.unix=blk-8/0; sda", ekBlockDevice, "sda", false, 0, "", ""},
    {"type=OS.unix=fifo; pipe", ekFifo, "pipe", false, 0, "", ""},
    {"type=OS.unix=socket; sock", ekSocket, "sock", false, 0, "", ""},
    // Unknown kinds stay files, as the type fact says nothing we understand.
    {"type=OS.other=thing; other", ekFile, "other", false, 0, "", ""},
    // Fact names match without regard to case; modes are shown as ls would.
    {"type=dir;unix.mode=0755; bin", ekDirectory, "bin", false, 0, "", "drwxr-xr-x"},
    {"type=file;UNIX.mode=4755; tool", ekFile, "tool", false, 0, "", "-rwsr-xr-x"},
    {"type=file;UNIX.mode=2750; grp", ekFile, "grp", false, 0, "", "-rwxr-s---"},
    {"type=dir;UNIX.mode=1777; tmp", ekDirectory, "tmp", false, 0, "", "drwxrwxrwt"},
    {"type=file;UNIX.mode=rw-r--r--; text-mode", ekFile, "text-mode", false, 0, "", "rw-r--r--"},
    // "perm" wins over "UNIX.mode".
    {"type=file;UNIX.mode=0644;perm=adfrw; p", ekFile, "p", false, 0, "", "adfrw"},
    // "sizd" stands in for "size" (directories).
    {"type=dir;sizd=4096; d", ekDirectory, "d", true, 4096, "", ""},
    {"type=file;size=5368709120; big", ekFile, "big", true, 5368709120LL, "", ""},
    // Only the first space separates: the rest belongs to the name, spaces and case included.
    {"type=file;size=1;   spaced  NAME ", ekFile, "  spaced  NAME ", true, 1, "", ""},
    // Fractions of a second are decimal fractions.
    {"type=file;modify=20030115103045.5; half", ekFile, "half", false, 0, "2003-01-15 10:30:45.500",
     ""},
    {"type=file;modify=20030115103045.123456; micro", ekFile, "micro", false, 0,
     "2003-01-15 10:30:45.123", ""},
    // Facts without a type or without a trailing ";".
    {"size=7 untyped", ekFile, "untyped", true, 7, "", ""},
    // Stamps that are no dates leave that date unknown and 0; the entry stays.
    {"type=file;size=5;modify=20031315103045; month13", ekFile, "month13", true, 5, "", ""},
    {"type=file;modify=2003; short-stamp", ekFile, "short-stamp", false, 0, "", ""},
    {"type=file;modify=20030115253045; hour25", ekFile, "hour25", false, 0, "", ""},
    {"type=file;modify=; empty-stamp", ekFile, "empty-stamp", false, 0, "", ""},
    {"type=dir;create=20030230000000;modify=20030115103045; bad-create", ekDirectory, "bad-create",
     false, 0, "2003-01-15 10:30:45.000", ""},
};

class MlsdLines : public PinnedClock, public ::testing::WithParamInterface<MlsdRow> {};

TEST_P(MlsdLines, ParseAsListed) {
    const MlsdRow& row = GetParam();
    TIdFTPListItems entries;
    const auto& entry = ParseOne<TIdMLSTFTPListItem>(TIdFTPLPMList::Class(), entries, row.line);
    EXPECT_EQ(entry.Kind(), row.kind);
    EXPECT_EQ(entry.Name(), row.name);
    EXPECT_EQ(entry.LocalName(), row.name); // no case folding
    EXPECT_EQ(entry.ByteSizeKnown(), row.sizeKnown);
    EXPECT_EQ(entry.ByteSize(), row.size);
    EXPECT_EQ(entry.ModifiedKnown(), row.modifiedGMT[0] != '\0');
    if (entry.ModifiedKnown()) {
        EXPECT_EQ(Stamp(entry.ModifiedGMT()), row.modifiedGMT);
        // PinnedClock puts the local zone two hours east of UTC.
        EXPECT_EQ(Stamp(entry.Modified()), Stamp(entry.ModifiedGMT() + 2.0 / 24));
    } else {
        EXPECT_EQ(entry.Modified(), 0);
    }
    EXPECT_EQ(entry.ModeText(), row.modeText);
}

INSTANTIATE_TEST_SUITE_P(Table, MlsdLines, ::testing::ValuesIn(kMlsdRows));

using MlsdFacts = PinnedClock;

TEST_F(MlsdFacts, WindowsServerListing) {
    const std::vector<std::string> lines = {
        "win32.ea=0x00000022;type=file;size=0;create=20030110090000;"
        "windows.lastaccesstime=20030111000000;unique=801U1A; hidden.txt",
        "type=file;size=10;modify=20031231230000;win32.ea=0x00000001; ro.txt",
        "type=file;size=10;win32.ea=garbage; noattr.txt",
    };
    TIdFTPListItems entries;
    ASSERT_TRUE(TIdFTPLPMList::Class()->ParseLines(lines, entries));
    ASSERT_EQ(entries.Count(), 3u);
    const auto& hidden = dynamic_cast<const TIdMLSTFTPListItem&>(entries[0]);
    EXPECT_TRUE(hidden.AttributesKnown());
    EXPECT_TRUE(hidden.Win32Attributes().Hidden());
    EXPECT_TRUE(hidden.Win32Attributes().Archive());
    EXPECT_FALSE(hidden.Win32Attributes().ReadOnly());
    EXPECT_EQ(hidden.UniqueKey(), "801U1A");
    EXPECT_EQ(Stamp(hidden.CreatedGMT()), "2003-01-10 09:00:00.000");
    EXPECT_EQ(Stamp(hidden.Created()), "2003-01-10 11:00:00.000");
    EXPECT_EQ(Stamp(hidden.LastAccessGMT()), "2003-01-11 00:00:00.000");
    EXPECT_EQ(Stamp(hidden.LastAccess()), "2003-01-11 02:00:00.000");

    const auto& readOnly = dynamic_cast<const TIdMLSTFTPListItem&>(entries[1]);
    EXPECT_TRUE(readOnly.Win32Attributes().ReadOnly());
    // The local shift crosses into the next year.
    EXPECT_EQ(Stamp(readOnly.Modified()), "2004-01-01 01:00:00.000");

    EXPECT_FALSE(dynamic_cast<const TIdMLSTFTPListItem&>(entries[2]).AttributesKnown());
}

TEST_F(MlsdFacts, TheListedFolderAndItsParentNeverBecomeEntries) {
    const std::vector<std::string> lines = {
        "type=cdir;modify=20030115103045;perm=flcdmpe; .",
        "type=pdir;modify=20030101000000; ..",
        "type=CDir; /home/user/out", // some servers name the listed folder by its full path
        "type=file;size=4; a.txt",
        "type=OS.unix=slink:/x; l",
        "type=dir; sub",
    };
    TIdFTPListItems entries;
    ASSERT_TRUE(TIdFTPLPMList::Class()->ParseLines(lines, entries));
    EXPECT_EQ(Names(entries), (std::vector<std::string>{"a.txt", "l", "sub"}));
    EXPECT_EQ(entries.SkippedLineCount(), 0u); // left out on purpose, not unreadable
}

TEST_F(MlsdFacts, NeverDetected) {
    EXPECT_FALSE(TIdFTPLPMList::Class()->Recognizes({"type=file;size=1; x"}, "", true));
    EXPECT_FALSE(TIdFTPLPMList::Class()->Recognizes({"type=file;size=1; x"}, "", false));
}

} // namespace
