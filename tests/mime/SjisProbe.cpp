// Prints utf8ToShiftJis of a fixed sample as hexadecimal, one line per
// text, so the native and the Windows conversions can be compared.
#include <cstdio>
#include <string>

#include "mime/Charset.h"

int main() {
  static const char* const kSamples[] = {
      u8"ひらがな カタカナ ｶﾀｶﾅ",                       // kana, half-width kana
      u8"漢字表示ソース能力十分予定申請髙﨑",             // kanji, 0x5C second bytes, IBM extensions
      u8"①Ⅰ㈱～∥－￢、。「」【】※〒",                  // symbols
      u8"\u301C\u2016\u2212\u00A5\u203E\u2014\u00A2",   // best-fit-only characters
      u8"é€한국어中文Ωж\U0001F600",                    // outside code page 932
      "\xEF\xBB\xBF" "BOM and ASCII 0123 ~\\",
  };
  for (const char* s : kSamples) {
    std::string out = mime::utf8ToShiftJis(s);
    for (unsigned char c : out) std::printf("%02X", c);
    std::printf("\n");
  }
  return 0;
}
