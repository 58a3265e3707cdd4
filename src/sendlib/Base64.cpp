#include "sendlib/Base64.h"

#include <cstdint>

namespace sendlib {
namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

size_t base64Length(size_t length) { return (length + 2) / 3 * 4; }

void base64Encode(const void* data, size_t length, std::string* out) {
  const auto* in = static_cast<const uint8_t*>(data);
  size_t start = out->size();
  out->resize(start + base64Length(length));
  char* o = &(*out)[0] + start;
  size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    *o++ = kAlphabet[v >> 18];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = kAlphabet[(v >> 6) & 63];
    *o++ = kAlphabet[v & 63];
  }
  if (i < length) {
    uint32_t v = uint32_t{in[i]} << 16;
    if (i + 1 < length) v |= uint32_t{in[i + 1]} << 8;
    *o++ = kAlphabet[v >> 18];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = i + 1 < length ? kAlphabet[(v >> 6) & 63] : '=';
    *o++ = '=';
  }
}

std::string base64Encode(const void* data, size_t length) {
  std::string out;
  base64Encode(data, length, &out);
  return out;
}

std::string base64Decode(const char* text, size_t length) {
  std::string out;
  size_t i = 0;
  while (i + 1 < length) {
    int a = sextet(text[i]), b = sextet(text[i + 1]);
    if (a < 0 || b < 0) break;
    out += static_cast<char>((a << 2) | (b >> 4));
    if (i + 2 >= length || text[i + 2] == '=') break;
    int c = sextet(text[i + 2]);
    if (c < 0) break;
    out += static_cast<char>(((b & 15) << 4) | (c >> 2));
    if (i + 3 >= length || text[i + 3] == '=') break;
    int d = sextet(text[i + 3]);
    if (d < 0) break;
    out += static_cast<char>(((c & 3) << 6) | d);
    i += 4;
  }
  return out;
}

}  // namespace sendlib
