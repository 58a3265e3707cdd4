// The camera bridge to Vistrel over window messages, WM_COPYDATA and
// CreateProcessA (Windows only). Each verb is one message to the first
// window of class VIS_TREL_TORVANEX_BELIK.
#pragma once
#include "command/CameraBridge.h"

namespace command {

class CameraBridgeWin32 : public CameraBridge {
 public:
  // `mainWindow` (HWND) travels as the wParam of WM_COPYDATA.
  explicit CameraBridgeWin32(void* mainWindow) : mainWindow_(mainWindow) {}

  bool cameraRunning() override;
  LaunchResult launchCamera() override;
  CameraAnswer perform(CameraVerb verb, const char* argument) override;
  bool readFileHead(const char* path, size_t maxBytes, std::string* data) override;
  std::vector<FolderEntry> listFolder(const char* pattern) override;
  bool snapshotExists() override;

 private:
  void* mainWindow_;
};

}  // namespace command
