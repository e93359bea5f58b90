// The name patterns of Include and Exclude: what each form takes and leaves, letter case,
// malformed patterns, and patterns that would make a backtracking matcher run for ever.
#include "rules/NamePattern.h"
#include "rules/PatternList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tavrin::rules::SplitPatternList;
using tavrin::rules::TNamePattern;
using tavrin::rules::TPatternList;

namespace {

bool Matches(const std::string& pattern, const std::string& name, bool ignoreCase = false) {
    std::string error;
    const TNamePattern compiled = TNamePattern::Parse(pattern, ignoreCase, error);
    EXPECT_EQ(error, "") << pattern;
    return compiled.Matches(name);
}

TEST(NamePatternTest, EachFormTakesWhatItShould) {
    const struct {
        const char* pattern;
        const char* name;
        bool ignoreCase;
        bool expected;
    } rows[] = {
        // plain text and the simple wildcards
        {"a.txt", "a.txt", false, true},
        {"a.txt", "a.txt.bak", false, false},
        {"a.txt", "xa.txt", false, false},
        {"*.txt", "report.txt", false, true},
        {"*.txt", ".txt", false, true},
        {"*.txt", "report.txt.part", false, false},
        {"*", "", false, true},
        {"?.csv", "a.csv", false, true},
        {"?.csv", "ab.csv", false, false},
        {"?.csv", ".csv", false, false},
        {"*a*a*b", "xaayaab", false, true},
        // "*" and "?" stay inside one folder, "**" crosses folders
        {"*.txt", "sub/a.txt", false, false},
        {"sub/*", "sub/a/b", false, false},
        {"sub/?", "sub//", false, false},
        {"**.txt", "sub/deeper/a.txt", false, true},
        {"sub/**", "sub/a/b", false, true},
        {"**/a.txt", "a.txt", false, true},
        {"**/a.txt", "x/y/a.txt", false, true},
        {"**/a.txt", "x/ya.txt", false, false},
        {"a/**/b", "a/b", false, true},
        {"a/**/b", "a/x/y/b", false, true},
        {"a/**/b", "ab", false, false},
        {"x**/b", "xy/z/b", false, true},
        // sets: members, ranges, negation, "]" first, escapes, never "/"
        {"[abc].txt", "b.txt", false, true},
        {"[abc].txt", "d.txt", false, false},
        {"file[0-9][0-9]", "file42", false, true},
        {"file[0-9]", "filex", false, false},
        {"[!0-9]*", "x1", false, true},
        {"[!0-9]*", "1x", false, false},
        {"[^a]", "b", false, true},
        {"[]x]", "]", false, true},
        {"[!]]", "]", false, false},
        {"[a-]", "-", false, true},
        {"[\\]]", "]", false, true},
        {"[!a]", "/", false, false},
        {"a[/]b", "a/b", false, false},
        {"[ä-ö]", "ö", false, true},
        // alternatives, nested, empty, sharing what follows them
        {"*.{csv,txt}", "a.txt", false, true},
        {"*.{csv,txt}", "a.xml", false, false},
        {"{a,b{c,d}}.x", "bd.x", false, true},
        {"{a,b{c,d}}.x", "b.x", false, false},
        {"a{,.bak}", "a", false, true},
        {"a{,.bak}", "a.bak", false, true},
        {"{**/,}z", "p/q/z", false, true},
        {"a,b", "a,b", false, true},
        // escapes take the next character as it stands
        {"\\*.txt", "*.txt", false, true},
        {"\\*.txt", "a.txt", false, false},
        {"a\\?", "a?", false, true},
        {"\\{a\\}", "{a}", false, true},
        // one "?" is one character, also for UTF-8 and for bytes that are no UTF-8
        {"?.txt", "é.txt", false, true},
        {"??.txt", "é.txt", false, false},
        {"?.txt", "\xE9.txt", false, true},
        {"\xE9*", "\xE9t\xE9", false, true},
        // letter case
        {"*.TXT", "a.txt", false, false},
        {"*.TXT", "a.txt", true, true},
        {"[A-C]*", "b1", true, true},
        {"[a-c]*", "B1", true, true},
        {"[!a-c]*", "B1", true, false},
        {"ÄRGER", "ärger", true, true},
        {"ÄRGER", "ärger", false, false},
        {"ŁÓDŹ", "łódź", true, true},
        {"ΩΣ", "ως", true, true},
        {"ΟΔΟΣ", "οδοσ", true, true},
        {"ЖУРНАЛ.ЁЖ", "журнал.ёж", true, true},
        {"Ÿ", "ÿ", true, true},
        {"i", "İ", true, false}, // dotted capital I is no ASCII letter's capital
    };
    for (const auto& row : rows)
        EXPECT_EQ(Matches(row.pattern, row.name, row.ignoreCase), row.expected)
            << row.pattern << " against " << row.name << (row.ignoreCase ? " (any case)" : "");
}

TEST(NamePatternTest, MalformedPatternsSayWhatIsWrongAndMatchNothing) {
    const struct {
        std::string pattern;
        const char* error;
    } rows[] = {
        {"[abc", "has an unbalanced \"[\""},
        {"a[!", "has an unbalanced \"[\""},
        {"[]", "has an unbalanced \"[\""},
        {"{a,b", "has an unbalanced \"{\""},
        {"{a,{b}", "has an unbalanced \"{\""},
        {"a}", "has an unbalanced \"}\""},
        {"a\\", "ends in a lone \"\\\""},
        {"[a\\", "ends in a lone \"\\\""},
        {"[z-a]", "has a range that runs backwards"},
        {std::string(40, '{'), "nests \"{\" too deeply"},
    };
    for (const auto& row : rows) {
        std::string error;
        const TNamePattern pattern = TNamePattern::Parse(row.pattern, false, error);
        EXPECT_EQ(error, row.error) << row.pattern;
        EXPECT_FALSE(pattern.Matches(row.pattern)) << row.pattern;
        EXPECT_FALSE(pattern.Matches("")) << row.pattern;
    }
}

// A backtracking matcher needs about 2^n or n^k steps for these; walking the name once with
// the set of places keeps each under a few million steps, so the test ends at once.
TEST(NamePatternTest, HostilePatternsFinish) {
    std::string stars;
    for (int i = 0; i < 30; ++i)
        stars += "*a";
    stars += "b";
    const std::string longName(2000, 'a');
    EXPECT_FALSE(Matches(stars, longName));
    EXPECT_TRUE(Matches(stars, longName + "b"));

    std::string braces;
    for (int i = 0; i < 30; ++i)
        braces += "{a,aa,*}";
    EXPECT_FALSE(Matches(braces + "c", longName));
    EXPECT_FALSE(Matches("**/**/**/**/**/**/**/**/x", std::string(2000, '/') + "y"));
}

TEST(PatternListTest, SplitsOnSemicolonsTrimsAndSkipsEmptyEntries) {
    const struct {
        const char* list;
        std::vector<std::string> expected;
    } rows[] = {
        {"", {}},
        {" ; ;\t", {}},
        {"*.txt", {"*.txt"}},
        {" *.txt ;*.csv;; a b ", {"*.txt", "*.csv", "a b"}},
        {"a\\;b;c", {"a\\;b", "c"}},
        {"x\\ ; y", {"x\\ ", "y"}},
        {"x\\\\ ;y", {"x\\\\", "y"}},
        {"tail\\", {"tail\\"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(SplitPatternList(row.list), row.expected) << row.list;
}

TEST(PatternListTest, NamesTheFirstMatchAndReportsEveryBadPattern) {
    std::vector<std::string> problems;
    const TPatternList list(" [bad ; *.tmp ; {x ; ~*", false, "Exclude", problems);
    EXPECT_EQ(problems, (std::vector<std::string>{
                            "Exclude pattern \"[bad\" has an unbalanced \"[\"",
                            "Exclude pattern \"{x\" has an unbalanced \"{\"",
                        }));
    ASSERT_NE(list.FirstMatch("a.tmp"), nullptr);
    EXPECT_EQ(list.FirstMatch("a.tmp")->Text(), "*.tmp");
    EXPECT_EQ(list.FirstMatch("~a.tmp")->Text(), "*.tmp");
    EXPECT_EQ(list.FirstMatch("~a")->Text(), "~*");
    EXPECT_EQ(list.FirstMatch("a.txt"), nullptr);
    EXPECT_EQ(list.FirstMatch("[bad"), nullptr);
}

} // namespace
