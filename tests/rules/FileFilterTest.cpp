// The filter decision: which rule leaves a file out and how it says so, what a bad setting
// reports, and naming a left-out file once.
#include "rules/FileFilter.h"
#include "rules/LeftOutNotes.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace tavrin::rules;

namespace {

// Settings with only the named fields set.
TFilterSettings
Settings(std::initializer_list<std::pair<std::string TFilterSettings::*, const char*>> texts,
         bool ignoreCase = false) {
    TFilterSettings settings;
    for (const auto& [field, text] : texts)
        settings.*field = text;
    settings.IgnoreCase = ignoreCase;
    return settings;
}
using S = TFilterSettings;

TEST(FileFilterTest, SizesAndSecondsParse) {
    const struct {
        const char* text;
        std::optional<int64_t> size;
        std::optional<int64_t> seconds;
    } rows[] = {
        {"0", 0, 0},
        {" 1500 ", 1500, 1500},
        {"1k", 1024, std::nullopt},
        {"1K", 1024, std::nullopt},
        {"3 M", 3 << 20, std::nullopt},
        {"2G", int64_t(2) << 30, std::nullopt},
        {"10kB", 10240, std::nullopt},
        {"10KiB", 10240, std::nullopt},
        {"7B", 7, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"k", std::nullopt, std::nullopt},
        {"-1", std::nullopt, std::nullopt},
        {"1.5M", std::nullopt, std::nullopt},
        {"0x10", std::nullopt, std::nullopt},
        {"10 kk", std::nullopt, std::nullopt},
        {"10iB", std::nullopt, std::nullopt},
        {"5T", std::nullopt, std::nullopt},
        {"9223372036854775807", INT64_MAX, INT64_MAX},
        {"9223372036854775808", std::nullopt, std::nullopt},
        {"8589934592G", std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ParseByteSize(row.text), row.size) << row.text;
        EXPECT_EQ(ParseSeconds(row.text), row.seconds) << row.text;
    }
}

TEST(FileFilterTest, EachRuleLeavesOutWithItsReason) {
    TFilterSettings all;
    all.Include = " *.csv ; *.txt ";
    all.Exclude = "~*; *.tmp.*";
    all.MinSize = "1k";
    all.MaxSize = " 2M";
    all.MinAge = "60";
    const struct {
        const char* name;
        TFilterSettings settings;
        TFileFacts file;
        const char* reason;
    } rows[] = {
        {"the defaults take everything", {}, {"x", 0, 0}, ""},
        {"taken by all rules", all, {"a.csv", 1024, 60}, ""},
        {"max size is inclusive", all, {"a.txt", 2 << 20, 100}, ""},
        {"no include match", all, {"a.xml", 2000, 100}, "not matched by Include *.csv ; *.txt"},
        {"case counts by default",
         all,
         {"A.CSV", 2000, 100},
         "not matched by Include *.csv ; *.txt"},
        {"excluded though included", all, {"~a.csv", 2000, 100}, "excluded by ~*"},
        {"second exclude pattern", all, {"a.tmp.txt", 2000, 100}, "excluded by *.tmp.*"},
        {"too small", all, {"a.csv", 1023, 100}, "smaller than MinSize 1k"},
        {"too large", all, {"a.csv", (2 << 20) + 1, 100}, "larger than MaxSize 2M"},
        {"too young", all, {"a.csv", 2000, 59}, "younger than MinAge 60"},
        {"unknown size and age hold nothing back", all, {"a.csv", {}, {}}, ""},
        {"a bad pattern leaves the good ones working",
         Settings({{&S::Exclude, "[x;*.bak"}}),
         {"a.bak", 1, 1},
         "excluded by *.bak"},
        {"any case", Settings({{&S::Include, "*.CSV"}}, true), {"a.csv", 1, 1}, ""},
        {"any case excludes too",
         Settings({{&S::Exclude, "TMP*"}}, true),
         {"tmp1", 1, 1},
         "excluded by TMP*"},
        {"paths with folders", Settings({{&S::Include, "**/*.csv"}}), {"in/2024/a.csv", 1, 1}, ""},
        {"a star stays in its folder",
         Settings({{&S::Include, "*.csv"}}),
         {"in/a.csv", 1, 1},
         "not matched by Include *.csv"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> problems;
        const TFileFilter filter(row.settings, problems);
        EXPECT_EQ(filter.WhyLeftOut(row.file), row.reason) << row.name;
    }
}

TEST(FileFilterTest, UnusableValuesAreNamedWithTheirKey) {
    const struct {
        TFilterSettings settings;
        std::vector<std::string> problems;
    } rows[] = {
        {{}, {}},
        {Settings({{&S::Include, "*.csv"},
                   {&S::Exclude, "~*"},
                   {&S::MinSize, "0"},
                   {&S::MaxSize, "1G"},
                   {&S::MinAge, "0"}}),
         {}},
        {Settings({{&S::Include, "[abc;ok"}, {&S::Exclude, "{x,y"}}),
         {"Include pattern \"[abc\" has an unbalanced \"[\"",
          "Exclude pattern \"{x,y\" has an unbalanced \"{\""}},
        {Settings({{&S::MinSize, "big"}, {&S::MaxSize, "1.5M"}}),
         {"MinSize \"big\" is not a size: a whole number of bytes, or of k, M or G (1024-based)",
          "MaxSize \"1.5M\" is not a size: a whole number of bytes, or of k, M or G "
          "(1024-based)"}},
        {Settings({{&S::MinSize, "2k"}, {&S::MaxSize, "1k"}}),
         {"MaxSize 1k is smaller than MinSize 2k: no file could be taken"}},
        {Settings({{&S::MinAge, "1h"}}), {"MinAge \"1h\" is not a whole number of seconds"}},
        {Settings({{&S::MinAge, "-5"}}), {"MinAge \"-5\" is not a whole number of seconds"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FilterProblems(row.settings), row.problems)
            << row.settings.Include << row.settings.MinSize;
}

// A poll every few seconds lists the same left-out files again and again.
TEST(FileFilterTest, LeftOutFilesAreNamedOnceWhileListed) {
    TLeftOutNotes notes;
    const struct {
        std::vector<std::pair<std::string, std::string>> leftOut; // one listing
        std::vector<std::string> taken;
        std::vector<std::string> named;
    } listings[] = {
        {{{"a.tmp", "excluded by *.tmp"}, {"b", "younger than MinAge 60"}}, {}, {"a.tmp", "b"}},
        {{{"a.tmp", "excluded by *.tmp"}, {"b", "younger than MinAge 60"}}, {}, {}},
        // b grew old enough, then changed again: its next leaving-out is news
        {{{"a.tmp", "excluded by *.tmp"}}, {"b"}, {}},
        {{{"a.tmp", "excluded by *.tmp"}, {"b", "younger than MinAge 60"}}, {}, {"b"}},
        // a different reason is news; a file gone from a listing is forgotten
        {{{"b", "larger than MaxSize 1k"}}, {}, {"b"}},
        {{{"a.tmp", "excluded by *.tmp"}, {"b", "larger than MaxSize 1k"}}, {}, {"a.tmp"}},
    };
    for (size_t i = 0; i < std::size(listings); ++i) {
        std::vector<std::string> named;
        for (const auto& [path, reason] : listings[i].leftOut)
            if (notes.FirstTime(path, reason))
                named.push_back(path);
        for (const std::string& path : listings[i].taken)
            notes.Taken(path);
        notes.EndListing();
        EXPECT_EQ(named, listings[i].named) << "listing " << i;
    }
    EXPECT_EQ(notes.Remembered(), 2u);
}

} // namespace
