// Charset names as small codes, and the conversions of ISO-2022-JP and
// UTF-8 text into Shift_JIS.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace mime {

// 0: no charset named; 1: a name outside the table; 2 to 25: the table.
using CharsetCode = int32_t;
enum : CharsetCode {
  kCharsetNone = 0,
  kCharsetOther = 1,
  kCharsetIso2022Jp = 2,
  kCharsetShiftJis = 3,
  kCharsetUsAscii = 4,
  kCharsetEucJp = 5,
  kCharsetUtf8 = 6,
  kCharsetUtf16 = 7,
  kCharsetIso8859_1 = 8,
};

// The code of the first table name (in search order) that occurs anywhere
// in the text, ASCII letters compared without case and "_" taken as "-"
// (so "Shift_JIS" is code 3); 1 when none occurs. Never 0.
CharsetCode lookupCharset(const char* text, size_t length);
CharsetCode lookupCharset(const char* text);

// The Shift_JIS pair of a JIS X 0208 code (first byte high), or 0 when a
// byte lies outside 0x21-0x7E.
uint16_t jisPairToShiftJis(unsigned char j1, unsigned char j2);

// Converts ISO-2022-JP text (up to its NUL, or `length` bytes) into
// Shift_JIS. `*mode` (0 single-byte, 1 two-byte) is read at the start and
// left as the text ends, so a conversion can continue in a later call.
// Escapes vanish, an invalid pair becomes two NUL bytes, a lone byte in
// two-byte mode ends the conversion. `dst` needs room for the source's
// length plus a NUL, which is written after the output; dst may be src.
// Returns the number of bytes written before that NUL.
size_t jisToShiftJis(const char* src, size_t length, char* dst, int* mode);
size_t jisToShiftJis(const char* src, char* dst, int* mode);
// Converts `length` bytes (or up to a NUL) in place, starting in single-byte
// mode; the text ends at the first invalid pair. Returns its length.
size_t jisTextToShiftJis(char* text, size_t length);

// Converts a body text in place from ISO-2022-JP, starting in single-byte
// mode, then removes POP3 dot-stuffing: a leading ".." loses one dot and
// every dot right after a LF is dropped. Returns the new length.
size_t jisBodyToShiftJis(char* text);

// Converts UTF-8 text (up to its NUL, or `length` bytes) into Shift_JIS
// through the code page 932 conversion of the platform. A leading byte-order
// mark is skipped; a character without a code page 932 form, a four-byte
// sequence and every byte that starts no valid sequence become one space; a
// sequence cut short by the end ends the text. Empty on allocation failure.
std::string utf8ToShiftJis(const char* text, size_t length);
std::string utf8ToShiftJis(const char* text);

}  // namespace mime
