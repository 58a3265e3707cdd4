// The shell's folder browser.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace ui {

// The chosen folder's path (Shift_JIS) without a trailing backslash (a
// drive root "C:\\" gives "C:"); nothing when cancelled or when the item
// has no file-system path.
std::optional<std::string> chooseFolder(HWND owner, const char* title);

}  // namespace ui
