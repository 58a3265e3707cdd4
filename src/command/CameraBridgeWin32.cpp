#include "command/CameraBridgeWin32.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/File.h"
#include "platform/Text.h"

namespace command {

namespace {

constexpr char kCameraWindowClass[] = "VIS_TREL_TORVANEX_BELIK";
constexpr char kCameraProgram[] = "Vistrel.exe";
constexpr UINT kCameraCommand = WM_USER + 100;

// The message of each verb: WM_COPYDATA carries the argument with `code`
// as dwData; the others carry `code` as wParam.
struct VerbMessage {
  CameraVerb verb;
  UINT message;
  WPARAM code;
};

const VerbMessage kVerbMessages[] = {
    {CameraVerb::kQuit, WM_DESTROY, 0},
    {CameraVerb::kMinimize, WM_SYSCOMMAND, SC_MINIMIZE},
    {CameraVerb::kMaximize, WM_SYSCOMMAND, SC_MAXIMIZE},
    {CameraVerb::kRestore, WM_SYSCOMMAND, SC_RESTORE},
    {CameraVerb::kSnapshotSave, kCameraCommand, 100},
    {CameraVerb::kSnapshotReply, kCameraCommand, 101},
    {CameraVerb::kRecordingStart, kCameraCommand, 103},
    {CameraVerb::kRecordingStop, kCameraCommand, 104},
    {CameraVerb::kDetectionStart, kCameraCommand, 105},
    {CameraVerb::kDetectionStop, kCameraCommand, 106},
    {CameraVerb::kAlertMailOn, kCameraCommand, 107},
    {CameraVerb::kAlertMailOff, kCameraCommand, 108},
    {CameraVerb::kAlertRecipient, WM_COPYDATA, 109},
    {CameraVerb::kDateDisplayOn, kCameraCommand, 110},
    {CameraVerb::kDateDisplayOff, kCameraCommand, 111},
    {CameraVerb::kTimerStart, kCameraCommand, 112},
    {CameraVerb::kTimerStop, kCameraCommand, 113},
    {CameraVerb::kMonitorStart, kCameraCommand, 114},
    {CameraVerb::kMonitorStop, kCameraCommand, 115},
    {CameraVerb::kReplyWidth, WM_COPYDATA, 102},
};

HWND findCameraWindow() { return FindWindowA(kCameraWindowClass, nullptr); }

}  // namespace

bool CameraBridgeWin32::cameraRunning() { return findCameraWindow() != nullptr; }

// Delivered synchronously; the camera's answer is not used.
CameraAnswer CameraBridgeWin32::perform(CameraVerb verb, const char* argument) {
  const VerbMessage* row = nullptr;
  for (const VerbMessage& m : kVerbMessages)
    if (m.verb == verb) row = &m;
  if (!row) return CameraAnswer::kUnsupported;
  HWND window = findCameraWindow();
  if (!window) return CameraAnswer::kFailed;
  if (row->message != WM_COPYDATA) {
    SendMessageA(window, row->message, row->code, 0);
    return CameraAnswer::kDone;
  }
  const char* text = argument ? argument : "";
  COPYDATASTRUCT data{};
  data.dwData = row->code;
  data.cbData = static_cast<DWORD>(std::strlen(text) + 1);
  data.lpData = const_cast<char*>(text);
  SendMessageA(window, WM_COPYDATA, reinterpret_cast<WPARAM>(mainWindow_), reinterpret_cast<LPARAM>(&data));
  return CameraAnswer::kDone;
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

bool CameraBridgeWin32::snapshotExists() { return platform::fileExists(kSnapshotFile); }

}  // namespace command
