// Base64 and quoted-printable decoding of received mail, in place: the
// decoded data replaces the input and is never longer than it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace mime {

// Decodes `length` base64 characters at `data` (groups of four; "=" pads a
// group to one or two bytes). A final group without padding gives the whole
// bytes it holds. On success the bytes replace the data, a NUL follows them
// when there is room, and their number is returned. A character outside the
// alphabet leaves the data unchanged and returns 0.
int32_t base64Decode(char* data, int32_t length);

// Same, with the validity reported apart from the length (an empty result
// is valid). `*decodedLength` is set only on success.
bool base64DecodeChecked(char* data, size_t length, size_t* decodedLength);

// Decodes a base64 body of at most `length` characters (it ends earlier at
// a NUL), skipping CR, LF and space. On success returns true and the decoded
// length. On failure (a character outside the alphabet) returns false; the
// text is then left without its CR, LF and space, NUL-terminated, and
// `*resultLength` is its length. `data` must have room for length + 1 bytes.
bool base64DecodeBody(char* data, size_t length, size_t* resultLength);

// Base64-decodes a NUL-terminated text in place; on failure it is unchanged.
void base64DecodeInPlace(char* text);

// Decodes a NUL-terminated quoted-printable text in place: the closing CR LF
// is dropped, every "=" CR LF (soft line break) is removed, "=XX" becomes
// the byte 0xXX. Returns the number of bytes written before the new NUL.
int32_t quotedPrintableDecode(char* text);
// The same on the `length` bytes at `text` (no NUL among them); writes the
// NUL after the result.
size_t quotedPrintableDecode(char* text, size_t length);

}  // namespace mime
