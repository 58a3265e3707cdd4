// A mail store in a private folder, with recorders for message boxes and
// posted messages, and mails to store.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "mime/MimeMessage.h"
#include "platform/File.h"
#include "platform/AppMessages.h"
#include "platform/Hooks.h"
#include "commlog/CommLog.h"
#include "store/MailStore.h"
#include "support/TempDir.h"

namespace storetest {

struct Box {
  std::string text, caption;
  unsigned flags;
};

inline std::vector<Box> g_boxes;
inline std::deque<int> g_answers;  // answers for the next boxes; OK/Yes after them
inline std::vector<unsigned> g_posts;

inline int recordBox(const char* text, const char* caption, unsigned flags) {
  g_boxes.push_back({text ? text : "", caption ? caption : "(none)", flags});
  if (g_answers.empty()) return (flags & 0xF) == platform::kMbOk ? platform::kIdOk : platform::kIdYes;
  int answer = g_answers.front();
  g_answers.pop_front();
  return answer;
}
inline void recordPost(unsigned message, uintptr_t, intptr_t) { g_posts.push_back(message); }

// A mail as the server sends it: CR LF lines ending with the line ".".
inline std::string mailText(int n, size_t bodyBytes = 200, const std::string& extraHeader = "") {
  std::string text = "Received: from mx.example.jp\r\nFrom: sender" + std::to_string(n) +
                     "@example.jp\r\nTo: user@example.jp\r\nSubject: mail " + std::to_string(n) +
                     "\r\nDate: Sun, 7 Dec 2008 09:05:03 +0900\r\n" + extraHeader + "\r\n";
  std::string line = "body of mail " + std::to_string(n) + " ";
  while (line.size() < 70) line += 'x';
  for (size_t written = 0; written < bodyBytes; written += line.size() + 2) text += line + "\r\n";
  return text + ".\r\n";
}

inline std::string slurp(const std::string& sjisPath) {
  std::string data;
  platform::readWholeFile(sjisPath.c_str(), &data);
  return data;
}

inline mime::MailIndexEntry parsed(const std::string& text, int32_t offset, int32_t number) {
  mime::MimeMessage m;
  m.parseMail(text.data(), text.size(), offset, number);
  return m.entry();
}

inline bool sameEntry(const mime::MailIndexEntry& a, const mime::MailIndexEntry& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class StoreTest : public ::testing::Test {
 protected:
  StoreTest() : log_(dir_.sjisFile("comm.txt")) { restartObject(); }
  void restartObject() {
    list_.entries.clear();
    store_ = std::make_unique<store::MailStore>(list_, log_);
    store_->setFolder(dir_.sjisPath().c_str());
  }
  void SetUp() override {
    g_boxes.clear();
    g_answers.clear();
    g_posts.clear();
    platform::setMessageBoxHook(recordBox);
    platform::setPostHook(recordPost);
  }
  void TearDown() override {
    platform::setMessageBoxHook(nullptr);
    platform::setPostHook(nullptr);
  }

  // Stores mails as a check does.
  void store(const std::vector<std::string>& mails, int32_t mark = store::kMarkGeneral) {
    for (const std::string& m : mails) {
      mime::MimeMessage msg;
      msg.parseMail(m.data(), m.size(), static_cast<int32_t>(st().mailLogSize()), st().storedMailCount());
      msg.arrivalMark = mark;
      ASSERT_TRUE(st().appendMail(msg, m.data(), m.size()));
    }
  }
  // A program start on this folder: a new store, openStore, then every
  // WM_USER+4 it posts handled as the main window does.
  void restart() {
    restartObject();
    g_posts.clear();
    st().openStore();
    for (size_t i = 0; i < g_posts.size(); ++i)
      if (g_posts[i] == appmsg::kLoadIndex) st().loadIndex();
  }
  size_t loads() const {
    size_t n = 0;
    for (unsigned m : g_posts) n += m == appmsg::kLoadIndex;
    return n;
  }
  std::string logFile() const { return slurp(st().logPath()); }
  std::string indexFile() const { return slurp(st().indexPath()); }
  std::string commLog() const { return slurp(log_.path()); }
  void writeLog(const std::string& bytes) { platform::writeWholeFile(st().logPath().c_str(), bytes); }
  void writeIndex(const std::string& bytes) { platform::writeWholeFile(st().indexPath().c_str(), bytes); }

  testsupport::TempDir dir_;
  commlog::CommLog log_;
  store::MemoryMailList list_;
  std::unique_ptr<store::MailStore> store_;
  store::MailStore& st() { return *store_; }
  const store::MailStore& st() const { return *store_; }
};

}  // namespace storetest
