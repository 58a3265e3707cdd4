// A mail store in a private folder, with a recorder for the faults it
// reports and for its model's view, and mails to store.
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
// Every message box asked for: the store must show none itself.
inline int g_platformBoxes = 0;

inline int countBox(const char*, const char*, unsigned) {
  ++g_platformBoxes;
  return platform::kIdOk;
}

// What the model told its view.
struct ViewRecorder : store::MailModelView {
  void rowsReset(int count) override { calls.push_back("reset " + std::to_string(count)); }
  void rowAdded(int row) override { calls.push_back("add " + std::to_string(row)); }
  void rowChanged(int row) override { calls.push_back("change " + std::to_string(row)); }
  void rowRemoved(int row) override { calls.push_back("remove " + std::to_string(row)); }
  void clearPreview() override { ++previewClears; }
  std::vector<std::string> calls;
  int previewClears = 0;
};

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
    view_ = ViewRecorder{};
    store_ = std::make_unique<store::MailStore>(log_);
    store_->setFolder(dir_.sjisPath().c_str());
    store_->setFaultReporter([](const store::StoreFault& f) {
      g_boxes.push_back({f.text ? f.text : "", f.caption ? f.caption : "(none)", f.flags});
    });
    store_->model().setView(&view_);
  }
  void SetUp() override {
    g_boxes.clear();
    g_platformBoxes = 0;
    platform::setMessageBoxHook(countBox);
  }
  void TearDown() override {
    platform::setMessageBoxHook(nullptr);
    EXPECT_EQ(g_platformBoxes, 0) << "the store showed a message box";
  }

  // Stores mails as a check does.
  void store(const std::vector<std::string>& mails, int32_t mark = mime::kMarkGeneral) {
    for (const std::string& m : mails) {
      mime::MimeMessage msg;
      msg.parseMail(m.data(), m.size(), static_cast<int32_t>(st().mailLogSize()), st().storedMailCount());
      msg.arrivalMark = mark;
      ASSERT_NE(st().appendMail(msg, m.data(), m.size()), mime::kNoMail);
    }
  }
  // A program start on this folder: a new store, openStore, then every
  // loadIndex it asks for (WM_USER+4), as the main window does.
  void restart() {
    restartObject();
    loads_ = 0;
    for (bool load = st().openStore(); load; load = st().loadIndex()) ++loads_;
  }
  size_t loads() const { return loads_; }
  // The records of the model, in row order.
  std::vector<mime::MailIndexEntry> entries() const {
    std::vector<mime::MailIndexEntry> out;
    for (int row = 0; row < st().model().count(); ++row) out.push_back(st().model().entryAt(row));
    return out;
  }
  std::string logFile() const { return slurp(st().logPath()); }
  std::string indexFile() const { return slurp(st().indexPath()); }
  std::string commLog() const { return slurp(log_.path()); }
  void writeLog(const std::string& bytes) { platform::writeWholeFile(st().logPath().c_str(), bytes); }
  void writeIndex(const std::string& bytes) { platform::writeWholeFile(st().indexPath().c_str(), bytes); }

  testsupport::TempDir dir_;
  commlog::CommLog log_;
  ViewRecorder view_;
  size_t loads_ = 0;
  std::unique_ptr<store::MailStore> store_;
  store::MailStore& st() { return *store_; }
  const store::MailStore& st() const { return *store_; }
};

}  // namespace storetest
