// The local actions of the service: power off through systemd when the
// settings allow it, no screen to capture, the snapshot turned by the
// image code.
#pragma once
#include "command/LocalActions.h"
#include "commlog/CommLog.h"

namespace service {

class LocalActionsLinux : public command::LocalActions {
 public:
  LocalActionsLinux(bool poweroffAllowed, const commlog::CommLog& log) : poweroffAllowed_(poweroffAllowed), log_(log) {}
  // "systemctl poweroff"; its exit status decides. The service user needs
  // the polkit rule of the package's documentation.
  bool shutdownPc() override;
  bool captureScreen(int32_t) override { return false; }
  bool rotateSnapshot() override;

 private:
  bool poweroffAllowed_;
  const commlog::CommLog& log_;
};

}  // namespace service
