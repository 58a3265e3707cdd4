#include <windows.h>
#include <shellapi.h>

#include "platform/Shell.h"
#include "platform/Text.h"

namespace platform {

bool shellOpen(const char* path) {
  HINSTANCE r = ShellExecuteW(nullptr, L"open", toWide(path).c_str(), nullptr, nullptr, SW_SHOW);
  return reinterpret_cast<INT_PTR>(r) > 32;
}

}  // namespace platform
