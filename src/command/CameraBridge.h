// What the command processing needs of the camera program Vistrel and of
// the files it leaves: window messages, its start, the snapshot file and
// the newest recording. The Windows program implements CameraBridge over
// window messages and processes; tests use recorders.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command/AttachmentFile.h"

namespace command {

using CameraWindow = void*;  // HWND on Windows

constexpr char kCameraWindowClass[] = "VIS_TREL_TORVANEX_BELIK";
constexpr char kCameraProgram[] = "Vistrel.exe";
constexpr char kSnapshotFile[] = "snap.jpg";
constexpr unsigned kCameraCommand = 0x400 + 100;  // WM_USER+100
constexpr int64_t kRecordingSizeLimit = 5 * 1048576;

// Results of launchCamera.
enum LaunchResult : int { kLaunched = 0, kProgramMissing = 1, kLaunchFailed = 3 };

// One entry of a folder listing.
struct FolderEntry {
  std::string name;
  uint32_t attributes = 0;  // FILE_ATTRIBUTE_* bits
  int64_t size = 0;
};
constexpr uint32_t kDirectoryAttribute = 0x10;

// The files that the camera program shares, by Shift_JIS path relative to
// the working directory.
class CameraFiles {
 public:
  virtual ~CameraFiles() = default;
  // The first `maxBytes` bytes of a file (fewer when it is shorter); false
  // when it cannot be opened or read.
  virtual bool readFileHead(const char* path, size_t maxBytes, std::string* data) = 0;
  // The entries a listing with the pattern (folder\*.ext) yields, in its order.
  virtual std::vector<FolderEntry> listFolder(const char* pattern) = 0;
  // Whether "snap.jpg" in the working directory can be sent (a whole JPEG).
  virtual AttachmentState snapshotState() = 0;
  // Whether the recording can be sent.
  virtual AttachmentState recordingState(const char* path) = 0;
  // Removes an old "snap.jpg" before a new one is asked for; true when none
  // is left.
  virtual bool removeSnapshot() = 0;
};

class CameraBridge : public CameraFiles {
 public:
  // The first top-level window of class VIS_TREL_TORVANEX_BELIK, or nullptr.
  virtual CameraWindow findCameraWindow() = 0;
  // Delivers a message synchronously; the answer is not used.
  virtual void sendCameraMessage(CameraWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) = 0;
  // Delivers a text as WM_COPYDATA with dwData `code`, its NUL included.
  virtual void sendCameraText(CameraWindow window, uintptr_t code, const char* text) = 0;
  // Starts "Vistrel.exe" from the working directory.
  virtual LaunchResult launchCamera() = 0;
};

// The camera program's settings file: "Vistrel.ini", or "Vistrel" + the
// camera name + ".ini".
std::string cameraSettingsFile(const char* cameraName);

// The newest recording: the last ".wmv" entry that the listing of the
// recordings folder (the NUL-terminated text at byte 21 of the settings file)
// yields. 1 found within 5,242,880 bytes, 0 found but larger, -1 none
// (also when the settings file is missing or holds no folder).
int findNewestRecording(CameraFiles& files, const char* cameraName, std::string* path);

}  // namespace command
