// Bounded text fields and code page 932 conversion.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// `s` without blanks (space, tab, CR, LF) at either end.
inline std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Copies src into a fixed-width field: clears all `width` bytes, copies at
// most width-1 bytes, so the field always ends with a NUL.
void copyField(char* field, size_t width, const char* src);
void copyField(char* field, size_t width, const char* src, size_t srcLength);

template <size_t N>
inline void copyField(char (&field)[N], const char* src) { copyField(field, N, src); }

// Length of a NUL-terminated string held in a field of `width` bytes
// (stops at the width if the field has no NUL).
size_t fieldLength(const char* field, size_t width);

// The text a field holds (up to its NUL or its width).
inline std::string fieldText(const char* field, size_t width) { return std::string(field, fieldLength(field, width)); }
template <size_t N>
inline std::string fieldText(const char (&field)[N]) { return fieldText(field, N); }

// The one rule for reading UTF-8: the character at `p`, of which `available`
// bytes are there. Returns its length (1 to 4) and sets *codePoint; returns
// 0 when the bytes do not begin a well-formed character (a stray
// continuation byte, a lead byte without its continuation bytes, an
// overlong form, a surrogate, or a value above U+10FFFF) - the caller then
// takes one byte as refused; returns -1 when a lead byte needs more bytes
// than are available.
int decodeUtf8(const unsigned char* p, size_t available, char32_t* codePoint);

// Code page 932 bytes of one UTF-16 unit (no best-fit mapping): returns 1 or
// 2 and writes them to out, or 0 when the unit has no mapping.
int cp932FromUnit(char16_t unit, char* out);

// Shift_JIS (code page 932) <-> UTF-16, as the Windows conversion does
// without best-fit mapping: an invalid or unmapped byte sequence becomes
// U+30FB on the way in, an unmapped character becomes '?' on the way out.
std::u16string cp932ToUtf16(const std::string& sjis);
// Returns the code page 932 bytes; *usedDefault is set when a character
// had no mapping and was replaced by '?'.
std::string utf16ToCp932(const std::u16string& text, bool* usedDefault = nullptr);

// Conveniences over the two above.
std::string cp932ToUtf8(const std::string& sjis);
std::string utf8ToCp932(const std::string& utf8, bool* usedDefault = nullptr);
std::u16string utf8ToUtf16(const std::string& utf8);
std::string utf16ToUtf8(const std::u16string& text);

#ifdef _WIN32
std::wstring toWide(const char* sjis);
std::string fromWide(const wchar_t* text);
#endif

}  // namespace platform
