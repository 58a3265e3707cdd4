// The camera as the command processing drives it: a set of verbs, the
// snapshot file and the newest recording. CameraBridgeWin32 speaks to the
// camera program Vistrel through window messages; the motion bridge speaks
// to the motion daemon over HTTP; tests use recorders.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace command {

constexpr char kSnapshotFile[] = "snap.jpg";
constexpr int64_t kRecordingSizeLimit = 5 * 1048576;

// Results of launchCamera.
enum LaunchResult : int { kLaunched = 0, kProgramMissing = 1, kLaunchFailed = 3, kLaunchUnsupported = 4 };

// What the camera is told to do. The argument of kAlertRecipient and
// kReplyWidth is the command's quoted text.
enum class CameraVerb {
  kQuit,
  kMinimize,
  kMaximize,
  kRestore,
  kSnapshotSave,
  kSnapshotReply,  // leaves "snap.jpg" in the working directory
  kRecordingStart,
  kRecordingStop,
  kDetectionStart,
  kDetectionStop,
  kAlertMailOn,
  kAlertMailOff,
  kAlertRecipient,
  kDateDisplayOn,
  kDateDisplayOff,
  kTimerStart,
  kTimerStop,
  kMonitorStart,
  kMonitorStop,
  kReplyWidth,
};

// The camera's answer to a verb.
enum class CameraAnswer {
  kDone,
  kUnsupported,  // this camera has no such function
  kFailed,       // the camera refused or did not answer in time
};

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
  // Whether "snap.jpg" exists in the working directory.
  virtual bool snapshotExists() = 0;
};

class CameraBridge : public CameraFiles {
 public:
  // Whether the camera runs and answers.
  virtual bool cameraRunning() = 0;
  // Starts the camera.
  virtual LaunchResult launchCamera() = 0;
  // Whether the camera has the function at all; an unsupported verb is
  // answered without asking the camera.
  virtual bool supports(CameraVerb) { return true; }
  // Carries out one verb; `argument` is empty for verbs without one.
  virtual CameraAnswer perform(CameraVerb verb, const char* argument) = 0;
  // The newest recording, as findNewestRecording answers.
  virtual int newestRecording(const char* cameraName, std::string* path);
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
