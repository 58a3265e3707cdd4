#include <gtest/gtest.h>

#include <string>

#include "mime/Decoders.h"

namespace {

struct Base64Case {
  const char* input;
  int32_t length;        // returned
  const char* expected;  // data afterwards (the input itself when decoding fails)
};

TEST(Base64Decode, GroupsPaddingAndFailure) {
  const Base64Case cases[] = {
      {"QUJD", 3, "ABC"},            // four characters, three bytes
      {"QUI=", 2, "AB"},             // one "=": two bytes
      {"QQ==", 1, "A"},              // two "=": one byte
      {"QUJDREVG", 6, "ABCDEF"},
      {"QQ==QUI=", 3, "AAB"},        // padded groups one after another
      {"QUJDRA", 4, "ABCD"},         // unpadded final group: its whole bytes
      {"QUJDREU", 5, "ABCDE"},
      {"QUJDR", 3, "ABC"},           // one lone character holds no byte
      {"QUJ D", 0, "QUJ D"},         // a space: not in the alphabet, unchanged
      {"QU-J", 0, "QU-J"},           // a hyphen likewise
      {"", 0, ""},
      {"5pel5pys", 6, "\xE6\x97\xA5\xE6\x9C\xAC"},
  };
  for (const Base64Case& c : cases) {
    std::string data = c.input;
    data.push_back('\0');
    int32_t n = mime::base64Decode(&data[0], static_cast<int32_t>(data.size() - 1));
    EXPECT_EQ(n, c.length) << c.input;
    EXPECT_EQ(std::string(data.c_str()), c.expected) << c.input;

    std::string text = c.input;
    mime::base64DecodeInPlace(&text[0]);
    EXPECT_EQ(std::string(text.c_str()), c.expected) << c.input;
  }
}

TEST(Base64Decode, BinaryBytesAndNulTermination) {
  std::string data = "AAH/gA==XX";  // 00 01 FF 80, then two bytes the length excludes
  EXPECT_EQ(mime::base64Decode(&data[0], 8), 4);
  EXPECT_EQ(data.substr(0, 5), std::string("\x00\x01\xFF\x80\x00", 5));
  EXPECT_EQ(data.substr(8), "XX");  // nothing beyond the given length is touched
}

// Bodies: white space skipped, a NUL ends the text, and an undecodable text
// is left without its white space, however far into it the bad character is.
TEST(Base64DecodeBody, WhiteSpaceNulAndLateFailure) {
  const struct {
    const char* input;
    bool valid;
    const char* expected;
  } cases[] = {
      {"QUJD\r\nREVG\r\n", true, "ABCDEF"},
      {"Q UJ\r\nD", true, "ABC"},                         // white space inside a group
      {"QUJDREVG\r\nQUJD-QUJD\r\n", false, "QUJDREVGQUJD-QUJD"},  // bad after whole groups
      {"QUI=\r\nQUJD\r\nQU*D", false, "QUI=QUJDQU*D"},        // bad after a padded group
      {"QUJD\r\nQQ==", true, "ABCA"},
  };
  for (const auto& c : cases) {
    std::string data = c.input;
    data.push_back('\0');
    size_t n = 0;
    EXPECT_EQ(mime::base64DecodeBody(&data[0], data.size() - 1, &n), c.valid) << c.input;
    EXPECT_EQ(data.substr(0, n), c.expected) << c.input;
    if (!c.valid) EXPECT_EQ(data[n], '\0') << c.input;
  }
  std::string nul("QUJD\0QU-D", 10);
  size_t n = 0;
  EXPECT_TRUE(mime::base64DecodeBody(&nul[0], 9, &n));
  EXPECT_EQ(nul.substr(0, n), "ABC");
}

TEST(QuotedPrintableDecode, SoftBreaksEscapesAndClosingLineBreak) {
  const struct {
    const char* input;
    const char* expected;
  } cases[] = {
      {"abc=\r\ndef\r\n", "abcdef"},          // soft line break joins, closing CR LF dropped
      {"a=3Db=3dc\r\n", "a=b=c"},             // upper- and lower-case hex digits
      {"line1\r\nline2\r\n", "line1\r\nline2"},
      {"=E3=81=82\r\n", "\xE3\x81\x82"},
      {"end=\r\n", "end"},                    // a soft break at the very end
      {"=\r\n=41\r\n", "A"},
      {"==\r\n41\r\n", "A"},                  // the soft break is removed before "=41" is read
      {"=4\r\n", "=4"},                       // incomplete escapes stay
      {"=G1 x\r\n", "=G1 x"},
      {"=", "="},
      {"no line break", "no line break"},     // only a closing CR LF is dropped
      {"", ""},
  };
  for (const auto& c : cases) {
    std::string text = c.input;
    int32_t n = mime::quotedPrintableDecode(&text[0]);
    EXPECT_EQ(std::string(text.c_str()), c.expected) << c.input;
    EXPECT_EQ(n, static_cast<int32_t>(std::string(c.expected).size())) << c.input;
  }
}

}  // namespace
