#include "platform/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace platform {
namespace {

TEST(TextConversionTest, KoreanTextRoundTrips) {
  struct Case {
    std::string_view cp949;
    std::string_view utf8;
    std::u16string_view utf16;
  };
  const Case cases[] = {
      {"\xC6\xC7\xB8\xC5", "판매", u"판매"},
      {"\xA2\xD4", "‡", u"‡"},
      {"Ordella\xB0\xD4\xC0\xCC\xC6\xAE\xBF\xFE\xC0\xCC", "Ordella게이트웨이",
       u"Ordella게이트웨이"},
      {"\xBA\xB9\xBE\xE0 12", "복약 12", u"복약 12"},
      {"", "", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cp949ToUtf8(c.cp949), c.utf8) << c.utf8;
    EXPECT_EQ(Utf8ToCp949(c.utf8), c.cp949) << c.utf8;
    EXPECT_EQ(Cp949ToUtf16(c.cp949), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16ToCp949(c.utf16), c.cp949) << c.utf8;
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.utf8;
  }
  // Characters CP949 lacks still pass between the two Unicode forms.
  EXPECT_EQ(Utf8ToUtf16("ok \xF0\x9F\x98\x80"), u"ok \U0001F600");
  EXPECT_EQ(Utf16ToUtf8(u"ok \U0001F600"), "ok \xF0\x9F\x98\x80");
  EXPECT_FALSE(
      Utf16ToUtf8(std::u16string_view(u"\xD800"
                                      "a")));
}

TEST(TextConversionTest, InvalidOrUnmappableInputGivesNothing) {
  EXPECT_FALSE(Cp949ToUtf8("ab\xC6"));  // lead byte without its second byte
  EXPECT_FALSE(Cp949ToUtf8("\x80"));
  EXPECT_FALSE(
      Cp949ToUtf8("\xFF"
                  "a"));
  EXPECT_FALSE(Cp949ToUtf16("\xC6\xC7\xC6"));
  EXPECT_FALSE(Utf8ToCp949("\xC3"));                 // cut UTF-8 sequence
  EXPECT_FALSE(Utf8ToCp949("ok \xF0\x9F\x98\x80"));  // an emoji has no CP949 form
  EXPECT_FALSE(
      Utf16ToCp949(std::u16string_view(u"\xD800"
                                       "a")));  // lone surrogate
}

TEST(TextConversionTest, LongTextsConvertWhole) {
  std::string cp949;
  for (int i = 0; i < 5000; ++i) cp949 += "\xC6\xC7x";
  std::optional<std::string> utf8 = Cp949ToUtf8(cp949);
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->size(), 5000U * 4);
  EXPECT_EQ(Utf8ToCp949(*utf8), cp949);
}

TEST(Cp949CutTest, NeverSplitsATwoByteCharacter) {
  const std::string_view text =
      "a\xC6\xC7\xB8\xC5"
      "b";  // "a판매b"
  struct Case {
    std::string_view input;
    size_t max;
    std::string_view kept;
  };
  const Case cases[] = {
      {text, 0, ""},          {text, 1, "a"},         {text, 2, "a"},
      {text, 3, "a\xC6\xC7"}, {text, 4, "a\xC6\xC7"}, {text, 5, "a\xC6\xC7\xB8\xC5"},
      {text, 100, text},      {"ab\xC6", 10, "ab"},  // a dangling lead byte is dropped
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CutCp949(c.input, c.max), c.kept) << c.max;
  }
}

TEST(Cp949CutTest, FixedWidthPadsOrCutsToExactlyTheWidth) {
  struct Case {
    std::string_view input;
    size_t width;
    char fill;
    std::string_view field;
  };
  const Case cases[] = {
      {"\xC6\xC7\xB8\xC5", 3, ' ', "\xC6\xC7 "},
      {"\xC6\xC7\xB8\xC5", 4, ' ', "\xC6\xC7\xB8\xC5"},
      {"ab", 4, '0', "ab00"},
      {"abcdef", 3, ' ', "abc"},
      {"", 2, ' ', "  "},
      {"abc", 0, ' ', ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FixedWidth(c.input, c.width, c.fill), c.field) << c.input << " " << c.width;
  }
}

TEST(Cp949CutTest, CopyBoundedStaysInsideTheArea) {
  struct Case {
    std::string_view input;
    size_t size;
    std::string_view copied;
    bool whole;
  };
  const Case cases[] = {
      {"abc", 4, "abc", true},
      {"abcd", 4, "abc", false},
      {"a\xC6\xC7\xB8\xC5", 5, "a\xC6\xC7", false},
      {"a\xC6\xC7", 3, "a", false},
      {"", 1, "", true},
      {std::string_view(), 3, "", true},  // an empty view without data
      {"x", 1, "", false},
  };
  for (const Case& c : cases) {
    char area[16];
    std::memset(area, '#', sizeof area);
    EXPECT_EQ(CopyBounded(area, c.size, c.input), c.whole) << c.input;
    EXPECT_EQ(std::string_view(area), c.copied) << c.input;
    for (size_t i = c.size; i < sizeof area; ++i) ASSERT_EQ(area[i], '#') << "byte " << i;
  }
  char untouched = '#';
  EXPECT_FALSE(CopyBounded(&untouched, 0, "x"));
  EXPECT_EQ(untouched, '#');
}

TEST(HexTest, RoundTripsEveryByte) {
  EXPECT_EQ(ToHex("\x1C\xA2"), "1CA2");
  EXPECT_EQ(FromHex("1ca2"), "\x1C\xA2");
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  EXPECT_EQ(FromHex(ToHex(all)), all);
  for (std::string_view bad : {"1", "1G", "0x", " 1"}) EXPECT_FALSE(FromHex(bad)) << bad;
}

TEST(PackedDecimalTest, PacksTwoDigitsPerByte) {
  struct Case {
    std::string_view digits;
    std::string_view packed;
  };
  const Case cases[] = {
      {"1234", "\x12\x34"}, {"123", "\x01\x23"}, {"0", std::string_view("\x00", 1)}, {"", ""},
      {"99", "\x99"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PackDecimal(c.digits), c.packed) << c.digits;
  }
  EXPECT_EQ(UnpackDecimal("\x01\x23"), "0123");
  EXPECT_FALSE(PackDecimal("12a"));
  EXPECT_FALSE(PackDecimal("-1"));
  EXPECT_FALSE(UnpackDecimal("\x1A"));
  EXPECT_FALSE(UnpackDecimal("\xA1"));
}

TEST(ZeroPaddedTest, PadsOrRefusesWhatDoesNotFit) {
  struct Case {
    long long value;
    int width;
    std::optional<std::string> field;
  };
  const Case cases[] = {
      {42, 5, "00042"},
      {-42, 5, "-0042"},
      {12345, 5, "12345"},
      {123456, 5, std::nullopt},
      {-1234, 4, std::nullopt},
      {0, 1, "0"},
      {LLONG_MIN, 20, "-9223372036854775808"},
      {LLONG_MIN, 19, std::nullopt},
      {LLONG_MAX, 19, "9223372036854775807"},
      {1, 0, std::nullopt},
      {1, -3, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZeroPadded(c.value, c.width), c.field) << c.value << " in " << c.width;
  }
}

}  // namespace
}  // namespace platform
