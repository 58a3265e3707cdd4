#include "mime/Charset.h"

#include <cstring>
#include <new>
#include <string_view>

#include "platform/Text.h"

namespace mime {
namespace {

struct CharsetName {
  const char* name;
  CharsetCode code;
};

// Search order: a substring search, so the longer ISO-8859 names come first.
const CharsetName kCharsetTable[] = {
    {"ISO-8859-10", 17}, {"ISO-8859-13", 18}, {"ISO-8859-14", 19}, {"ISO-8859-15", 20},
    {"ISO-2022-JP", 2},  {"SHIFT-JIS", 3},    {"ISO-8859-1", 8},   {"US-ASCII", 4},
    {"EUC-JP", 5},       {"UTF-8", 6},        {"UTF-16", 7},       {"ISO-8859-2", 9},
    {"ISO-8859-3", 10},  {"ISO-8859-4", 11},  {"ISO-8859-5", 12},  {"ISO-8859-6", 13},
    {"ISO-8859-7", 14},  {"ISO-8859-8", 15},  {"ISO-8859-9", 16},  {"KOI8-R", 21},
    {"ISO-2022-KR", 22}, {"EUC-KR", 23},      {"GB2312", 24},      {"BIG5", 25},
};

constexpr char kEsc = 0x1B;

}  // namespace

CharsetCode lookupCharset(const char* text, size_t length) {
  std::string folded(text, length);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    else if (c == '_') c = '-';
  }
  std::string_view view(folded);
  for (const CharsetName& entry : kCharsetTable)
    if (view.find(entry.name) != std::string_view::npos) return entry.code;
  return kCharsetOther;
}

CharsetCode lookupCharset(const char* text) { return lookupCharset(text, std::strlen(text)); }

namespace {

constexpr uint16_t pairToShiftJis(unsigned j1, unsigned j2) {
  if (j1 - 0x21 > 0x7E - 0x21 || j2 - 0x21 > 0x7E - 0x21) return 0;
  unsigned hi = (j1 - 0x21) / 2 + 0x81;
  hi += hi > 0x9F ? 0x40 : 0;
  unsigned lo = (j1 & 1) ? j2 + 0x1F + (j2 >= 0x60 ? 1 : 0) : j2 + 0x7E;
  return static_cast<uint16_t>(hi << 8 | lo);
}

// Every valid pair, indexed by (j1 - 0x21) * 94 + (j2 - 0x21).
struct PairTable {
  uint16_t sjis[94 * 94];
  constexpr PairTable() : sjis() {
    for (unsigned j1 = 0x21; j1 <= 0x7E; ++j1)
      for (unsigned j2 = 0x21; j2 <= 0x7E; ++j2) sjis[(j1 - 0x21) * 94 + (j2 - 0x21)] = pairToShiftJis(j1, j2);
  }
};
constexpr PairTable kPairs;

}  // namespace

uint16_t jisPairToShiftJis(unsigned char j1, unsigned char j2) { return pairToShiftJis(j1, j2); }

namespace {

// The conversion behind the entry points: runs of single-byte text are
// copied as they are, pairs go through the arithmetic. With `stopAtInvalid`
// the text ends at the first invalid pair (its two NULs are written), and
// the returned length is that of the text up to there. With `unstuff` a dot
// right after a LF of the converted text is dropped (pairs give neither).
size_t convertJis(const char* src, size_t length, char* dst, int* mode, bool stopAtInvalid, bool unstuff = false) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
  size_t r = 0;
  size_t w = 0;
  int m = *mode;
  bool afterLf = false;
  for (;;) {
    if (m == 0) {
      // Copy up to the next ESC or the end.
      while (r < length) {
        unsigned char c = s[r];
        if (c == 0 || c == kEsc) break;
        ++r;
        if (unstuff) {
          if (c == '.' && afterLf) {
            afterLf = false;
            continue;
          }
          afterLf = c == '\n';
        }
        dst[w++] = static_cast<char>(c);
      }
    } else {
      while (r + 1 < length) {
        unsigned char c = s[r];
        if (c == 0 || c == kEsc) break;
        unsigned char c2 = s[r + 1];  // within the text: c is not its NUL
        if (c2 == 0) break;
        unsigned i1 = c - 0x21u, i2 = c2 - 0x21u;
        uint16_t pair = i1 < 94 && i2 < 94 ? kPairs.sjis[i1 * 94 + i2] : 0;
        dst[w] = static_cast<char>(pair >> 8);
        dst[w + 1] = static_cast<char>(pair & 0xFF);
        w += 2;
        r += 2;
        afterLf = false;
        if (pair == 0 && stopAtInvalid) {
          *mode = m;
          dst[w] = 0;
          return w - 2;
        }
      }
    }
    if (r >= length || s[r] == 0) break;
    if (s[r] != kEsc) break;  // a lone byte in two-byte mode
    char a = r + 1 < length ? src[r + 1] : 0;
    char b = a && r + 2 < length ? src[r + 2] : 0;
    if (!a || !b) break;  // an escape cut by the end is dropped with it
    if (a == '$' && b == 'B') m = 1;
    else if (a == '(' && (b == 'B' || b == 'J')) m = 0;
    r += 3;
  }
  *mode = m;
  dst[w] = 0;
  return w;
}

}  // namespace

size_t jisToShiftJis(const char* src, size_t length, char* dst, int* mode) {
  return convertJis(src, length, dst, mode, false);
}

size_t jisToShiftJis(const char* src, char* dst, int* mode) {
  return jisToShiftJis(src, static_cast<size_t>(-1), dst, mode);
}

size_t jisTextToShiftJis(char* text, size_t length) {
  int mode = 0;
  return convertJis(text, length, text, &mode, true);
}

size_t jisBodyToShiftJis(char* text) {
  // Converted and without the dot of every line that POP3 dot-stuffed; an
  // invalid pair ends the text.
  int mode = 0;
  size_t n = convertJis(text, static_cast<size_t>(-1), text, &mode, true, true);
  // A text that begins with two dots loses the first.
  if (n >= 2 && text[0] == '.' && text[1] == '.') std::memmove(text, text + 1, n--);
  return n;
}

std::string utf8ToShiftJis(const char* text, size_t length) {
  try {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t n = 0;
    while (n < length && p[n]) ++n;
    std::string out;
    out.reserve(2 * n);  // at most two bytes for each character
    bool first = true;
    for (size_t i = 0; i < n;) {
      if (p[i] < 0x80) {
        out.push_back(static_cast<char>(p[i++]));
        first = false;
        continue;
      }
      char32_t cp = 0;
      int used = platform::decodeUtf8(p + i, n - i, &cp);
      if (used < 0) break;  // cut short by the end
      if (used == 0) {      // refused: one byte, one space
        out.push_back(' ');
        ++i;
        first = false;
        continue;
      }
      i += static_cast<size_t>(used);
      if (first && (cp == 0xFEFF || cp == 0xFFFE)) {  // byte-order mark
        first = false;
        continue;
      }
      first = false;
      char bytes[2];
      int k = cp < 0x10000 ? platform::cp932FromUnit(static_cast<char16_t>(cp), bytes) : 0;
      if (k == 0) out.push_back(' ');  // no code page 932 form
      else out.append(bytes, static_cast<size_t>(k));
    }
    return out;
  } catch (const std::bad_alloc&) {
    return std::string();
  }
}

std::string utf8ToShiftJis(const char* text) { return utf8ToShiftJis(text, std::strlen(text)); }

}  // namespace mime
