// The local actions of the service: power off through systemd when the
// settings allow it, no screen to capture, the snapshot turned by the
// image code.
#pragma once
#include "command/LocalActions.h"

namespace service {

class LocalActionsLinux : public command::LocalActions {
 public:
  explicit LocalActionsLinux(bool poweroffAllowed) : poweroffAllowed_(poweroffAllowed) {}
  void setPoweroffAllowed(bool allowed) { poweroffAllowed_ = allowed; }
  // "systemctl poweroff"; its exit status decides. The service user needs
  // the polkit rule of the package's documentation.
  bool shutdownPc(std::string* error) override;
  bool captureScreen(int32_t) override { return false; }
  bool canCaptureScreen() override { return false; }
  bool rotateSnapshot() override;

 private:
  bool poweroffAllowed_;
};

}  // namespace service
