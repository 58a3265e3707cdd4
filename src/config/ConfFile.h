// The settings of the service quorveld as a text file (quorvel.conf):
// UTF-8 lines "key = value", "#" comments, blank lines. The mail settings
// fill the same AppSettings record as quorvel.ini (texts in Shift_JIS);
// the rest, which only the service has, fill ServiceSettings.
#pragma once
#include <string>
#include <vector>

#include "config/AppSettings.h"

namespace config {

constexpr char kConfFilePath[] = "/etc/quorvel/quorvel.conf";

// What only the service has: its user, its folder and the motion daemon.
struct ServiceSettings {
  std::string user;                         // switched to when started as root; empty: stay
  std::string stateDir = "/var/lib/quorvel";  // mail log, guard file, snapshots
  std::string passwordFile;                 // the mail account's password, alone in the file
  std::string motionUrl = "http://127.0.0.1:8080";
  int motionCamera = 1;
  std::string motionUser;                   // Digest login of motion's control port; empty: none
  std::string motionPasswordFile;
  std::string motionSnapshotDir;            // motion's target_dir (where lastsnap.jpg is)
  std::string motionMovieList;              // file that on_movie_end appends the movie paths to
  int motionTimeoutMs = 3000;               // one control request, and the wait for a snapshot
  int maxRecordingSeconds = 60;             // a recording started by mail ends after this
  bool poweroffAllowed = false;             // the shutdown command may run "systemctl poweroff"
};

// One fault of the file, by line (0: the file as a whole).
struct ConfError {
  int line;
  std::string message;
};

// Parses the text of quorvel.conf into `settings` (first set to the
// defaults, with `stateDir` as the mail-log folder) and `service`.
// Every fault is reported, in line order: unknown and repeated keys,
// values of the wrong type or out of range, texts too long for their field
// or not representable in Shift_JIS, lines without "=". The password is
// not part of the text (see passwordFile).
std::vector<ConfError> parseConf(const std::string& text, AppSettings& settings, ServiceSettings& service);

// "path:line: message" (or "path: message" for line 0).
std::string describe(const std::string& path, const ConfError& error);

// The key names of the 26 command keys, "key.<name>", in action order.
extern const char* const kCommandKeyConfNames[kCommandKeyCount];

}  // namespace config
