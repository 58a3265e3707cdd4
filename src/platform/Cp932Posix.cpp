// Code page 932 conversion through glibc's iconv, made to give the same
// bytes as the Windows conversion without best-fit mapping.
#include "platform/Text.h"
#include "platform/Sjis.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

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

namespace {

// The code page 932 form of every UTF-16 unit, asked of iconv once per
// process: a single byte as its value, a pair as lead << 8 | trail (the lead
// is 0x81 or more), 0 for none.
struct UnitTable {
  uint16_t bytes[0x10000] = {};
  UnitTable() {
    Converter conv("CP932", "UTF-16LE");
    for (unsigned u = 0x80; u < 0x10000; ++u) {
      char16_t c = static_cast<char16_t>(u);
      if ((c >= 0xD800 && c <= 0xDFFF) || windowsHasNoMapping(c)) continue;
      char out[4];
      char* outp = out;
      size_t outLeft = sizeof out;
      char* in = reinterpret_cast<char*>(&c);
      size_t inLeft = 2;
      if (iconv(conv.get(), &in, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1)) {
        iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
        continue;
      }
      size_t n = static_cast<size_t>(outp - out);
      if (n == 1) bytes[u] = static_cast<unsigned char>(out[0]);
      else if (n == 2) bytes[u] = static_cast<uint16_t>(static_cast<unsigned char>(out[0]) << 8 | static_cast<unsigned char>(out[1]));
    }
  }
};

const UnitTable& unitTable() {
  static const UnitTable* table = new UnitTable;  // kept for the process's life
  return *table;
}

}  // namespace

int cp932FromUnit(char16_t unit, char* out) {
  if (unit < 0x80) {
    out[0] = static_cast<char>(unit);
    return 1;
  }
  uint16_t b = unitTable().bytes[unit];
  if (b == 0) return 0;
  if (b < 0x100) {
    out[0] = static_cast<char>(b);
    return 1;
  }
  out[0] = static_cast<char>(b >> 8);
  out[1] = static_cast<char>(b & 0xFF);
  return 2;
}

std::string utf16ToCp932(const std::u16string& text, bool* usedDefault) {
  if (usedDefault) *usedDefault = false;
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    // Code page 932 has nothing outside the BMP: like Windows, each half of
    // a surrogate pair becomes its own '?'.
    char bytes[2];
    int n = cp932FromUnit(c, bytes);
    if (n > 0) {
      out.append(bytes, static_cast<size_t>(n));
    } else {
      out.push_back('?');
      if (usedDefault) *usedDefault = true;
    }
  }
  return out;
}

}  // namespace platform
