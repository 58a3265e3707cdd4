#include <gtest/gtest.h>

#include <string>

#include "mime/Decoders.h"

namespace {

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
