// Prints the code page 932 bytes of a fixed sample, so that the native and
// the Windows conversions can be compared byte for byte.
#include <cstdio>
#include <string>

#include "platform/Text.h"

int main() {
  static const char* const kSamples[] = {
      u8"かなカナｶﾅ漢字表示ソース", u8"①Ⅰ㈱～∥－￢¢£", u8"\u301C\u2016\u2212\u00A5\u203E\u2014\u2015",
      u8"é€😀한국어中文", u8"髙﨑纊褜", u8"ABC abc 0123",
  };
  for (const char* s : kSamples) {
    bool usedDefault = false;
    std::string out = platform::utf8ToCp932(s, &usedDefault);
    for (unsigned char c : out) std::printf("%02X", c);
    std::printf(" %d ", usedDefault ? 1 : 0);
    std::u16string back = platform::cp932ToUtf16(out);
    for (char16_t c : back) std::printf("%04X", static_cast<unsigned>(c));
    std::printf("\n");
  }
  return 0;
}
