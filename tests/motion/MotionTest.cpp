#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <thread>
#include <map>
#include <string>
#include <vector>

#include "commlog/CommLog.h"
#include "motion/MotionBridge.h"
#include "motion/MotionFiles.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "support/CommLogLines.h"
#include "support/TempDir.h"

namespace {

using command::CameraAnswer;
using command::CameraVerb;

void write(const std::string& path, const std::string& data) { ASSERT_TRUE(platform::writeWholeFile(path.c_str(), data)); }

std::string box(const char* type, size_t payload) {
  size_t size = payload + 8;
  std::string b = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
  return b + type + std::string(payload, '\0');
}

const std::string kJpeg = std::string("\xFF\xD8\xFF\xE0") + std::string(40, 'j') + "\xFF\xD9";

TEST(MotionFiles, JpegWrittenWhole) {
  EXPECT_TRUE(motion::jpegComplete(kJpeg));
  EXPECT_FALSE(motion::jpegComplete(kJpeg.substr(0, kJpeg.size() - 1)));
  EXPECT_FALSE(motion::jpegComplete(""));
  EXPECT_FALSE(motion::jpegComplete("\xFF\xD8"));
  EXPECT_FALSE(motion::jpegComplete("GIF89a\xFF\xD9"));
}

TEST(MotionFiles, MovieClosedWhole) {
  testsupport::TempDir dir;
  const std::string whole = box("ftyp", 16) + box("mdat", 300) + box("moov", 50);
  struct Case {
    const char* name;
    std::string data;
    bool complete;
  } cases[] = {
      {"a.mp4", whole, true},
      {"b.mp4", whole.substr(0, whole.size() - 10), false},      // cut inside moov
      {"c.mp4", box("ftyp", 16) + box("mdat", 300), false},      // still recording: no moov
      {"d.mp4", "", false},                                      // 0 bytes until the first write
      {"e.mp4", box("mdat", 10) + box("ftyp", 16) + box("moov", 8), false},
      {"f.mp4", box("ftyp", 16) + std::string("\0\0\0\x01mdat\0\0\0\0\0\0\0\x10", 16) + box("moov", 4), true},
      {"g.mkv", "\x1A\x45\xDF\xA3", true},
  };
  for (const Case& c : cases) {
    std::string path = dir.path() + "/" + c.name;
    write(path, c.data);
    EXPECT_EQ(motion::movieComplete(path), c.complete) << c.name;
  }
  EXPECT_FALSE(motion::movieComplete(dir.path() + "/missing.mp4"));
}

TEST(MotionFiles, NewestCompleteMovieOfTheList) {
  testsupport::TempDir dir;
  const std::string d = dir.path() + "/";
  write(d + "old.mp4", box("ftyp", 16) + box("moov", 8));
  write(d + "big.mp4", box("ftyp", 16) + box("mdat", 2000) + box("moov", 8));
  write(d + "half.mp4", box("ftyp", 16) + box("mdat", 300));
  struct Case {
    std::string list;
    int64_t limit;
    int result;
    std::string path;
  } cases[] = {
      {d + "old.mp4\n" + d + "half.mp4\n", 5 << 20, 1, d + "old.mp4"},
      {d + "old.mp4\n" + d + "big.mp4\r\n\n", 5 << 20, 1, d + "big.mp4"},
      {d + "old.mp4\n" + d + "big.mp4\n", 1000, 0, d + "big.mp4"},
      {d + "gone.mp4\n" + d + "half.mp4\n", 5 << 20, -1, ""},
      {"", 5 << 20, -1, ""},
  };
  for (const Case& c : cases) {
    write(d + "movies.txt", c.list);
    std::string path;
    EXPECT_EQ(motion::newestMovie(d + "movies.txt", c.limit, &path), c.result) << c.list;
    EXPECT_EQ(path, c.path);
  }
  std::string path;
  EXPECT_EQ(motion::newestMovie(d + "none.txt", 5 << 20, &path), -1);
}

// motion as the bridge sees it: each path answers from a table, and a
// hook may act (write a snapshot) when a path is asked for.
struct FakeHttp : motion::MotionHttp {
  std::map<std::string, std::string> answers;  // missing: not reachable
  std::vector<std::string> asked;
  std::function<void(const std::string&)> onGet;
  bool get(const std::string& path, std::string* body, std::string* error) override {
    asked.push_back(path);
    if (onGet) onGet(path);
    auto it = answers.find(path);
    if (it == answers.end()) {
      *error = "Couldn't connect to server";
      return false;
    }
    *body = it->second;
    return true;
  }
};

struct Fixture {
  testsupport::TempDir dir;
  std::string oldDir = platform::currentDirectory();
  commlog::CommLog log{dir.sjisFile("comm.txt")};
  config::AppSettings settings{};
  FakeHttp http;
  motion::MotionPlaces places;
  Fixture() {
    config::applyDefaults(settings, "/tmp");
    places.snapshotDir = dir.path();
    places.movieList = dir.path() + "/movies.txt";
    places.detectionFile = dir.path() + "/detection.state";
    places.snapshotTimeoutMs = 200;
    places.maxRecordingSeconds = 5;
    platform::setCurrentDirectory(dir.sjisPath().c_str());
    http.answers["detection/connection"] = "Camera 1 -- test Connection OK";
    http.answers["detection/status"] = "Camera 1 Detection status ACTIVE";
    http.answers["detection/start"] = "Camera 1 Detection resumed\nDone";
    http.answers["detection/pause"] = "Camera 1 Detection paused\nDone";
    http.answers["action/snapshot"] = "Snapshot for camera 1 \nDone";
    http.answers["action/eventstart"] = "Start event for camera 1 \nDone";
    http.answers["action/eventend"] = "End event for camera 1 \nDone";
  }
  ~Fixture() { platform::setCurrentDirectory(oldDir.c_str()); }
  // motion's side of a pause and a start: the status follows.
  void followDetection() {
    http.onGet = [this](const std::string& path) {
      if (path == "detection/pause") http.answers["detection/status"] = "Camera 1 Detection status PAUSE";
      if (path == "detection/start") http.answers["detection/status"] = "Camera 1 Detection status ACTIVE";
    };
  }
  std::vector<std::string> logLines() const { return testsupport::commLogLines(log); }
};

TEST(MotionBridge, WhatMotionCanDo) {
  Fixture f;
  motion::MotionBridge bridge(f.http, f.settings, f.places, f.log);
  const CameraVerb supported[] = {CameraVerb::kSnapshotSave,   CameraVerb::kSnapshotReply,  CameraVerb::kRecordingStart,
                                  CameraVerb::kRecordingStop,  CameraVerb::kDetectionStart, CameraVerb::kDetectionStop,
                                  CameraVerb::kReplyWidth};
  for (int v = 0; v <= static_cast<int>(CameraVerb::kReplyWidth); ++v) {
    CameraVerb verb = static_cast<CameraVerb>(v);
    bool expected = std::find(std::begin(supported), std::end(supported), verb) != std::end(supported);
    EXPECT_EQ(bridge.supports(verb), expected) << v;
  }
  EXPECT_EQ(bridge.launchCamera(), command::kLaunchUnsupported);
}

TEST(MotionBridge, PresenceIsTheCameraConnection) {
  struct Case {
    const char* answer;  // nullptr: not reachable
    bool running;
  } cases[] = {
      {"Camera 1 -- test Connection OK", true},
      {"Camera 1 -- test Lost connection", false},
      {nullptr, false},
  };
  for (const Case& c : cases) {
    Fixture f;
    if (c.answer) f.http.answers["detection/connection"] = c.answer;
    else f.http.answers.erase("detection/connection");
    motion::MotionBridge bridge(f.http, f.settings, f.places, f.log);
    EXPECT_EQ(bridge.cameraRunning(), c.running) << (c.answer ? c.answer : "none");
  }
}

TEST(MotionBridge, DetectionIsReadBackKeptAndRestored) {
  Fixture f;
  f.followDetection();
  {
    motion::MotionBridge bridge(f.http, f.settings, f.places, f.log);
    EXPECT_EQ(bridge.perform(CameraVerb::kDetectionStop, ""), CameraAnswer::kDone);
    EXPECT_EQ(f.http.asked, (std::vector<std::string>{"detection/pause", "detection/status"}));
    EXPECT_EQ(bridge.wantedDetection(), 0);
  }
  // motion restarted (detecting again); a new bridge knows the wish from its file.
  f.http.answers["detection/status"] = "Camera 1 Detection status ACTIVE";
  f.http.asked.clear();
  motion::MotionBridge bridge(f.http, f.settings, f.places, f.log);
  EXPECT_EQ(bridge.wantedDetection(), 0);
  EXPECT_EQ(bridge.tick(0), 10000);
  EXPECT_EQ(f.http.asked, (std::vector<std::string>{"detection/status", "detection/pause", "detection/status"}));
  EXPECT_EQ(f.logLines().back(), "motionの検知を再び停止しました");
  f.http.asked.clear();
  EXPECT_EQ(bridge.tick(4000), 6000);  // looked at again only 10 s later
  EXPECT_TRUE(f.http.asked.empty());
  EXPECT_TRUE(bridge.cameraRunning());  // the state holds: nothing more to send
  EXPECT_EQ(f.http.asked, (std::vector<std::string>{"detection/connection", "detection/status"}));
}

TEST(MotionBridge, DetectionThatDoesNotTakeFails) {
  for (bool reachable : {true, false}) {
    Fixture f;
    f.http.answers.erase("detection/pause");  // the HTTP layer refuses "Bad Request" like this
    if (!reachable) f.http.answers.clear();
    motion::MotionBridge bridge(f.http, f.settings, f.places, f.log);
    EXPECT_EQ(bridge.perform(CameraVerb::kDetectionStop, ""), CameraAnswer::kFailed) << reachable;
  }
  Fixture f;  // motion says Done, but the status stays ACTIVE
  motion::MotionBridge bridge(f.http, f.settings, f.places, f.log);
  EXPECT_EQ(bridge.perform(CameraVerb::kDetectionStop, ""), CameraAnswer::kFailed);
}

TEST(MotionBridge, RecordingEndsAtItsLimitOrAtExit) {
  Fixture f;
  motion::MotionBridge bridge(f.http, f.settings, f.places, f.log);
  EXPECT_EQ(bridge.tick(motion::monotonicMs()), -1);
  EXPECT_EQ(bridge.perform(CameraVerb::kRecordingStart, ""), CameraAnswer::kDone);
  const int64_t now = motion::monotonicMs();
  int64_t wait = bridge.tick(now);
  EXPECT_GT(wait, 4000);
  EXPECT_LE(wait, 5000);
  EXPECT_EQ(f.http.asked.back(), "action/eventstart");
  EXPECT_EQ(bridge.tick(now + 5001), -1);
  EXPECT_EQ(f.http.asked.back(), "action/eventend");
  f.http.asked.clear();
  bridge.endRecording();  // nothing open any more
  EXPECT_TRUE(f.http.asked.empty());
  bridge.perform(CameraVerb::kRecordingStart, "");
  bridge.endRecording();
  EXPECT_EQ(f.http.asked.back(), "action/eventend");
}

TEST(MotionBridge, SnapshotWaitsForTheNewWholeFile) {
  struct Case {
    int stepsUntilWhole;  // gets of lastsnap after the request until the file is whole; -1 never
    CameraAnswer answer;
  } cases[] = {{0, CameraAnswer::kDone}, {3, CameraAnswer::kDone}, {-1, CameraAnswer::kFailed}};
  for (const Case& c : cases) {
    Fixture f;
    write(f.dir.path() + "/old-snapshot.jpg", kJpeg);
    ASSERT_EQ(::symlink("old-snapshot.jpg", (f.dir.path() + "/lastsnap.jpg").c_str()), 0);
    // motion answers first and writes the file afterwards, half at first.
    f.http.onGet = [&](const std::string& path) {
      if (path != "action/snapshot") return;
      write(f.dir.path() + "/new-snapshot.jpg", c.stepsUntilWhole == 0 ? kJpeg : kJpeg.substr(0, 10));
      ::unlink((f.dir.path() + "/lastsnap.jpg").c_str());
      ASSERT_EQ(::symlink("new-snapshot.jpg", (f.dir.path() + "/lastsnap.jpg").c_str()), 0);
    };
    std::thread finisher;
    if (c.stepsUntilWhole > 0)
      finisher = std::thread([&] {
        usleep(30000);
        write(f.dir.path() + "/new-snapshot.jpg", kJpeg);
      });
    motion::MotionBridge bridge(f.http, f.settings, f.places, f.log);
    const int64_t start = motion::monotonicMs();
    EXPECT_EQ(bridge.perform(CameraVerb::kSnapshotReply, ""), c.answer);
    if (finisher.joinable()) finisher.join();
    EXPECT_LT(motion::monotonicMs() - start, 1000);  // the deadline holds
    std::string snap;
    EXPECT_EQ(platform::readWholeFile(command::kSnapshotFile, &snap), c.answer == CameraAnswer::kDone);
    if (c.answer == CameraAnswer::kDone) {
      EXPECT_EQ(snap, kJpeg);
    } else {
      EXPECT_EQ(f.logLines().back(), "motionのスナップ画像が現れませんでした");
    }
  }
}

TEST(MotionBridge, SnapshotOfTheSameNameIsNewWhenItChanged) {
  Fixture f;
  const std::string path = f.dir.path() + "/snapshot.jpg";
  write(path, kJpeg);
  ASSERT_EQ(::symlink("snapshot.jpg", (f.dir.path() + "/lastsnap.jpg").c_str()), 0);
  const std::string newer = std::string("\xFF\xD8") + std::string(100, 'n') + "\xFF\xD9";
  f.http.onGet = [&](const std::string& asked) {
    if (asked == "action/snapshot") write(path, newer);
  };
  motion::MotionBridge bridge(f.http, f.settings, f.places, f.log);
  EXPECT_EQ(bridge.perform(CameraVerb::kSnapshotReply, ""), CameraAnswer::kDone);
  std::string snap;
  ASSERT_TRUE(platform::readWholeFile(command::kSnapshotFile, &snap));
  EXPECT_EQ(snap, newer);
}

// libcurl comes with the first request and goes after a quiet while.
TEST(CurlMotionHttp, LetsLibcurlGoWhenIdle) {
  auto curlMapped = [] {
    std::string maps;
    EXPECT_TRUE(platform::readWholeFile("/proc/self/maps", &maps));
    return maps.find("libcurl") != std::string::npos;
  };
  motion::CurlMotionHttp http("http://127.0.0.1:1", 1, "", "", 500);
  EXPECT_EQ(http.idle(0), -1);
  EXPECT_FALSE(curlMapped());
  std::string body, error;
  EXPECT_FALSE(http.get("detection/status", &body, &error));  // refused, but libcurl came
  EXPECT_TRUE(curlMapped());
  const int64_t now = static_cast<int64_t>(platform::monotonicMs());
  int64_t wait = http.idle(now);
  EXPECT_GT(wait, motion::CurlMotionHttp::kKeepMs - 1000);
  EXPECT_LE(wait, motion::CurlMotionHttp::kKeepMs);
  EXPECT_TRUE(curlMapped());
  EXPECT_EQ(http.idle(now + motion::CurlMotionHttp::kKeepMs), -1);
  EXPECT_FALSE(curlMapped());
}

}  // namespace
