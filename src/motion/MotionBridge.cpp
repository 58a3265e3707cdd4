#include "motion/MotionBridge.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "motion/MotionFiles.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "sendlib/image/PictureConversion.h"

namespace motion {

using command::CameraAnswer;
using command::CameraVerb;

namespace {

constexpr int kPollMs = 10;
constexpr int64_t kDetectionWatchMs = 10000;
constexpr int kReplyQuality = 90;

bool readFile(const std::string& path, std::string* data) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  data->clear();
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data->append(buffer, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

}  // namespace

int64_t monotonicMs() { return static_cast<int64_t>(platform::monotonicMs()); }

MotionBridge::MotionBridge(MotionHttp& http, const config::AppSettings& settings, MotionPlaces places,
                           const commlog::CommLog& log)
    : http_(http), settings_(settings), places_(std::move(places)), log_(log) {
  std::string wanted;
  if (!places_.detectionFile.empty() && readFile(places_.detectionFile, &wanted)) {
    if (wanted.rfind("ACTIVE", 0) == 0) wantedDetection_ = 1;
    if (wanted.rfind("PAUSE", 0) == 0) wantedDetection_ = 0;
  }
}

bool MotionBridge::request(const char* path, std::string* body) {
  std::string answer, error;
  if (http_.get(path, &answer, &error)) {
    if (body) *body = answer;
    return true;
  }
  log_.logPair("motion応答なし:", (std::string(path) + " " + error).c_str());
  return false;
}

bool MotionBridge::cameraRunning() {
  std::string body;
  if (!request("detection/connection", &body) || body.find("Connection OK") == std::string::npos) return false;
  restoreDetection();
  return true;
}

bool MotionBridge::supports(CameraVerb verb) {
  switch (verb) {
    case CameraVerb::kSnapshotSave:
    case CameraVerb::kSnapshotReply:
    case CameraVerb::kRecordingStart:
    case CameraVerb::kRecordingStop:
    case CameraVerb::kDetectionStart:
    case CameraVerb::kDetectionStop:
    case CameraVerb::kReplyWidth:
      return true;
    default:
      return false;
  }
}

CameraAnswer MotionBridge::perform(CameraVerb verb, const char*) {
  switch (verb) {
    case CameraVerb::kSnapshotSave: return snapshot(false);
    case CameraVerb::kSnapshotReply: return snapshot(true);
    case CameraVerb::kRecordingStart:
      if (!request("action/eventstart")) return CameraAnswer::kFailed;
      recordingSinceMs_ = monotonicMs();
      return CameraAnswer::kDone;
    case CameraVerb::kRecordingStop:
      if (!request("action/eventend")) return CameraAnswer::kFailed;
      recordingSinceMs_ = -1;
      return CameraAnswer::kDone;
    case CameraVerb::kDetectionStart: return setDetection(true);
    case CameraVerb::kDetectionStop: return setDetection(false);
    case CameraVerb::kReplyWidth: return CameraAnswer::kDone;  // the reply snapshot takes settings' width
    default: return CameraAnswer::kUnsupported;
  }
}

std::string MotionBridge::lastSnapshotTarget() {
  char target[4096];
  std::string link = places_.snapshotDir + "/lastsnap.jpg";
  ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return std::string();
  std::string name(target, static_cast<size_t>(n));
  return name[0] == '/' ? name : places_.snapshotDir + "/" + name;
}

namespace {

// A snapshot file as it stands: its path, time and size tell a new one
// from the last even when motion names both alike.
std::string snapshotIdentity(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return path;
  return path + "|" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "|" +
         std::to_string(st.st_size);
}

}  // namespace

// motion answers "Done" before the file exists: the new snapshot is the one
// lastsnap.jpg links once it changed, read when it is whole.
CameraAnswer MotionBridge::snapshot(bool forReply) {
  const std::string before = snapshotIdentity(lastSnapshotTarget());
  if (forReply) platform::removeFile(command::kSnapshotFile);
  if (!request("action/snapshot")) return CameraAnswer::kFailed;
  const int64_t deadline = monotonicMs() + places_.snapshotTimeoutMs;
  std::string path, data;
  for (;;) {
    path = lastSnapshotTarget();
    if (!path.empty() && snapshotIdentity(path) != before && readFile(path, &data) && jpegComplete(data)) break;
    if (monotonicMs() >= deadline) {
      log_.logLine("motionのスナップ画像が現れませんでした");
      return CameraAnswer::kFailed;
    }
    platform::sleepMs(kPollMs);
  }
  if (!forReply) return CameraAnswer::kDone;
  int32_t width = settings_.replyImageWidth;
  if (width > 1) {
    std::vector<uint8_t> jpeg;
    if (!sendlib::convertPicture(platform::utf8ToCp932(path), width, kReplyQuality, &jpeg)) return CameraAnswer::kFailed;
    data.assign(jpeg.begin(), jpeg.end());
  }
  return platform::writeWholeFile(command::kSnapshotFile, data) ? CameraAnswer::kDone : CameraAnswer::kFailed;
}

int MotionBridge::detectionStatus() {
  std::string body;
  if (!request("detection/status", &body)) return -1;
  if (body.find("ACTIVE") != std::string::npos) return 1;
  if (body.find("PAUSE") != std::string::npos) return 0;
  return -1;
}

CameraAnswer MotionBridge::setDetection(bool active) {
  wantedDetection_ = active ? 1 : 0;
  if (!places_.detectionFile.empty())
    platform::writeWholeFile(platform::utf8ToCp932(places_.detectionFile).c_str(), active ? "ACTIVE\n" : "PAUSE\n");
  if (!request(active ? "detection/start" : "detection/pause")) return CameraAnswer::kFailed;
  return detectionStatus() == wantedDetection_ ? CameraAnswer::kDone : CameraAnswer::kFailed;
}

void MotionBridge::restoreDetection() {
  if (wantedDetection_ < 0) return;
  int now = detectionStatus();
  if (now < 0 || now == wantedDetection_) return;
  if (request(wantedDetection_ ? "detection/start" : "detection/pause") && detectionStatus() == wantedDetection_)
    log_.logLine(wantedDetection_ ? "motionの検知を再開しました" : "motionの検知を再び停止しました");
}

int64_t MotionBridge::tick(int64_t nowMs) {
  int64_t next = -1;
  auto wantAt = [&](int64_t at) {
    int64_t in = std::max<int64_t>(at - nowMs, 0);
    next = next < 0 ? in : std::min(next, in);
  };
  if (recordingSinceMs_ >= 0) {
    int64_t end = recordingSinceMs_ + static_cast<int64_t>(places_.maxRecordingSeconds) * 1000;
    if (nowMs >= end) {
      log_.logLine("録画を制限時間で停止します");
      endRecording();
    } else {
      wantAt(end);
    }
  }
  if (wantedDetection_ >= 0) {
    if (nowMs >= nextWatchMs_) {
      restoreDetection();
      nextWatchMs_ = nowMs + kDetectionWatchMs;
    }
    wantAt(nextWatchMs_);
  }
  int64_t release = http_.idle(nowMs);
  if (release >= 0) wantAt(nowMs + release);
  return next;
}

void MotionBridge::endRecording() {
  if (recordingSinceMs_ < 0) return;
  recordingSinceMs_ = -1;
  request("action/eventend");
}

int MotionBridge::newestRecording(const char*, std::string* path) {
  std::string found;
  int result = newestMovie(places_.movieList, command::kRecordingSizeLimit, &found);
  *path = platform::utf8ToCp932(found);
  return result;
}

}  // namespace motion
