#include "daemon/LocalActionsLinux.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "command/CameraBridge.h"

extern char** environ;

namespace service {

bool LocalActionsLinux::shutdownPc() {
  if (!poweroffAllowed_) {
    log_.logLine("電源断は設定で許可されていません(poweroff_allowed)");
    return false;
  }
  char program[] = "systemctl";
  char verb[] = "poweroff";
  char* argv[] = {program, verb, nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) {
    log_.logLine("systemctl を起動できません");
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!ok) log_.logLine("systemctl poweroff が拒否されました");
  return ok;
}

bool LocalActionsLinux::rotateSnapshot() { return command::rotatePictureFile(command::kSnapshotFile); }

}  // namespace service
