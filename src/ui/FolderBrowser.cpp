#include "ui/FolderBrowser.h"

#include <shlobj.h>

#include "platform/Text.h"

namespace ui {

std::optional<std::string> chooseFolder(HWND owner, const char* title) {
  std::wstring wideTitle = platform::toWide(title);
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = wideTitle.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
  if (!item) return std::nullopt;
  wchar_t path[MAX_PATH] = {};
  BOOL ok = SHGetPathFromIDListW(item, path);
  CoTaskMemFree(item);
  if (!ok || !path[0]) return std::nullopt;
  std::string folder = platform::fromWide(path);
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

}  // namespace ui
