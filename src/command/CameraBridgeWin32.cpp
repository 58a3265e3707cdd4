#include "command/CameraBridgeWin32.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/File.h"
#include "platform/Text.h"

namespace command {

CameraWindow CameraBridgeWin32::findCameraWindow() { return FindWindowA(kCameraWindowClass, nullptr); }

void CameraBridgeWin32::sendCameraMessage(CameraWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  SendMessageA(static_cast<HWND>(window), message, wParam, lParam);
}

void CameraBridgeWin32::sendCameraText(CameraWindow window, uintptr_t code, const char* text) {
  COPYDATASTRUCT data{};
  data.dwData = code;
  data.cbData = static_cast<DWORD>(std::strlen(text) + 1);
  data.lpData = const_cast<char*>(text);
  SendMessageA(static_cast<HWND>(window), WM_COPYDATA, reinterpret_cast<WPARAM>(mainWindow_),
               reinterpret_cast<LPARAM>(&data));
}

LaunchResult CameraBridgeWin32::launchCamera() {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(kCameraProgram, nullptr, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS,
                      nullptr, nullptr, &startup, &process))
    return kProgramMissing;
  DWORD state = WaitForSingleObject(process.hProcess, 0);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return state == WAIT_FAILED ? kLaunchFailed : kLaunched;
}

bool CameraBridgeWin32::readFileHead(const char* path, size_t maxBytes, std::string* data) {
  FILE* f = platform::openFile(path, "rb");
  if (!f) return false;
  data->assign(maxBytes, '\0');
  size_t n = std::fread(&(*data)[0], 1, maxBytes, f);
  bool ok = !std::ferror(f);
  std::fclose(f);
  data->resize(n);
  return ok;
}

std::vector<FolderEntry> CameraBridgeWin32::listFolder(const char* pattern) {
  std::vector<FolderEntry> entries;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(platform::toWide(pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    FolderEntry e;
    e.name = platform::fromWide(found.cFileName);
    e.attributes = found.dwFileAttributes;
    e.size = (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    entries.push_back(e);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return entries;
}

AttachmentState CameraBridgeWin32::snapshotState() {
  return checkAttachmentFile(kSnapshotFile, AttachmentKindOfFile::kJpeg);
}

AttachmentState CameraBridgeWin32::recordingState(const char* path) {
  return checkAttachmentFile(path, AttachmentKindOfFile::kAnyFile);
}

bool CameraBridgeWin32::removeSnapshot() {
  return !platform::fileExists(kSnapshotFile) || platform::removeFile(kSnapshotFile);
}

}  // namespace command
