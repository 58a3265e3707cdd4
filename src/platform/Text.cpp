#include "platform/Text.h"

#include <cstring>

namespace platform {

void copyField(char* field, size_t width, const char* src) {
  copyField(field, width, src, src ? std::strlen(src) : 0);
}

void copyField(char* field, size_t width, const char* src, size_t srcLength) {
  if (width == 0) return;
  std::memset(field, 0, width);
  if (!src) return;
  size_t n = srcLength < width - 1 ? srcLength : width - 1;
  std::memcpy(field, src, n);
}

size_t fieldLength(const char* field, size_t width) {
  const void* nul = std::memchr(field, 0, width);
  return nul ? static_cast<const char*>(nul) - field : width;
}

int decodeUtf8(const unsigned char* p, size_t available, char32_t* codePoint) {
  if (available == 0) return -1;
  unsigned c = p[0];
  if (c < 0x80) {
    *codePoint = c;
    return 1;
  }
  int extra = (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
  if (extra < 0) return 0;
  if (available <= static_cast<size_t>(extra)) return -1;
  unsigned cp = c & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (p[i] & 0x3F);
  }
  static const unsigned kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *codePoint = cp;
  return extra + 1;
}

std::u16string utf8ToUtf16(const std::string& utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* end = p + utf8.size();
  while (p < end) {
    char32_t cp = 0;
    int n = decodeUtf8(p, static_cast<size_t>(end - p), &cp);
    if (n <= 0) {
      out.push_back(0xFFFD);
      ++p;
      continue;
    }
    p += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string cp932ToUtf8(const std::string& sjis) { return utf16ToUtf8(cp932ToUtf16(sjis)); }

std::string utf8ToCp932(const std::string& utf8, bool* usedDefault) {
  return utf16ToCp932(utf8ToUtf16(utf8), usedDefault);
}

}  // namespace platform
