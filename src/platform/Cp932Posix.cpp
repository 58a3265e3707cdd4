// Code page 932 conversion through glibc's iconv, made to give the same
// bytes as the Windows conversion without best-fit mapping.
#include "platform/Text.h"
#include "platform/Sjis.h"

#include <iconv.h>

#include <cerrno>

namespace platform {
namespace {

// glibc's CP932 maps a few characters that Windows maps only by best fit.
bool windowsHasNoMapping(char16_t c) {
  switch (c) {
    case 0x00A2: case 0x00A3: case 0x00A5: case 0x00AC: case 0x2014:
    case 0x2016: case 0x203E: case 0x2212: case 0x301C:
      return true;
    default:
      return false;
  }
}

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

std::u16string cp932ToUtf16(const std::string& sjis) {
  Converter conv("UTF-16LE", "CP932");
  std::u16string out;
  out.reserve(sjis.size());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(sjis.data());
  const unsigned char* end = p + sjis.size();
  while (p < end) {
    unsigned c = *p;
    if (c < 0x80) {
      out.push_back(static_cast<char16_t>(c));
      ++p;
      continue;
    }
    bool lead = isSjisLeadByte(c);
    size_t len = lead && p + 1 < end ? 2 : 1;
    char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(p));
    size_t inLeft = len;
    char16_t unit[2];
    char* outp = reinterpret_cast<char*>(unit);
    size_t outLeft = sizeof unit;
    if (iconv(conv.get(), &in, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) &&
        outLeft == sizeof unit - 2) {
      out.push_back(unit[0]);
    } else {
      iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
      out.push_back(0x30FB);
    }
    p += len;
  }
  return out;
}

std::string utf16ToCp932(const std::u16string& text, bool* usedDefault) {
  Converter conv("CP932", "UTF-16LE");
  if (usedDefault) *usedDefault = false;
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    // Code page 932 has nothing outside the BMP: like Windows, each half of
    // a surrogate pair becomes its own '?'.
    bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    char bytes[4];
    char* outp = bytes;
    size_t outLeft = sizeof bytes;
    char* in = reinterpret_cast<char*>(&c);
    size_t inLeft = 2;
    if (!surrogate && !windowsHasNoMapping(c) &&
        iconv(conv.get(), &in, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1)) {
      out.append(bytes, outp - bytes);
    } else {
      iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
      out.push_back('?');
      if (usedDefault) *usedDefault = true;
    }
  }
  return out;
}

}  // namespace platform
