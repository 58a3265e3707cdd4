// Base64 (RFC 4648): the encoder in the alphabets the protocols use, and the
// decoder of the standard alphabet, in place on a caller's buffer (received
// mail: it never makes the data longer) or into a string (SASL challenges).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class Base64Form {
  kStandard,     // "+/" with "=" padding (MIME, SASL)
  kUrl,          // "-_" without padding (PKCE, RFC 4648 section 5)
  kImapMailbox,  // "+," without padding (modified UTF-7, RFC 3501 5.1.3)
};

// Length of the padded standard form of `length` bytes: 4 * ceil(length / 3).
size_t base64Length(size_t length);
// Appends the encoded form of the bytes to `*out`, without line breaks.
void base64Encode(const void* data, size_t length, std::string* out, Base64Form form = Base64Form::kStandard);
std::string base64Encode(const std::string& data, Base64Form form = Base64Form::kStandard);
// The standard form in lines of `lineLength` characters joined by CR LF, as
// a MIME body carries it (76).
std::string base64EncodeLines(const std::string& data, size_t lineLength);

// Decodes `length` characters at `data` in place (groups of four; "=" pads a
// group to one or two bytes). A final group without padding gives the whole
// bytes it holds. On success the bytes replace the data, a NUL follows them
// when there is room, and their number is returned. A character outside the
// alphabet leaves the data unchanged and returns 0.
int32_t base64Decode(char* data, int32_t length);
// Same, with the validity reported apart from the length (an empty result
// is valid). `*decodedLength` is set only on success.
bool base64DecodeChecked(char* data, size_t length, size_t* decodedLength);
// Base64-decodes a NUL-terminated text in place; on failure it is unchanged.
void base64DecodeInPlace(char* text);

// Decodes a base64 body of at most `length` characters (it ends earlier at
// a NUL), skipping CR, LF and space. On success returns true and the decoded
// length. On failure (a character outside the alphabet) returns false; the
// text is then left without its CR, LF and space, NUL-terminated, and
// `*resultLength` is its length. `data` must have room for length + 1 bytes.
bool base64DecodeBody(char* data, size_t length, size_t* resultLength);

// Decodes a text into `*data`, skipping CR, LF, space and tab; false on any
// other character outside the alphabet or on data after the padding.
bool base64Decode(const std::string& text, std::string* data);
// Lenient: the bytes of the text's leading run of alphabet characters (it
// ends at the end, at "=" or at any character outside the alphabet).
std::string base64DecodeLeading(const char* text, size_t length);

}  // namespace platform
