#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/Base64.h"

namespace platform {
namespace {

TEST(Base64, EncodesInEachForm) {
  struct Row {
    std::string in;
    const char* standard;
    const char* url;
    const char* mailbox;
  } rows[] = {
      {"", "", "", ""},
      {"M", "TQ==", "TQ", "TQ"},
      {"Ma", "TWE=", "TWE", "TWE"},
      {"Man", "TWFu", "TWFu", "TWFu"},
      {"Man!", "TWFuIQ==", "TWFuIQ", "TWFuIQ"},
      {std::string("\xff\xfe\x00\x80", 4), "//4AgA==", "__4AgA", ",,4AgA"},
      {"\xfb\xff", "+/8=", "-_8", "+,8"},
      {std::string("\0u\0p", 4), "AHUAcA==", "AHUAcA", "AHUAcA"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(base64Encode(r.in), r.standard) << r.in;
    EXPECT_EQ(base64Encode(r.in, Base64Form::kUrl), r.url) << r.in;
    EXPECT_EQ(base64Encode(r.in, Base64Form::kImapMailbox), r.mailbox) << r.in;
    EXPECT_EQ(base64Length(r.in.size()), std::string(r.standard).size());
    std::string decoded;
    EXPECT_TRUE(base64Decode(r.standard, &decoded));
    EXPECT_EQ(decoded, r.in);
  }
  std::string bytes77;
  for (int i = 0; i < 77; ++i) bytes77 += static_cast<char>(i * 7 + 200);
  std::string text = "kept";
  base64Encode(bytes77.data(), bytes77.size(), &text);  // appends
  EXPECT_EQ(text.substr(0, 4), "kept");
  text.erase(0, 4);
  EXPECT_EQ(text.size(), 104u);
  EXPECT_EQ(text.substr(102, 2), text.substr(102, 1) + "=");  // 77 = 25 * 3 + 2: one "="
  EXPECT_NE(text[102], '=');
  std::string decoded;
  EXPECT_TRUE(base64Decode(text, &decoded));
  EXPECT_EQ(decoded, bytes77);
  // In lines of 76 characters: 104 = 76 + 28.
  EXPECT_EQ(base64EncodeLines(bytes77, 76), text.substr(0, 76) + "\r\n" + text.substr(76));
  EXPECT_EQ(base64EncodeLines("Man", 76), "TWFu");
  EXPECT_EQ(base64EncodeLines("", 76), "");
}

// Into a string (SASL challenges): white space skipped, "=" only at the end.
TEST(Base64, DecodesTextStrictly) {
  struct Row {
    const char* in;
    bool valid;
    std::string out;
  } rows[] = {
      {"+/8=\r\n", true, "\xfb\xff"},
      {"TW\tFu IQ==", true, "Man!"},
      {"ab=c", false, ""},   // data after the padding
      {"TQ===", false, ""},  // more padding than a group has
      {"a-b", false, ""},    // the URL alphabet is not taken
      {"a*b=", false, ""},
      {"", true, ""},
  };
  for (const Row& r : rows) {
    std::string out;
    EXPECT_EQ(base64Decode(r.in, &out), r.valid) << r.in;
    if (r.valid) EXPECT_EQ(out, r.out) << r.in;
  }
}

// The SMTP challenge decoder: the leading run of alphabet characters.
TEST(Base64, DecodesLeadingRunUpToEndOrForeignCharacter) {
  struct Row {
    const char* in;
    std::string out;
  } rows[] = {
      {"TWFu\r\n", "Man"},   // a reply's line end
      {"TWFu TWFu", "Man"},  // a blank ends the text
      {"TWE=TWFu", "Ma"},    // padding ends it too
      {"TQ==", "M"},
      {"TWF", "Ma"},  // a short last group
      {"T", ""},
      {"*abc", ""},
      {"", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(base64DecodeLeading(r.in, std::strlen(r.in)), r.out) << r.in;
}

// In place (received mail): the data is replaced, or left as it was.
TEST(Base64, DecodesInPlaceGroupsPaddingAndFailure) {
  struct Row {
    const char* input;
    int32_t length;        // returned
    const char* expected;  // data afterwards (the input itself when decoding fails)
  } rows[] = {
      {"QUJD", 3, "ABC"},  // four characters, three bytes
      {"QUI=", 2, "AB"},   // one "=": two bytes
      {"QQ==", 1, "A"},    // two "=": one byte
      {"QUJDREVG", 6, "ABCDEF"},
      {"QQ==QUI=", 3, "AAB"},  // padded groups one after another
      {"QUJDRA", 4, "ABCD"},   // unpadded final group: its whole bytes
      {"QUJDREU", 5, "ABCDE"},
      {"QUJDR", 3, "ABC"},      // one lone character holds no byte
      {"QUJ D", 0, "QUJ D"},    // a space: not in the alphabet, unchanged
      {"QU-J", 0, "QU-J"},      // a hyphen likewise
      {"", 0, ""},
      {"5pel5pys", 6, "\xE6\x97\xA5\xE6\x9C\xAC"},
  };
  for (const Row& r : rows) {
    std::string data = r.input;
    data.push_back('\0');
    int32_t n = base64Decode(&data[0], static_cast<int32_t>(data.size() - 1));
    EXPECT_EQ(n, r.length) << r.input;
    EXPECT_EQ(std::string(data.c_str()), r.expected) << r.input;

    std::string text = r.input;
    base64DecodeInPlace(&text[0]);
    EXPECT_EQ(std::string(text.c_str()), r.expected) << r.input;
  }
  std::string data = "AAH/gA==XX";  // 00 01 FF 80, then two bytes the length excludes
  EXPECT_EQ(base64Decode(&data[0], 8), 4);
  EXPECT_EQ(data.substr(0, 5), std::string("\x00\x01\xFF\x80\x00", 5));
  EXPECT_EQ(data.substr(8), "XX");  // nothing beyond the given length is touched
}

// Bodies: white space skipped, a NUL ends the text, and an undecodable text
// is left without its white space, however far into it the bad character is.
TEST(Base64, DecodesBodyWhiteSpaceNulAndLateFailure) {
  const struct {
    const char* input;
    bool valid;
    const char* expected;
  } rows[] = {
      {"QUJD\r\nREVG\r\n", true, "ABCDEF"},
      {"Q UJ\r\nD", true, "ABC"},                                 // white space inside a group
      {"QUJDREVG\r\nQUJD-QUJD\r\n", false, "QUJDREVGQUJD-QUJD"},  // bad after whole groups
      {"QUI=\r\nQUJD\r\nQU*D", false, "QUI=QUJDQU*D"},            // bad after a padded group
      {"QUJD\r\nQQ==", true, "ABCA"},
  };
  for (const auto& r : rows) {
    std::string data = r.input;
    data.push_back('\0');
    size_t n = 0;
    EXPECT_EQ(base64DecodeBody(&data[0], data.size() - 1, &n), r.valid) << r.input;
    EXPECT_EQ(data.substr(0, n), r.expected) << r.input;
    if (!r.valid) EXPECT_EQ(data[n], '\0') << r.input;
  }
  std::string nul("QUJD\0QU-D", 10);
  size_t n = 0;
  EXPECT_TRUE(base64DecodeBody(&nul[0], 9, &n));
  EXPECT_EQ(nul.substr(0, n), "ABC");
}

}  // namespace
}  // namespace platform
