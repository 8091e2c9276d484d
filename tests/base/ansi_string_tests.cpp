#include <gtest/gtest.h>

#include <string>

#include "base/ansi_string.h"
#include "base/com.h"

using namespace korvane;

TEST(AnsiConversion, NullAndEmptyBstrsGiveAnEmptyString) {
    EXPECT_STREQ("", ToAnsi(static_cast<BSTR>(nullptr)).c_str());
    UniqueBstr empty(SysAllocString(L""));
    AnsiString converted = ToAnsi(empty.get());
    EXPECT_TRUE(converted.empty());
    EXPECT_STREQ("", converted.c_str());
}

TEST(AnsiConversion, ConvertsAMegabyteStringWhole) {
    std::wstring wide(1 << 20, L'x');
    wide[0] = L'h';
    wide.back() = L'z';
    UniqueBstr text(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
    AnsiString converted = ToAnsi(text.get());
    ASSERT_EQ(wide.size(), converted.length());
    EXPECT_EQ('h', converted.c_str()[0]);
    EXPECT_EQ('z', converted.c_str()[converted.length() - 1]);
    EXPECT_EQ('\0', converted.c_str()[converted.length()]);
}

TEST(AnsiConversion, RoundTripsThroughBstr) {
    UniqueBstr wide(ToBstr("http://example.com/a?b=c"));
    ASSERT_TRUE(wide);
    EXPECT_EQ(24u, wide.Length());
    EXPECT_STREQ("http://example.com/a?b=c", ToAnsi(wide.get()).c_str());
    UniqueBstr empty(ToBstr(nullptr));
    ASSERT_TRUE(empty);  // an empty BSTR, not a null one
    EXPECT_EQ(0u, empty.Length());
}

TEST(AnsiConversion, CharactersOutsideTheCodePageDoNotBreakTheString) {
    UniqueBstr text(SysAllocString(L"a\x4e2d\x6587z"));
    AnsiString converted = ToAnsi(text.get());
    ASSERT_GE(converted.length(), 2u);
    EXPECT_EQ('a', converted.c_str()[0]);
    EXPECT_EQ('z', converted.c_str()[converted.length() - 1]);
}

TEST(CopyBounded, CutsAndAlwaysTerminates) {
    char buffer[5];
    EXPECT_TRUE(CopyBounded(buffer, sizeof buffer, "abcd"));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_FALSE(CopyBounded(buffer, sizeof buffer, "abcdef"));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_TRUE(CopyBounded(buffer, sizeof buffer, nullptr));
    EXPECT_STREQ("", buffer);
    EXPECT_FALSE(CopyBounded(buffer, 0, "a"));
}
