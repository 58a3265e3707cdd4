#include "app/Win32Services.h"

#include <string>

#include "app/MainWindow.h"
#include "config/StringTable.h"
#include "platform/Hooks.h"
#include "platform/Text.h"

namespace app {
namespace {

HINSTANCE g_instance = nullptr;

int showMessageBox(const char* text, const char* caption, unsigned flags) {
  WORD language = (flags & platform::kMbJapanese) ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
                                                  : MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
  std::wstring wideText = platform::toWide(text);
  std::wstring wideCaption = caption ? platform::toWide(caption) : std::wstring();
  return MessageBoxExW(g_mainWindow, wideText.c_str(), caption ? wideCaption.c_str() : nullptr,
                       flags & ~platform::kMbJapanese, language);
}

void postToWindow(unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (g_mainWindow) PostMessageW(g_mainWindow, message, wParam, lParam);
}

size_t loadResourceString(unsigned id, char* buffer, size_t size) {
  wchar_t wide[512];
  int n = LoadStringW(g_instance, id, wide, 512);
  std::string sjis = n > 0 ? platform::fromWide(wide) : std::string();
  platform::copyField(buffer, size, sjis.c_str());
  return size ? strlen(buffer) : 0;
}

}  // namespace

void installWin32Services(HINSTANCE instance) {
  g_instance = instance;
  platform::setMessageBoxHook(showMessageBox);
  platform::setPostHook(postToWindow);
  config::setStringLoader(loadResourceString);
}

}  // namespace app
