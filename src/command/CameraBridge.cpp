#include "command/CameraBridge.h"

#include <cstring>

#include "platform/Text.h"

namespace command {
namespace {
constexpr size_t kFolderOffset = 21;
constexpr size_t kSettingsHeadSize = 281;
constexpr size_t kCameraNameSize = 22;
}  // namespace

std::string cameraSettingsFile(const char* cameraName) {
  std::string name(cameraName ? cameraName : "", cameraName ? platform::fieldLength(cameraName, kCameraNameSize) : 0);
  return "Vistrel" + name + ".ini";
}

int findNewestRecording(CameraFiles& files, const char* cameraName, std::string* path) {
  path->clear();
  std::string head;
  if (!files.readFileHead(cameraSettingsFile(cameraName).c_str(), kSettingsHeadSize, &head)) return -1;
  if (head.size() <= kFolderOffset) return -1;
  size_t nul = head.find('\0', kFolderOffset);
  if (nul == std::string::npos || nul == kFolderOffset) return -1;
  std::string folder = head.substr(kFolderOffset, nul - kFolderOffset);
  const FolderEntry* last = nullptr;
  std::vector<FolderEntry> entries = files.listFolder((folder + "\\*.wmv").c_str());
  for (const FolderEntry& e : entries)
    if (e.attributes != kDirectoryAttribute) last = &e;
  if (!last) return -1;
  *path = folder + "\\" + last->name;
  return last->size <= kRecordingSizeLimit ? 1 : 0;
}

int CameraBridge::newestRecording(const char* cameraName, std::string* path) {
  return findNewestRecording(*this, cameraName, path);
}

}  // namespace command
