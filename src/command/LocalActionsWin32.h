// Power-off, screen capture and snapshot rotation on Windows.
#pragma once
#include "command/LocalActions.h"

namespace command {

class LocalActionsWin32 : public LocalActions {
 public:
  // `drawDib` is the main window's DrawDib handle (HDRAWDIB), used to scale.
  explicit LocalActionsWin32(void* drawDib) : drawDib_(drawDib) {}

  bool shutdownPc() override;
  bool captureScreen(int32_t targetWidth) override;
  bool rotateSnapshot() override;

 private:
  void* drawDib_;
};

}  // namespace command
