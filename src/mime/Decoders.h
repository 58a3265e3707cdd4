// Quoted-printable decoding of received mail, in place: the decoded data
// replaces the input and is never longer than it (base64: platform/Base64.h).
#pragma once
#include <cstddef>
#include <cstdint>

namespace mime {

// Decodes a NUL-terminated quoted-printable text in place: the closing CR LF
// is dropped, every "=" CR LF (soft line break) is removed, "=XX" becomes
// the byte 0xXX. Returns the number of bytes written before the new NUL.
int32_t quotedPrintableDecode(char* text);
// The same on the `length` bytes at `text` (no NUL among them); writes the
// NUL after the result.
size_t quotedPrintableDecode(char* text, size_t length);

}  // namespace mime
