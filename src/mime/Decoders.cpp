#include "mime/Decoders.h"

#include <cstring>

namespace mime {
namespace {

struct HexTable {
  signed char value[256];
  constexpr HexTable() : value() {
    for (int c = 0; c < 256; ++c) value[c] = -1;
    for (int c = '0'; c <= '9'; ++c) value[c] = static_cast<signed char>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) value[c] = static_cast<signed char>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) value[c] = static_cast<signed char>(c - 'a' + 10);
  }
};
constexpr HexTable kHex;

}  // namespace

size_t quotedPrintableDecode(char* text, size_t length) {
  // The closing line break is not part of the data.
  size_t end = length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n' ? length - 2 : length;
  auto softBreak = [&](size_t at) {
    return text[at] == '=' && at + 2 < length && text[at + 1] == '\r' && text[at + 2] == '\n';
  };
  // The next byte that is not part of a soft line break, from `at` on.
  auto skipSoft = [&](size_t at) {
    while (at < end && softBreak(at)) at += 3;
    return at;
  };
  size_t w = 0;
  size_t r = 0;
  while (r < end) {
    const void* eq = std::memchr(text + r, '=', end - r);
    size_t at = eq ? static_cast<size_t>(static_cast<const char*>(eq) - text) : end;
    if (at > r) {
      if (w != r) std::memmove(text + w, text + r, at - r);
      w += at - r;
      r = at;
    }
    if (r >= end) break;
    if (softBreak(r)) {
      r += 3;
      continue;
    }
    // An "=" of the joined text: with the two bytes that follow it there
    // (soft line breaks between them are not part of it).
    size_t a = skipSoft(r + 1);
    size_t b = a < end ? skipSoft(a + 1) : end;
    if (b < end) {
      int hi = kHex.value[static_cast<unsigned char>(text[a])];
      int lo = kHex.value[static_cast<unsigned char>(text[b])];
      if ((hi | lo) >= 0) {
        text[w++] = static_cast<char>(hi << 4 | lo);
        r = b + 1;
        continue;
      }
    }
    text[w++] = '=';
    ++r;
  }
  text[w] = 0;
  return w;
}

int32_t quotedPrintableDecode(char* text) {
  return static_cast<int32_t>(quotedPrintableDecode(text, std::strlen(text)));
}

}  // namespace mime
