// Entries, the collection and the registry's choice of parser.
#include "ListingTestSupport.h"

#include "ftp/listing/IdFTPListParseMList.h"
#include "ftp/listing/IdFTPListParseNList.h"
#include "ftp/listing/IdFTPListParseUnitree.h"
#include "ftp/listing/IdFTPListParseUnix.h"
#include "ftp/listing/IdFTPListParseWindowsNT.h"

#include <stdexcept>

using namespace listingtest;
using Names_ = std::vector<std::string>;

namespace {

TEST(ListEntry, LocalNameFollowsTheName) {
    TIdFTPListItems entries;
    TIdFTPListItem& entry = entries.Add();
    entry.SetName("DATA.CSV");
    EXPECT_EQ(entry.LocalName(), "data.csv");
    // Still following (equal but for case): a new name replaces it.
    entry.SetName("Data.csv");
    EXPECT_EQ(entry.LocalName(), "Data.csv");
    entry.SetName("2024");
    EXPECT_EQ(entry.LocalName(), "2024");

    // A local name set apart from the name stays.
    entry.SetLocalName("kept");
    entry.SetName("OTHER.TXT");
    EXPECT_EQ(entry.Name(), "OTHER.TXT");
    EXPECT_EQ(entry.LocalName(), "kept");
}

TEST(ListEntry, DefaultsAndAssign) {
    TIdFTPListItems entries;
    TIdFTPListItem& plain = entries.Add();
    EXPECT_EQ(plain.Kind(), ekFile);
    EXPECT_TRUE(plain.ByteSizeKnown());
    EXPECT_TRUE(plain.ModifiedKnown());
    auto& machine = entries.Add<TIdMLSTFTPListItem>();
    EXPECT_FALSE(machine.ByteSizeKnown());
    EXPECT_FALSE(machine.ModifiedKnown());
    EXPECT_FALSE(machine.AttributesKnown());

    plain.SetRawLine("raw");
    plain.SetKind(ekDirectory);
    plain.SetByteSize(42);
    plain.SetModified(3.5);
    plain.SetName("SRC");
    plain.SetModeText("not copied");
    machine.Assign(plain);
    EXPECT_EQ(machine.RawLine(), "raw");
    EXPECT_EQ(machine.Kind(), ekDirectory);
    EXPECT_EQ(machine.ByteSize(), 42);
    EXPECT_EQ(machine.Modified(), 3.5);
    EXPECT_EQ(machine.Name(), "SRC");
    EXPECT_EQ(machine.LocalName(), "src");
    EXPECT_EQ(machine.ModeText(), "");

    EXPECT_THROW(entries.Items(2), std::out_of_range);
    entries.Clear();
    EXPECT_EQ(entries.Count(), 0u);
}

TEST(Registry, HoldsTheBuiltInParsersInOrder) {
    const TIdFTPRegParseList& registry = ParserRegistry();
    std::vector<std::string> idents;
    for (size_t i = 0; i < registry.Count(); ++i)
        idents.push_back(registry.Items(i)->FormatIdent());
    EXPECT_EQ(idents, (Names_{"NLIST", "MLST", "Unix", "Unitree", "Windows NT"}));
    EXPECT_EQ(registry.FindParser("Unitree"), TIdFTPLPUnitree::Class());
    EXPECT_EQ(registry.FindParser("unix"), nullptr); // case counts
}

TEST(Registry, RegisterAndUnregister) {
    TIdFTPRegParseList list;
    list.RegisterParser(TIdFTPLPUnix::Class());
    list.RegisterParser(TIdFTPLPWindowsNT::Class());
    list.UnregisterParser(TIdFTPLPUnix::Class());
    list.UnregisterParser(TIdFTPLPMList::Class()); // not there: nothing happens
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.Items(0), TIdFTPLPWindowsNT::Class());
}

class Detection : public PinnedClock {
protected:
    struct Outcome {
        bool result;
        std::string ident;
        TIdFTPListParseClass parser;
        Names_ names;
    };
    Outcome Detect(const std::vector<std::string>& lines, bool detailed = true) {
        TIdFTPListItems entries;
        entries.Add().SetName("left over");
        Outcome outcome{false, "stale", TIdFTPLPMList::Class(), {}};
        outcome.result = ParserRegistry().DetectAndParse(lines, entries, outcome.ident, detailed,
                                                         "UNIX Type: L8", outcome.parser);
        outcome.names = Names(entries);
        return outcome;
    }
};

TEST_F(Detection, PicksTheFormatOfTheListing) {
    Outcome unix = Detect({"total 1", "-rw-r--r-- 1 u g 10 Jan 15 10:30 a.txt"});
    EXPECT_TRUE(unix.result);
    EXPECT_EQ(unix.ident, "Unix");
    EXPECT_EQ(unix.parser, TIdFTPLPUnix::Class());
    // Detection appends: the caller clears before.
    EXPECT_EQ(unix.names, (Names_{"left over", "a.txt"}));

    Outcome unitree = Detect({"-rw-r--r-- 1 u g AR fam 10 Jan 15 10:30 t"});
    EXPECT_EQ(unitree.ident, "Unitree");
    EXPECT_EQ(unitree.parser, TIdFTPLPUnitree::Class());

    Outcome nt = Detect({"01-15-03  10:30AM       <DIR>          docs",
                         "01-15-03  02:05PM                 1,234 report.txt"});
    EXPECT_TRUE(nt.result);
    EXPECT_EQ(nt.ident, "Windows NT");
    EXPECT_EQ(nt.parser, TIdFTPLPWindowsNT::Class());
    EXPECT_EQ(nt.names, (Names_{"left over", "docs", "report.txt"}));
}

