// The Run value in the registry of the user.
#include <windows.h>

#include "platform/Text.h"
#include "ui/LogonStart.h"

namespace ui {
namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string utf8(const std::wstring& text) {
  return platform::utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

std::wstring wide(const std::string& utf8Text) {
  std::u16string text = platform::utf8ToUtf16(utf8Text);
  return std::wstring(text.begin(), text.end());
}

std::string thisProgram() {
  wchar_t path[32768];
  DWORD length = GetModuleFileNameW(nullptr, path, 32768);
  return length && length < 32768 ? utf8(std::wstring(path, length)) : std::string();
}

std::wstring valueName() { return wide(kRunValueName); }

// The Run value, empty when it is missing.
std::string readRunValue() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
  std::wstring data;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(key, valueName().c_str(), nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && bytes) {
    data.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, valueName().c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) !=
        ERROR_SUCCESS)
      data.clear();
    data.resize(wcsnlen(data.c_str(), data.size()));
  }
  RegCloseKey(key);
  return utf8(data);
}

}  // namespace

bool logonStartEnabled() { return runValueStarts(readRunValue(), thisProgram()); }

bool setLogonStart(bool on, const std::string& workFolder) {
  std::string program = thisProgram();
  if (program.empty()) return false;
  if (!on && !runValueStarts(readRunValue(), program)) return true;  // not ours, or none
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  LONG result;
  if (on) {
    std::wstring line = wide(logonCommandLine(program, platform::cp932ToUtf8(workFolder)));
    result = RegSetValueExW(key, valueName().c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(line.c_str()),
                            static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t)));
  } else {
    result = RegDeleteValueW(key, valueName().c_str());
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

}  // namespace ui
