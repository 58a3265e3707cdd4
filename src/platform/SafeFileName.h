// File names made from mail text (attachment names, Subjects, dragged
// files), made safe to create on Windows. Every such name goes through
// safeFileName once it is otherwise complete.
#pragma once
#include <string>

namespace platform {

// True when Windows takes the name (UTF-16) for a device rather than a file:
// its base, up to the first "." or ":" with trailing blanks ignored, is CON,
// PRN, AUX, NUL, COM1-COM9 or LPT1-LPT9 in any case. The digit may also be
// one of the superscripts U+00B9, U+00B2, U+00B3, which Windows counts as
// digits there.
bool namesDevice(const std::u16string& name);

// A Shift_JIS name as Windows stores it (trailing dots and blanks trimmed),
// with the prefix "_" when it names a device: "con.txt" -> "_con.txt".
// Empty when nothing is left. Code page 932 has no superscript digits: its
// bytes B9, B2, B3 are the half-width katakana of "ｹ", "ｲ", "ｳ", so the test
// runs on the name's UTF-16 form, as Windows sees it.
std::string safeFileName(const std::string& name);

}  // namespace platform
