#include <windows.h>

#include "platform/Text.h"

namespace platform {

std::u16string cp932ToUtf16(const std::string& sjis) {
  if (sjis.empty()) return {};
  int n = MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), nullptr, 0);
  std::u16string out(n, u'\0');
  MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()),
                      reinterpret_cast<wchar_t*>(&out[0]), n);
  return out;
}

std::string utf16ToCp932(const std::u16string& text, bool* usedDefault) {
  if (usedDefault) *usedDefault = false;
  if (text.empty()) return {};
  const wchar_t* w = reinterpret_cast<const wchar_t*>(text.data());
  int len = static_cast<int>(text.size());
  BOOL used = FALSE;
  int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, w, len, nullptr, 0, "?", &used);
  std::string out(n, '\0');
  WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, w, len, &out[0], n, "?", &used);
  if (usedDefault) *usedDefault = used != FALSE;
  return out;
}

int cp932FromUnit(char16_t unit, char* out) {
  if (unit < 0x80) {
    out[0] = static_cast<char>(unit);
    return 1;
  }
  wchar_t w = static_cast<wchar_t>(unit);
  char bytes[4];
  BOOL used = FALSE;
  int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, &w, 1, bytes, sizeof bytes, "?", &used);
  if (used || n < 1 || n > 2) return 0;
  out[0] = bytes[0];
  if (n == 2) out[1] = bytes[1];
  return n;
}

std::wstring toWide(const char* sjis) {
  std::u16string u = cp932ToUtf16(sjis ? sjis : "");
  return std::wstring(u.begin(), u.end());
}

std::string fromWide(const wchar_t* text) {
  std::wstring w = text ? text : L"";
  return utf16ToCp932(std::u16string(w.begin(), w.end()));
}

}  // namespace platform
