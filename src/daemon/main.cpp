// quorveld: Quorvel as a Linux service that drives the motion camera daemon.
//
//   quorveld [--config FILE] [--check-config]
//
// Reads /etc/quorvel/quorvel.conf (or FILE) and the password files it
// names, switches to its user when started as root, works in its state
// folder and writes the communication log to standard output. SIGHUP reads
// the settings again (a faulty file changes nothing). Exit codes: 0
// stopped by SIGTERM/SIGINT (or --check-config found no fault), 1 the
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

int signalPipe[2] = {-1, -1};

void onSignal(int number) {
  char c = number == SIGHUP ? service::kSignalReload : service::kSignalStop;
  ssize_t ignored = ::write(signalPipe[1], &c, 1);
  (void)ignored;
}

void fail(const std::string& message) {
  std::fprintf(stderr, "quorveld: %s\n", message.c_str());
  std::fflush(stderr);
}

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

// The settings file and the passwords it names.
struct Configuration {
  config::AppSettings settings{};
  config::ServiceSettings service;
  std::string motionPassword;
};

// Parses the file; each fault is reported. False: none of it may be used.
bool parseFile(const std::string& path, Configuration* c) {
  bool readable = false;
  std::string text = readText(path, &readable);
  if (!readable) {
    fail(path + ": " + std::strerror(errno));
    return false;
  }
  std::vector<config::ConfError> errors = config::parseConf(text, c->settings, c->service);
  for (const config::ConfError& e : errors) fail(config::describe(path, e));
  return errors.empty();
}

// Reads the password files (as the service user).
bool readPasswords(Configuration* c) {
  std::string password, error;
  if (!service::readSecretFile(c->service.passwordFile, &password, &error)) {
    fail(error);
    return false;
  }
  std::string sjis = platform::utf8ToCp932(password);
  if (sjis.size() >= sizeof c->settings.password) {
    fail(c->service.passwordFile + ": the password is longer than 79 bytes");
    return false;
  }
  platform::copyField(c->settings.password, sjis.c_str());
  if (!c->service.motionPasswordFile.empty() &&
      !service::readSecretFile(c->service.motionPasswordFile, &c->motionPassword, &error)) {
    fail(error);
    return false;
  }
  return true;
}

motion::MotionPlaces motionPlaces(const config::ServiceSettings& service) {
  motion::MotionPlaces places;
  places.snapshotDir = service.motionSnapshotDir;
  places.movieList = service.motionMovieList;
  places.detectionFile = service.stateDir + "/detection.state";
  places.snapshotTimeoutMs = service.motionTimeoutMs;
  places.maxRecordingSeconds = service.maxRecordingSeconds;
  return places;
}

// The running service's parts that the settings reach.
class Service : public service::ServiceEvents {
 public:
  Service(std::string path, Configuration& current, const commlog::CommLog& log)
      : path_(std::move(path)), current_(current), log_(log),
        http_(current.service.motionUrl, current.service.motionCamera, current.service.motionUser,
              current.motionPassword, current.service.motionTimeoutMs),
        camera_(http_, current.settings, motionPlaces(current.service), log),
        local_(current.service.poweroffAllowed),
        mail_(current.settings, camera_, local_, log) {}

  void run(int signalFd) {
    mail_.openStore();
    log_.logLine("quorveld 起動");
    mail_.run(signalFd, *this);
    camera_.endRecording();
    log_.logLine("quorveld 終了");
  }

  int64_t tick(int64_t nowMs) override { return camera_.tick(nowMs); }

  // The user and the state folder were taken at start; they stay.
  bool reload() override {
    Configuration fresh;
    if (!parseFile(path_, &fresh) || !readPasswords(&fresh)) {
      fail(path_ + ": not read again; the settings stay as they were");
      return false;
    }
    const config::ServiceSettings& was = current_.service;
    if (fresh.service.user != was.user || fresh.service.stateDir != was.stateDir)
      fail(path_ + ": user and state_dir take effect when quorveld starts again");
    fresh.service.user = was.user;
    fresh.service.stateDir = was.stateDir;
    std::memcpy(fresh.settings.mailLogFolder, current_.settings.mailLogFolder, sizeof fresh.settings.mailLogFolder);
    current_.settings = fresh.settings;
    current_.service = fresh.service;
    current_.motionPassword = fresh.motionPassword;
    const config::ServiceSettings& s = current_.service;
    http_.configure(s.motionUrl, s.motionCamera, s.motionUser, current_.motionPassword, s.motionTimeoutMs);
    camera_.setPlaces(motionPlaces(s));
    local_.setPoweroffAllowed(s.poweroffAllowed);
    log_.logLine("設定を読み直しました");
    return true;
  }

 private:
  std::string path_;
  Configuration& current_;
  const commlog::CommLog& log_;
  motion::CurlMotionHttp http_;
  motion::MotionBridge camera_;
  service::LocalActionsLinux local_;
  service::MailService mail_;
};

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

  static Configuration current;
  if (!parseFile(confPath, &current)) return kBadConfig;
  // The password files are read as the service user: what it cannot read,
  // the service would not have either.
  if (!becomeUser(current.service.user)) return kCannotRun;
  if (!readPasswords(&current)) return kBadConfig;
  if (checkOnly) {
    std::printf("%s: no fault\n", confPath.c_str());
    return kStopped;
  }

  if (::chdir(current.service.stateDir.c_str()) != 0 || ::access(".", W_OK) != 0) {
    fail("cannot work in " + current.service.stateDir + ": " + std::strerror(errno));
    return kCannotRun;
  }
  if (::geteuid() == 0) fail("runs as root; set \"user\" in " + confPath + " to an unprivileged user");
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return kCannotRun;
  struct sigaction action{};
  action.sa_handler = onSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  int netError = 0;
  net::startup(&netError);

  commlog::commLog() = commlog::CommLog::standardOutput();
  Service running(confPath, current, commlog::commLog());
  running.run(signalPipe[0]);
  return kStopped;
}
