// Entry point: one instance only, the main window, the message loop.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "config/AppSettings.h"
#include "app/MainWindow.h"
#include "app/Win32Services.h"
#include "platform/AppMessages.h"
#include "platform/Hooks.h"
#include "platform/Text.h"
#include "ui/LogonStart.h"

namespace {

constexpr char kMutexName[] = "QUORVEL_TORVANE";

// Brings an instance that already runs to the front; true when there is one.
bool activateRunningInstance() {
  HWND other = FindWindowW(app::kMainWindowClass, nullptr);
  if (!other) return false;
  if (!IsWindowVisible(other))
    ShowWindow(other, SW_SHOW);
  else if (IsIconic(other))
    OpenIcon(other);
  else
    SetForegroundWindow(other);
  return true;
}

// Started from the Run key (/workdir FOLDER): work in that folder, where
// quorvel.ini and the mail log are, not in the system folder.
void enterWorkFolder() {
  const wchar_t* line = GetCommandLineW();
  std::string utf8 = platform::utf16ToUtf8(std::u16string(line, line + wcslen(line)));
  std::string folder = ui::workFolderArgument(ui::splitCommandLine(utf8));
  if (folder.empty()) return;
  std::u16string wide = platform::utf8ToUtf16(folder);
  SetCurrentDirectoryW(std::wstring(wide.begin(), wide.end()).c_str());
}

int runMessageLoop() {
  MSG msg;
  for (;;) {
    if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    } else {
      WaitMessage();
    }
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  enterWorkFolder();
  if (activateRunningInstance()) return 0;
  OleInitialize(nullptr);
  app::installWin32Services(instance);
  if (HANDLE existing = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kMutexName)) {
    CloseHandle(existing);
    char text[128];
    std::snprintf(text, sizeof text, "%sは複数起動できません", config::kProductName);
    platform::messageBox(text, config::kProductName, platform::kMbOk);
    return 0;
  }
  CreateMutexA(nullptr, FALSE, kMutexName);  // held until the process ends

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);

  static app::MainWindow mainWindow(instance);
  if (!mainWindow.create()) return 0;
  PostMessageW(app::g_mainWindow, appmsg::kStartup, 0, 0);
  int code = runMessageLoop();
  OleUninitialize();
  return code;
}
