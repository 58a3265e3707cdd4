#include <gtest/gtest.h>

#include <string>

#include "mime/Charset.h"

namespace {

TEST(LookupCharset, TableOrderCaseAndUnderscore) {
  const struct {
    const char* text;
    mime::CharsetCode code;
  } cases[] = {
      {"iso-8859-15", 20},             // not 8: the longer names come first
      {"ISO-8859-1", 8},
      {"utf-8", 6},
      {"KOI8-U", 1},                   // named, but not in the table
      {"ISO-2022-JP", 2},
      {"Shift_JIS", 3},                // "_" counts as "-"
      {"shift-jis", 3},
      {"x-unknown\"; x=utf-8", 6},     // a later name in the text matches
      {"UTF-8?B?abc?= =?ISO-2022-JP?B?", 2},  // table order, not text order
      {"euc-kr", 23},
      {"big5", 25},
      {"", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(mime::lookupCharset(c.text), c.code) << c.text;
}

TEST(JisToShiftJis, PairsEscapesAndModes) {
  EXPECT_EQ(mime::jisPairToShiftJis(0x30, 0x21), 0x889F);
  EXPECT_EQ(mime::jisPairToShiftJis(0x24, 0x22), 0x82A0);
  EXPECT_EQ(mime::jisPairToShiftJis(0x25, 0x3D), 0x835C);  // ソ: second byte 0x5C
  EXPECT_EQ(mime::jisPairToShiftJis(0x74, 0x26), 0xEAA4);  // row 0x74 lands in 0xE0-0xEF
  EXPECT_EQ(mime::jisPairToShiftJis(0x0D, 0x0A), 0);
  EXPECT_EQ(mime::jisPairToShiftJis(0x30, 0x7F), 0);

  const struct {
    std::string source;
    std::string expected;
    int modeAfter;
  } cases[] = {
      {"\x1B$B\x30\x21", "\x88\x9F", 1},
      {"\x1B$B\x24\x22\x1B(Babc", "\x82\xA0" "abc", 0},
      {"a\x1B(Jb", "ab", 0},
      {"\x1B$@\x1B(I\x31\x32", "\x31\x32", 0},          // other escapes vanish, bytes pass
      {std::string("\x1B$B\x24\x22\r\n\x24\x22", 9), std::string("\x82\xA0\0\0\x82\xA0", 6), 1},
      {"\x1B$B\x24\x22\x24", "\x82\xA0", 1},             // a lone byte ends the text
      {"ab\x1B$", "ab", 0},                              // an escape cut by the end
      {"ab\x1B", "ab", 0},
  };
  for (const auto& c : cases) {
    std::string out(c.source.size() + 1, 'x');
    int mode = 0;
    size_t n = mime::jisToShiftJis(c.source.c_str(), &out[0], &mode);
    EXPECT_EQ(out.substr(0, n), c.expected);
    EXPECT_EQ(out[n], '\0');
    EXPECT_EQ(mode, c.modeAfter);
  }

  // The mode carries across calls; the conversion may run in place.
  std::string first = "\x1B$B\x24\x22";
  std::string second = "\x24\x24\x1B(B.";
  int mode = 0;
  mime::jisToShiftJis(&first[0], &first[0], &mode);
  EXPECT_EQ(mode, 1);
  size_t n = mime::jisToShiftJis(&second[0], &second[0], &mode);
  EXPECT_EQ(second.substr(0, n), "\x82\xA2.");
  EXPECT_EQ(mode, 0);
}

TEST(JisBodyToShiftJis, ConvertsAndRemovesDotStuffing) {
  const struct {
    const char* body;
    const char* expected;
  } cases[] = {
      {"..a\r\n..b\r\n.c\r\nd.e\r\n", ".a\r\n.b\r\nc\r\nd.e\r\n"},
      {".x\r\n", ".x\r\n"},                         // a single leading dot of the text stays
      {"\x1B$B\x24\x22\x1B(B\r\n..\r\n", "\x82\xA0\r\n.\r\n"},
      {"\x1B$B\r\n\x1B(Bafter", ""},                 // CR LF in two-byte mode ends the text
      {"a\n\x1B$B\x1B(B.b\n\x1B$B\x24\x22\x1B(B.c", "a\nb\n\x82\xA0.c"},  // escapes between LF and dot
      {"..", "."},
  };
  for (const auto& c : cases) {
    std::string text = c.body;
    size_t n = mime::jisBodyToShiftJis(&text[0]);
    EXPECT_EQ(std::string(text.c_str()), c.expected);
    EXPECT_EQ(n, std::string(c.expected).size());
  }
}

// The converter's pair lookup against the arithmetic, for every two bytes.
TEST(JisToShiftJis, EveryPairAsTheArithmeticGivesIt) {
  for (unsigned j1 = 1; j1 < 256; ++j1) {
    for (unsigned j2 = 1; j2 < 256; ++j2) {
      if (j1 == 0x1B) continue;
      const char text[] = {'\x1B', '$', 'B', static_cast<char>(j1), static_cast<char>(j2), 0};
      char out[8] = {};
      int mode = 0;
      ASSERT_EQ(mime::jisToShiftJis(text, out, &mode), 2u);
      uint16_t expected = mime::jisPairToShiftJis(static_cast<unsigned char>(j1), static_cast<unsigned char>(j2));
      ASSERT_EQ(static_cast<unsigned char>(out[0]) << 8 | static_cast<unsigned char>(out[1]), expected) << j1 << " " << j2;
    }
  }
}

TEST(Utf8ToShiftJis, KanaBomUnmappedAndBrokenSequences) {
  const struct {
    std::string utf8;
    std::string expected;
  } cases[] = {
      {"\xE3\x81\x82", "あ"},
      {"\xEF\xBB\xBF\xE3\x81\x82", "あ"},                   // byte-order mark skipped
      {u8"漢字ｶﾅ～①", "漢字ｶﾅ～①"},
      {u8"a\u00E9b", "a b"},                                  // no code page 932 form: a space
      {u8"x\U0001F600\u3042", "x あ"},                        // a four-byte sequence is one character
      {"\x80\xE3\x81\x82", " あ"},                            // a stray continuation byte
      {"\xE3\x41\x42", " AB"},                                // a lead byte without its continuation
      {"ab\xE3\x81", "ab"},                                   // cut short by the end
      {"\xED\xA0\x80z", "   z"},                              // a surrogate: each byte refused
      {"a\xC0\xAF b", "a   b"},                              // an overlong "/" is no "/"
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(mime::utf8ToShiftJis(c.utf8.c_str()), c.expected) << c.utf8;
  EXPECT_EQ(mime::utf8ToShiftJis("\xE3\x81\x82\xE3\x81\x84", 3), "あ");
}

}  // namespace