TEST_F(Detection, NothingRecognizedClearsEverything) {
    for (const auto& lines : std::vector<std::vector<std::string>>{
             {"hello", "world"},
             {"type=file;size=1; x"}, // machine listings are only parsed by name
             {"", ""},
         }) {
        Outcome none = Detect(lines);
        EXPECT_FALSE(none.result);
        EXPECT_EQ(none.ident, "");
        EXPECT_EQ(none.parser, nullptr);
        EXPECT_TRUE(none.names.empty());
    }
}

TEST_F(Detection, BareNamesWhenNotDetailed) {
    Outcome names = Detect({"drwxr-xr-x 2 u g 4096 Jan 15 10:30 docs", "", "two words"}, false);
    EXPECT_EQ(names.ident, "NLIST");
    EXPECT_EQ(names.parser, TIdFTPLPNList::Class());
    EXPECT_EQ(names.names,
              (Names_{"left over", "drwxr-xr-x 2 u g 4096 Jan 15 10:30 docs", "two words"}));
}

TEST_F(Detection, ParseLinesTwiceGivesTwoRuns) {
    const std::vector<std::string> lines = {"01-15-03  10:30AM                   10 a",
                                            "01-15-03  10:30AM                   10 b"};
    TIdFTPListItems entries;
    TIdFTPLPWindowsNT::Class()->ParseLines(lines, entries);
    TIdFTPLPWindowsNT::Class()->ParseLines(lines, entries);
    EXPECT_EQ(Names(entries), (Names_{"a", "b", "a", "b"}));
}

TEST_F(Detection, ParseWithFormat) {
    TIdFTPListItems entries;
    entries.Add().SetName("left over");
    EXPECT_TRUE(ParserRegistry().ParseWithFormat({"type=dir; sub", "type=file;size=2; f"}, entries,
                                                 "MLST"));
    ASSERT_EQ(Names(entries), (Names_{"sub", "f"}));
    EXPECT_EQ(entries[0].Kind(), ekDirectory);
    EXPECT_TRUE(ParserRegistry().ParseWithFormat({"x"}, entries, "VMS"));
    EXPECT_EQ(entries.Count(), 0u);
}

struct DamagedListing {
    const char* quirk;
    std::vector<std::string> lines;
    const char* format; // "" to detect
    const char* ident;
    Names_ names;
    size_t skipped;
};

const DamagedListing kDamagedListings[] = {
    {"a date in German",
     {"-rw-r--r-- 1 u g 1 Jan 15 10:30 ok", "-rw-r--r-- 1 u g 7 Okt 15 10:30 oktober.txt"},
     "",
     "Unix",
     {"ok", "oktober.txt"},
     0},
    {"a stray line from a name with a line break",
     {"-rw-r--r-- 1 u g 1 Jan 15 10:30 one", "half of a name.txt",
      "-rw-r--r-- 1 u g 1 Jan 15 10:30 two"},
     "",
     "Unix",
     {"one", "two"},
     1},
    {"a garbage first line",
     {"550 something odd", "total 2", "-rw-r--r-- 1 u g 1 Jan 15 10:30 a"},
     "",
     "Unix",
     {"a"},
     1},
    {"a stray line among Windows lines",
     {"01-15-03  10:30AM                   10 a", "b continued",
      "01-15-03  10:30AM                   10 c"},
     "",
     "Windows NT",
     {"a", "c"},
     1},
    {"an impossible stamp and a stray line in a machine listing",
     {"type=file;size=1;modify=20031315103045; month13.txt", "type=file;size=2; first", "half",
      "type=file;size=3;"},
     "MLST",
     "MLST",
     {"month13.txt", "first"},
     2},
    {"nothing readable at all", {"hello", "", "world"}, "", "", {}, 2},
};

class DamagedListings : public Detection, public ::testing::WithParamInterface<DamagedListing> {};

TEST_P(DamagedListings, CostOnlyTheLinesThatAreBad) {
    const DamagedListing& row = GetParam();
    TIdFTPListItems entries;
    std::string ident = row.format;
    TIdFTPListParseClass parser = nullptr;
    if (ident.empty())
        ParserRegistry().DetectAndParse(row.lines, entries, ident, true, "", parser);
    else
        ParserRegistry().ParseWithFormat(row.lines, entries, ident);
    EXPECT_EQ(ident, row.ident);
    EXPECT_EQ(Names(entries), row.names);
    EXPECT_EQ(entries.SkippedLineCount(), row.skipped);
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedListings, ::testing::ValuesIn(kDamagedListings));

} // namespace
