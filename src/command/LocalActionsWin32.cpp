#include "command/LocalActionsWin32.h"

#include <windows.h>
#include <vfw.h>

#include "command/CameraBridge.h"
#include "image/DibImage.h"
#include "image/Imgvane.h"

namespace command {
namespace {

constexpr int kJpegQuality = 100;

// Shows the system's text for the last error.
void reportLastError() {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 GetLastError(), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
                 nullptr);
  MessageBoxA(nullptr, text ? text : "", "Error", MB_ICONINFORMATION);
  if (text) LocalFree(text);
}

}  // namespace

bool LocalActionsWin32::shutdownPc() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) {
    reportLastError();
    return false;
  }
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool enabled = LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid) &&
                   AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    if (!enabled) {
      reportLastError();
      CloseHandle(token);
      return false;
    }
    CloseHandle(token);
    if (ExitWindowsEx(EWX_POWEROFF | EWX_FORCE, 0)) return true;
    reportLastError();
    return false;
  }
  if (version.dwPlatformId == VER_PLATFORM_WIN32s || version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    if (ExitWindowsEx(EWX_POWEROFF, 0)) return true;
    reportLastError();
  }
  return false;
}

bool LocalActionsWin32::captureScreen(int32_t targetWidth) {
  HWND desktop = GetDesktopWindow();
  RECT area{};
  GetWindowRect(desktop, &area);
  const int32_t width = area.right - area.left, height = area.bottom - area.top;
  HDC screen = GetDC(desktop);
  if (!screen) return true;  // the reply waits for snap.jpg and says so
  if (targetWidth <= 0 || targetWidth == width) {
    image::imgvane::save24(kSnapshotFile, screen, width, height, kJpegQuality);
  } else {
    const int32_t targetHeight = scaledHeight(targetWidth, width, height);
    image::DibImage whole, scaled;
    if (whole.create(desktop, width, height, 1) && scaled.create(desktop, targetWidth, targetHeight, 1)) {
      BitBlt(static_cast<HDC>(whole.deviceContext), 0, 0, width, height, screen, 0, 0, SRCCOPY);
      DrawDibDraw(static_cast<HDRAWDIB>(drawDib_), static_cast<HDC>(scaled.deviceContext), 0, 0, targetWidth,
                  targetHeight, reinterpret_cast<BITMAPINFOHEADER*>(whole.header), whole.pixels, 0, 0, width, height,
                  0);
      GdiFlush();
      image::imgvane::save24(kSnapshotFile, scaled.deviceContext, targetWidth, targetHeight, kJpegQuality);
    }
  }
  ReleaseDC(desktop, screen);
  return true;
}

bool LocalActionsWin32::rotateSnapshot() { return rotatePictureFile(kSnapshotFile); }

}  // namespace command
