#include "companions/util/ordella_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/testing/temp_prefix.h"

namespace {

const auto* Bytes(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

// "가" in CP949, repeated.
std::string Korean(int characters) {
  std::string text;
  for (int i = 0; i < characters; ++i) text += "\xB0\xA1";
  return text;
}

TEST(CheckValues, CheckByteIsXorWithBit0x20AndIgnoresATrailingZero) {
  struct Case {
    std::string after_stx;
    unsigned char expected;
  };
  const Case cases[] = {
      {"", 0x20},
      {"\x40", 0x60},
      {"\x20\x20", 0x20},
      // The sign-on answer: "840" and 21 empty fields.
      {"XX0035TRM840" + std::string(21, '\x1C') + "\x03", 0x6E},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.after_stx);
    const int size = static_cast<int>(c.after_stx.size());
    EXPECT_EQ(UtilCheckByte(Bytes(c.after_stx), size), c.expected);
    const std::string with_zero = c.after_stx + '\0';
    EXPECT_EQ(UtilCheckByte(Bytes(with_zero), size + 1), c.expected);
  }
}

TEST(CheckValues, Check16KnownAnswersAndSensitivity) {
  EXPECT_EQ(UtilCheck16(Bytes("123456789"), 9), 0x29B1);
  EXPECT_EQ(UtilCheck16(Bytes("A"), 1), 0xB915);
  EXPECT_EQ(UtilCheck16(nullptr, 0), 0xFFFF);
  // A barcode chunk whose data differ in one bit, or in the order of two bytes, checks
  // differently (an exclusive-or would miss the second).
  const std::string chunk = "BDBC0100005ABCDE\x03";
  std::string one_bit = chunk;
  one_bit[12] ^= 0x01;
  std::string swapped = chunk;
  std::swap(swapped[12], swapped[13]);
  const int size = static_cast<int>(chunk.size());
  EXPECT_NE(UtilCheck16(Bytes(chunk), size), UtilCheck16(Bytes(one_bit), size));
  EXPECT_NE(UtilCheck16(Bytes(chunk), size), UtilCheck16(Bytes(swapped), size));
}

std::vector<std::string> Split(std::string text, char separator, int max_fields) {
  std::vector<char*> slots(static_cast<size_t>(max_fields) + 2, nullptr);
  const int count = UtilSplitFieldsN(text.data(), slots.data(), max_fields, separator);
  // Nothing is written past the slots the caller gave.
  EXPECT_EQ(slots[static_cast<size_t>(max_fields)], nullptr);
  return std::vector<std::string>(slots.begin(), slots.begin() + count);
}

TEST(SplitFields, SplitsAtEachSeparatorWithinTheSlotsGiven) {
  struct Case {
    std::string text;
    char separator;
    int max_fields;
    std::vector<std::string> fields;
  };
  const Case cases[] = {
      {"", '\x1C', 8, {""}},
      {"\x02XX0025TRM835\x1C"
       "8801234567890\x1C\x1C"
       "a\x1D"
       "b\x03",
       '\x1C',
       8,
       {"\x02XX0025TRM835", "8801234567890", "",
        "a\x1D"
        "b\x03"}},
      {"\x1C\x1C", '\x1C', 8, {"", "", ""}},
      {"a\x1D"
       "b\x1D",
       '\x1D',
       8,
       {"a", "b", ""}},
      {"x|y|z", '|', 8, {"x", "y", "z"}},
      {"line1\nline2", '\n', 8, {"line1", "line2"}},
      // The last slot keeps the rest unsplit.
      {"a|b|c|d", '|', 2, {"a", "b|c|d"}},
      {"a|b", '|', 1, {"a|b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Split(c.text, c.separator, c.max_fields), c.fields);
  }
  char text[] = "a|b";
  char* slot = nullptr;
  EXPECT_EQ(UtilSplitFieldsN(text, &slot, 0, '|'), 0);
  EXPECT_EQ(slot, nullptr);
}

TEST(SplitFields, UnboundedFormSplitsEveryField) {
  std::string text = "1|2|3|4|5|6|7|8|9|10";
  char* slots[16] = {};
  ASSERT_EQ(UtilSplitFields(text.data(), slots, '|'), 10);
  EXPECT_STREQ(slots[0], "1");
  EXPECT_STREQ(slots[9], "10");
}

// Every line that UtilNextLine cuts from `source`, checking that it stays inside its buffer.
std::vector<std::string> Lines(int width, const std::string& source) {
  std::vector<std::string> lines;
  size_t offset = 0;
  for (;;) {
    std::vector<char> out(static_cast<size_t>(width) + 8, '\x7E');
    const int consumed = UtilNextLine(width, source.c_str() + offset, out.data());
    for (size_t i = static_cast<size_t>(width) + 1; i < out.size(); ++i) {
      EXPECT_EQ(out[i], '\x7E') << "written past width + 1";
    }
    if (consumed == 0) break;
    lines.emplace_back(out.data());
    offset += static_cast<size_t>(consumed);
    if (offset > source.size() || lines.size() > source.size()) {
      ADD_FAILURE() << "consumed past the text";
      break;
    }
  }
  EXPECT_EQ(offset, source.size());
  return lines;
}

TEST(NextLine, CutsAtLineFeedsAndWidthsWithoutSplittingKorean) {
  struct Case {
    int width;
    std::string source;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {16, "ABC\r\nDEF\n", {"ABC", "DEF"}},
      {16, "\n\nX", {"", "", "X"}},
      {16, "A\rB", {"A\rB"}},
      // One ASCII byte shifts every Korean character: the line is cut one byte early.
      {16, "A" + Korean(8), {"A" + Korean(7), Korean(1)}},
      // A line that fills its width takes its own line end; no empty line follows.
      {16, Korean(8) + "\r\nX", {Korean(8), "X"}},
      {16, "0123456789ABCDEFGHIJ", {"0123456789ABCDEF", "GHIJ"}},
      {34, Korean(17) + "END", {Korean(17), "END"}},
      {34, "1" + Korean(17) + "\n", {"1" + Korean(16), Korean(1)}},
      {40, "Total:" + Korean(20) + "\nnext", {"Total:" + Korean(17), Korean(3), "next"}},
      {40, Korean(25), {Korean(20), Korean(5)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "width " << c.width << ": " << c.source);
    EXPECT_EQ(Lines(c.width, c.source), c.lines);
  }
}

TEST(NextLine, EndOfTextAndUnusableWidths) {
  char out[8] = "stale";
  EXPECT_EQ(UtilNextLine(16, "", out), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(UtilNextLine(16, nullptr, out), 0);
  EXPECT_EQ(UtilNextLine(1, Korean(1).c_str(), out), 0);
  EXPECT_EQ(UtilNextLine(0, "A", out), 0);
  EXPECT_EQ(UtilNextLine(-5, "A", out), 0);
}

TEST(RegistryReads, TextsAndNumbersBelowTheCurrentUser) {
  platform::testing::TempPrefix prefix;
  const char* key = "Software\\Tavenor\\Update";
  ASSERT_EQ(platform::RegSetString(key, "path", "c:\\tavenor"), platform::RegStatus::kOk);
  ASSERT_EQ(platform::RegSetString(key, "name", "\xB0\xA1\xB3\xAA"), platform::RegStatus::kOk);
  ASSERT_EQ(platform::RegSetDword(key, "count", 10), platform::RegStatus::kOk);
  ASSERT_EQ(platform::RegSetString(key, "text_number", "42"), platform::RegStatus::kOk);
  ASSERT_EQ(platform::RegSetString(key, "not_number", "abc"), platform::RegStatus::kOk);

  char out[64] = "preset";
  EXPECT_EQ(UtilRegReadText(key, "path", out, sizeof out), 1);
  EXPECT_STREQ(out, "c:\\tavenor");

  // Room for three bytes and the zero: the second Korean character does not fit whole.
  char small[4] = "xyz";
  EXPECT_EQ(UtilRegReadText(key, "name", small, sizeof small), 1);
  EXPECT_STREQ(small, "\xB0\xA1");

  // Missing values and values of another type leave the caller's default.
  for (const char* name : {"missing", "count"}) {
    char preset[16] = "default";
    EXPECT_EQ(UtilRegReadText(key, name, preset, sizeof preset), 0) << name;
    EXPECT_STREQ(preset, "default") << name;
  }
  char preset[16] = "default";
  EXPECT_EQ(UtilRegReadText("Software\\Missing", "path", preset, sizeof preset), 0);
  EXPECT_EQ(UtilRegReadText(key, "path", preset, 0), 0);
  EXPECT_STREQ(preset, "default");

  EXPECT_EQ(UtilRegReadInt(key, "count"), 10);
  EXPECT_EQ(UtilRegReadInt(key, "text_number"), 42);
  EXPECT_EQ(UtilRegReadInt(key, "not_number"), 0);
  EXPECT_EQ(UtilRegReadInt(key, "missing"), 0);
}

}  // namespace
