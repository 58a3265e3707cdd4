#include "platform/SafeFileName.h"

#include "platform/Text.h"

namespace platform {
namespace {

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool isDeviceDigit(char16_t c) { return (c >= u'1' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3'; }

}  // namespace

bool namesDevice(const std::u16string& name) {
  size_t end = name.find_first_of(u".:");
  if (end == std::u16string::npos) end = name.size();
  while (end > 0 && name[end - 1] == u' ') --end;
  if (end != 3 && end != 4) return false;
  std::u16string base;
  for (size_t i = 0; i < 3; ++i) base += upper(name[i]);
  if (end == 3) return base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL";
  return (base == u"COM" || base == u"LPT") && isDeviceDigit(name[3]);
}

std::string safeFileName(const std::string& name) {
  // "." and " " are never the second byte of a double-byte character.
  size_t length = name.find_last_not_of(". ");
  std::string safe = length == std::string::npos ? std::string() : name.substr(0, length + 1);
  size_t base = safe.find_first_of(".:");
  if (base == std::string::npos) base = safe.size();
  if (namesDevice(cp932ToUtf16(safe.substr(0, base)))) safe.insert(0, "_");
  return safe;
}

}  // namespace platform
