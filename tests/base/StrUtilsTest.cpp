#include "base/StrUtils.h"
#include "base/IdException.h"

#include <gtest/gtest.h>

using namespace tavrin;

TEST(StrToInt, AcceptsDecimalAndBothHexForms) {
    EXPECT_EQ(TryStrToInt("30"), 30);
    EXPECT_EQ(TryStrToInt("-7"), -7);
    EXPECT_EQ(TryStrToInt("+7"), 7);
    EXPECT_EQ(TryStrToInt("0x1E"), 30);
    EXPECT_EQ(TryStrToInt("0X1e"), 30);
    EXPECT_EQ(TryStrToInt("$1E"), 30);
    EXPECT_EQ(TryStrToInt("  12"), 12); // leading blanks are allowed
}

TEST(StrToInt, RejectsTextThatIsNotWhollyANumber) {
    for (const char* bad : {"", "abc", "12 ", "1.5", "0x", "$", "-", "12abc", "0xG"})
        EXPECT_FALSE(TryStrToInt(bad).has_value()) << bad;
}

TEST(StrToInt, RangeLimitsAreExact) {
    EXPECT_EQ(TryStrToInt("2147483647"), 2147483647);
    EXPECT_EQ(TryStrToInt("-2147483648"), INT32_MIN);
    EXPECT_FALSE(TryStrToInt("2147483648").has_value());
    EXPECT_FALSE(TryStrToInt("-2147483649").has_value());
    EXPECT_EQ(TryStrToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(TryStrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_FALSE(TryStrToInt64("9223372036854775808").has_value());
    EXPECT_FALSE(TryStrToInt64("99999999999999999999999").has_value());
}

TEST(StrToInt, ConversionFailureCarriesTheText) {
    try {
        StrToInt("21x");
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'21x' is not a valid integer value");
    }
    EXPECT_EQ(StrToIntDef("abc", 10), 10);
}

TEST(TextHelpers, TrimRemovesControlCharactersAndBlanks) {
    EXPECT_EQ(Trim(" \t220 Hi\r\n"), "220 Hi");
    EXPECT_EQ(TrimLeft("  a "), "a ");
    EXPECT_EQ(TrimRight("  a \r"), "  a");
    EXPECT_EQ(UpperCase("Unix-é"), "UNIX-é"); // only ASCII letters change
    EXPECT_TRUE(SameTextAscii("Folder", "FOLDER"));
}
