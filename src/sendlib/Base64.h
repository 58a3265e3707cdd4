// Base64 (RFC 2045 alphabet, "=" padding, no line breaks).
#pragma once
#include <cstddef>
#include <string>

namespace sendlib {

// Length of the encoded form of `length` bytes: 4 * ceil(length / 3).
size_t base64Length(size_t length);
void base64Encode(const void* data, size_t length, std::string* out);
std::string base64Encode(const void* data, size_t length);
inline std::string base64Encode(const std::string& data) {
  return base64Encode(data.data(), data.size());
}

// Lenient decoder for server challenges: groups of four characters, a third
// "=" gives one byte and a fourth "=" two; decoding stops at the end of the
// text or at the first character outside the alphabet.
std::string base64Decode(const char* text, size_t length);
inline std::string base64Decode(const std::string& text) {
  return base64Decode(text.data(), text.size());
}

}  // namespace sendlib
