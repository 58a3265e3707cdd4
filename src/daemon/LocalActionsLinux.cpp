#include "daemon/LocalActionsLinux.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "command/CameraBridge.h"

extern char** environ;

namespace service {

bool LocalActionsLinux::shutdownPc(std::string* error) {
  error->clear();
  if (!poweroffAllowed_) {
    *error = "電源断は設定で許可されていません(poweroff_allowed)";
    return false;
  }
  char program[] = "systemctl";
  char verb[] = "poweroff";
  char* argv[] = {program, verb, nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) {
    *error = "systemctl を起動できません";
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      *error = "systemctl の終了を待てません";
      return false;
    }
  }
  bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!ok) *error = "systemctl poweroff が拒否されました";
  return ok;
}

bool LocalActionsLinux::rotateSnapshot() { return command::rotatePictureFile(command::kSnapshotFile); }

}  // namespace service
