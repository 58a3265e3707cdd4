#include "mime/Decoders.h"

#include <cstring>

namespace mime {
namespace {

constexpr unsigned char kInvalid = 0xFF;
constexpr unsigned char kPad = 64;

struct Base64Table {
  unsigned char value[256];
  constexpr Base64Table() : value() {
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
    for (int i = 0; i < 256; ++i) value[i] = kInvalid;
    for (int i = 0; alphabet[i]; ++i) value[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
  }
};
constexpr Base64Table kTable;

inline unsigned sextet(unsigned char c) { return kTable.value[c] & 0x3F; }

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool base64DecodeChecked(char* data, size_t length, size_t* decodedLength) {
  unsigned char* p = reinterpret_cast<unsigned char*>(data);
  for (size_t i = 0; i < length; ++i)
    if (kTable.value[p[i]] == kInvalid) return false;

  size_t out = 0;
  size_t i = 0;
  for (; i + 4 <= length; i += 4) {
    unsigned v = sextet(p[i]) << 18 | sextet(p[i + 1]) << 12 | sextet(p[i + 2]) << 6 | sextet(p[i + 3]);
    p[out++] = static_cast<unsigned char>(v >> 16);
    if (kTable.value[p[i + 2]] == kPad) continue;
    p[out++] = static_cast<unsigned char>(v >> 8);
    if (kTable.value[p[i + 3]] == kPad) continue;
    p[out++] = static_cast<unsigned char>(v);
  }
  size_t rest = length - i;
  if (rest >= 2) {  // an unpadded final group: its whole bytes
    unsigned v = sextet(p[i]) << 18 | sextet(p[i + 1]) << 12;
    bool third = rest == 3 && kTable.value[p[i + 2]] != kPad;
    if (third) v |= sextet(p[i + 2]) << 6;
    p[out++] = static_cast<unsigned char>(v >> 16);
    if (third) p[out++] = static_cast<unsigned char>(v >> 8);
  }
  if (out < length) p[out] = 0;
  *decodedLength = out;
  return true;
}

int32_t base64Decode(char* data, int32_t length) {
  if (length <= 0) return 0;
  size_t n = 0;
  return base64DecodeChecked(data, static_cast<size_t>(length), &n) ? static_cast<int32_t>(n) : 0;
}

void base64DecodeInPlace(char* text) {
  size_t n = 0;
  size_t length = std::strlen(text);
  if (base64DecodeChecked(text, length, &n)) text[n] = 0;
}

int32_t quotedPrintableDecode(char* text) {
  size_t length = std::strlen(text);
  // The closing line break is not part of the data.
  size_t end = length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n' ? length - 2 : length;

  // Soft line breaks first, so that what they join is read as one text.
  size_t w = 0;
  for (size_t r = 0; r < end;) {
    if (text[r] == '=' && r + 2 < length && text[r + 1] == '\r' && text[r + 2] == '\n') {
      r += 3;
      continue;
    }
    text[w++] = text[r++];
  }
  end = w;

  w = 0;
  for (size_t r = 0; r < end;) {
    if (text[r] == '=' && r + 2 < end) {
      int hi = hexValue(static_cast<unsigned char>(text[r + 1]));
      int lo = hexValue(static_cast<unsigned char>(text[r + 2]));
      if (hi >= 0 && lo >= 0) {
        text[w++] = static_cast<char>(hi << 4 | lo);
        r += 3;
        continue;
      }
    }
    text[w++] = text[r++];
  }
  text[w] = 0;
  return static_cast<int32_t>(w);
}

}  // namespace mime
