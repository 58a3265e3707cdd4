#include <gtest/gtest.h>

#include <cstring>

#include "platform/Text.h"

namespace {

TEST(ExecCharset, LiteralsAreShiftJis) {
  // ソ and 表 have 0x5C as their second byte.
  const char* text = "ソース表示";
  const unsigned char expected[] = {0x83, 0x5C, 0x81, 0x5B, 0x83, 0x58, 0x95, 0x5C, 0x8E, 0xA6};
  ASSERT_EQ(std::strlen(text), sizeof expected);
  EXPECT_EQ(0, std::memcmp(text, expected, sizeof expected));
}

TEST(CopyField, CutsToWidthLessOneAndClearsTheRest) {
  char field[8];
  std::memset(field, 'x', sizeof field);
  platform::copyField(field, "abc");
  EXPECT_STREQ(field, "abc");
  for (size_t i = 3; i < sizeof field; ++i) EXPECT_EQ(field[i], 0);
  platform::copyField(field, "0123456789");
  EXPECT_STREQ(field, "0123456");
  platform::copyField(field, nullptr);
  EXPECT_STREQ(field, "");
  EXPECT_EQ(platform::fieldLength("abc\0def", 7), 3u);
  EXPECT_EQ(platform::fieldLength("abcdefg", 4), 4u);
}

TEST(Cp932, RoundTripsJapaneseAndMarksUnmapped) {
  std::string sjis = "ソース表示 ～ Ａ１ｱ";
  std::string utf8 = platform::cp932ToUtf8(sjis);
  EXPECT_EQ(utf8, u8"ソース表示 ～ Ａ１ｱ");
  bool usedDefault = true;
  EXPECT_EQ(platform::utf8ToCp932(utf8, &usedDefault), sjis);
  EXPECT_FALSE(usedDefault);
  EXPECT_EQ(platform::utf8ToCp932(u8"a\U0001F600b\u00E9", &usedDefault), "a??b?");
  EXPECT_TRUE(usedDefault);
}

TEST(Utf8, MalformedSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(platform::utf8ToUtf16("\xE3\x81"), std::u16string(u"\uFFFD\uFFFD"));
  EXPECT_EQ(platform::utf8ToUtf16("\xC0\xAF"), std::u16string(u"\uFFFD\uFFFD"));
  EXPECT_EQ(platform::utf16ToUtf8(u"\U0001F600"), u8"\U0001F600");
}

// The rule every UTF-8 reader uses: well-formed characters only.
TEST(Utf8, DecodeRefusesOverlongSurrogateAndOutOfRangeForms) {
  const struct {
    const char* bytes;
    int length;  // returned: 1-4, 0 refused, -1 cut short
    char32_t codePoint;
  } cases[] = {
      {"A", 1, 0x41},
      {"\xC2\xA9", 2, 0xA9},
      {"\xE3\x81\x82", 3, 0x3042},
      {"\xF0\x9F\x98\x80", 4, 0x1F600},
      {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
      {"\xC0\xAF", 0, 0},          // overlong "/"
      {"\xC1\xBF", 0, 0},
      {"\xE0\x80\xAF", 0, 0},     // overlong in three bytes
      {"\xF0\x80\x80\xAF", 0, 0},  // and in four
      {"\xED\xA0\x80", 0, 0},     // surrogates
      {"\xED\xBF\xBF", 0, 0},
      {"\xF4\x90\x80\x80", 0, 0},  // above U+10FFFF
      {"\x80", 0, 0},               // stray continuation byte
      {"\xF8\x88\x80\x80\x80", 0, 0},
      {"\xE3\x41\x42", 0, 0},     // lead byte without continuation
      {"\xE3\x81", -1, 0},         // cut short
  };
  for (const auto& c : cases) {
    char32_t cp = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(c.bytes);
    EXPECT_EQ(platform::decodeUtf8(p, std::strlen(c.bytes), &cp), c.length) << c.bytes;
    if (c.length > 0) {
      EXPECT_EQ(cp, c.codePoint) << c.bytes;
    }
  }
}

}  // namespace
