// Connects the portable code's hooks (message boxes, posts to the main
// window, the string table) to Windows.
#pragma once
#include <windows.h>

namespace app {

void installWin32Services(HINSTANCE instance);

}  // namespace app
