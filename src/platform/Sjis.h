// Shift_JIS (code page 932) byte classes and character-safe cuts.
#pragma once
#include <cstddef>

namespace platform {

inline bool isSjisLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
inline bool isSjisTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// Width in bytes of the character at text[i] (2 for a lead byte that has a
// byte after it within `length`, else 1).
inline size_t sjisCharWidth(const char* text, size_t i, size_t length) {
  return isSjisLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < length ? 2 : 1;
}

// The longest prefix of text[0, length) of at most `limit` bytes that does
// not end inside a double-byte character.
inline size_t sjisCutLength(const char* text, size_t length, size_t limit) {
  if (length <= limit) return length;
  size_t i = 0;
  while (i < limit) {
    size_t width = sjisCharWidth(text, i, length);
    if (i + width > limit) break;
    i += width;
  }
  return i;
}

}  // namespace platform
