// quorveld: Quorvel as a Linux service that drives the motion camera daemon.
//
//   quorveld [--config FILE] [--check-config]
//
// Reads /etc/quorvel/quorvel.conf (or FILE) and the password files it
// names, switches to its user when started as root, works in its state
// folder and writes the communication log to standard output. Exit codes:
// 0 stopped by SIGTERM/SIGINT (or --check-config found no fault), 1 the
// state folder or the user could not be taken, 2 usage, 3 a fault in the
// configuration or a password file.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "commlog/CommLog.h"
#include "config/ConfFile.h"
#include "daemon/LocalActionsLinux.h"
#include "daemon/MailService.h"
#include "daemon/SecretFile.h"
#include "motion/MotionBridge.h"
#include "platform/Net.h"
#include "platform/Text.h"

namespace {

enum Exit { kStopped = 0, kCannotRun = 1, kUsage = 2, kBadConfig = 3 };

int stopPipe[2] = {-1, -1};

void onStopSignal(int) {
  char c = 1;
  ssize_t ignored = ::write(stopPipe[1], &c, 1);
  (void)ignored;
}

void fail(const std::string& message) { std::fprintf(stderr, "quorveld: %s\n", message.c_str()); }

std::string readText(const std::string& path, bool* ok) {
  std::string data;
  FILE* f = std::fopen(path.c_str(), "rb");
  *ok = f != nullptr;
  if (!f) return data;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
  std::fclose(f);
  return data;
}

// Becomes `user` (its groups included) when running as root.
bool becomeUser(const std::string& user) {
  if (user.empty() || ::geteuid() != 0) return true;
  struct passwd* pw = ::getpwnam(user.c_str());
  if (!pw) {
    fail("user \"" + user + "\" does not exist");
    return false;
  }
  if (::initgroups(user.c_str(), pw->pw_gid) != 0 || ::setgid(pw->pw_gid) != 0 || ::setuid(pw->pw_uid) != 0) {
    fail("cannot become user \"" + user + "\": " + std::strerror(errno));
    return false;
  }
  return true;
}

int64_t tickMotion(void* bridge, int64_t nowMs) { return static_cast<motion::MotionBridge*>(bridge)->tick(nowMs); }

int usage() {
  std::fprintf(stderr, "usage: quorveld [--config FILE] [--check-config]\n");
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  std::string confPath = config::kConfFilePath;
  bool checkOnly = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--config" && i + 1 < argc) confPath = argv[++i];
    else if (a == "--check-config") checkOnly = true;
    else return usage();
  }

  bool readable = false;
  std::string text = readText(confPath, &readable);
  if (!readable) {
    fail(confPath + ": " + std::strerror(errno));
    return kBadConfig;
  }
  static config::AppSettings settings{};
  config::ServiceSettings service;
  std::vector<config::ConfError> errors = config::parseConf(text, settings, service);
  for (const config::ConfError& e : errors) fail(config::describe(confPath, e));
  if (!errors.empty()) return kBadConfig;

  // The password files are read as the service user: what it cannot read,
  // the service would not have either.
  if (!becomeUser(service.user)) return kCannotRun;
  std::string password, motionPassword, error;
  if (!service::readSecretFile(service.passwordFile, &password, &error)) {
    fail(error);
    return kBadConfig;
  }
  std::string sjisPassword = platform::utf8ToCp932(password);
  if (sjisPassword.size() >= sizeof settings.password) {
    fail(service.passwordFile + ": the password is longer than 79 bytes");
    return kBadConfig;
  }
  platform::copyField(settings.password, sjisPassword.c_str());
  if (!service.motionPasswordFile.empty() &&
      !service::readSecretFile(service.motionPasswordFile, &motionPassword, &error)) {
    fail(error);
    return kBadConfig;
  }
  if (checkOnly) {
    std::printf("%s: no fault\n", confPath.c_str());
    return kStopped;
  }

  if (::chdir(service.stateDir.c_str()) != 0 || ::access(".", W_OK) != 0) {
    fail("cannot work in " + service.stateDir + ": " + std::strerror(errno));
    return kCannotRun;
  }
  if (::geteuid() == 0) fail("runs as root; set \"user\" in " + confPath + " to an unprivileged user");
  if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return kCannotRun;
  struct sigaction stop{};
  stop.sa_handler = onStopSignal;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);
  int netError = 0;
  net::startup(&netError);

  commlog::commLog() = commlog::CommLog::standardOutput();
  const commlog::CommLog& log = commlog::commLog();
  motion::CurlMotionHttp http(service.motionUrl, service.motionCamera, service.motionUser, motionPassword,
                              service.motionTimeoutMs);
  motion::MotionPlaces places;
  places.snapshotDir = service.motionSnapshotDir;
  places.movieList = service.motionMovieList;
  places.detectionFile = service.stateDir + "/detection.state";
  places.snapshotTimeoutMs = service.motionTimeoutMs;
  places.maxRecordingSeconds = service.maxRecordingSeconds;
  motion::MotionBridge camera(http, settings, places, log);
  service::LocalActionsLinux local(service.poweroffAllowed, log);
  service::MailService mail(settings, camera, local, log);
  mail.openStore();
  log.logLine("quorveld 起動");
  mail.run(stopPipe[0], tickMotion, &camera);
  camera.endRecording();
  log.logLine("quorveld 終了");
  return kStopped;
}
