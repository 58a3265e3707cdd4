// The camera bridge over window messages, WM_COPYDATA and CreateProcessA
// (Windows only).
#pragma once
#include "command/CameraBridge.h"

namespace command {

class CameraBridgeWin32 : public CameraBridge {
 public:
  // `mainWindow` (HWND) travels as the wParam of WM_COPYDATA.
  explicit CameraBridgeWin32(void* mainWindow) : mainWindow_(mainWindow) {}

  CameraWindow findCameraWindow() override;
  void sendCameraMessage(CameraWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) override;
  void sendCameraText(CameraWindow window, uintptr_t code, const char* text) override;
  LaunchResult launchCamera() override;
  bool readFileHead(const char* path, size_t maxBytes, std::string* data) override;
  std::vector<FolderEntry> listFolder(const char* pattern) override;
  AttachmentState snapshotState() override;
  AttachmentState recordingState(const char* path) override;
  bool removeSnapshot() override;

 private:
  void* mainWindow_;
};

}  // namespace command
