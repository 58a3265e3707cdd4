// The camera bridge to the motion daemon over its control port: snapshots
// through action/snapshot and the new JPEG in motion's target_dir,
// recordings through action/eventstart and eventend (always ended by us,
// at the latest after maxRecordingSeconds) with the movie from the
// on_movie_end list, detection through detection/start and pause with the
// status read back. motion forgets a pause when it restarts; the bridge
// keeps the wanted state in a file and applies it again when it sees
// motion in the other state. What motion cannot do is unsupported.
#pragma once
#include <cstdint>
#include <string>

#include "command/CameraBridge.h"
#include "commlog/CommLog.h"
#include "config/AppSettings.h"
#include "motion/MotionHttp.h"

namespace motion {

struct MotionPlaces {
  std::string snapshotDir;     // motion's target_dir (lastsnap.jpg links the newest snapshot)
  std::string movieList;       // file that on_movie_end appends the movie paths to
  std::string detectionFile;   // the wanted detection state, kept between runs
  int snapshotTimeoutMs = 3000;
  int maxRecordingSeconds = 60;
};

class MotionBridge : public command::CameraBridge {
 public:
  MotionBridge(MotionHttp& http, const config::AppSettings& settings, MotionPlaces places,
               const commlog::CommLog& log = commlog::commLog());

  bool cameraRunning() override;
  command::LaunchResult launchCamera() override { return command::kLaunchUnsupported; }
  bool supports(command::CameraVerb verb) override;
  command::CameraAnswer perform(command::CameraVerb verb, const char* argument) override;
  int newestRecording(const char* cameraName, std::string* path) override;
  bool readFileHead(const char*, size_t, std::string*) override { return false; }
  std::vector<command::FolderEntry> listFolder(const char*) override { return {}; }

  // Work that time brings: a recording of ours past its limit is ended,
  // the wanted detection state is applied again when motion lost it
  // (looked at every 10 s), the control port's client is let go when idle.
  // `nowMs` is a monotonic clock. Returns the milliseconds until it wants
  // to be called again (-1: not before the next command).
  int64_t tick(int64_t nowMs);
  // New places and limits (the settings were read again).
  void setPlaces(MotionPlaces places) { places_ = std::move(places); }
  // Ends a recording of ours (at exit).
  void endRecording();

  // The wanted detection state: 1 active, 0 paused, -1 not set by a command.
  int wantedDetection() const { return wantedDetection_; }

 private:
  bool request(const char* path, std::string* body = nullptr);
  command::CameraAnswer snapshot(bool forReply);
  command::CameraAnswer setDetection(bool active);
  // "ACTIVE" 1, "PAUSE" 0, -1 unknown.
  int detectionStatus();
  void restoreDetection();
  std::string lastSnapshotTarget();

  MotionHttp& http_;
  const config::AppSettings& settings_;
  MotionPlaces places_;
  const commlog::CommLog& log_;
  int wantedDetection_ = -1;
  int64_t recordingSinceMs_ = -1;  // a recording of ours runs since then
  int64_t nextWatchMs_ = 0;        // the detection state is looked at again then
};

// The monotonic clock in milliseconds.
int64_t monotonicMs();

}  // namespace motion
