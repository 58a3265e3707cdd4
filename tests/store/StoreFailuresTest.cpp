// What a full disk, a missing folder or a long folder name do to the
// store's operations: nothing stored is lost, and each failure is told.
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "StoreFixture.h"

namespace storetest {
namespace {

namespace fs = std::filesystem;

// Files of this process may not grow beyond `bytes` while it lives (a full
// disk: writes stop short). SIGXFSZ is ignored so that the write fails.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = nullptr;
};

std::vector<std::string> bigMails(int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(mailText(i, 3000));
  return out;
}

TEST_F(StoreTest, ShortLogWriteIsCutBackAndTheNextMailFollowsTheLastWholeOne) {
  std::vector<std::string> texts = bigMails(3);
  st().createIndex();
  store({texts[0], texts[1]});
  const std::string before = logFile();
  mime::MimeMessage msg;
  msg.parseMail(texts[2].data(), texts[2].size(), static_cast<int32_t>(st().mailLogSize()), 2);
  {
    FileSizeLimit full(before.size() + 100);
    EXPECT_EQ(0, st().appendMail(msg, texts[2].data(), texts[2].size()));
  }
  EXPECT_EQ(logFile(), before);
  EXPECT_EQ(st().mailLogSize(), static_cast<int64_t>(before.size()));
  EXPECT_EQ(commLog(), "メールログ追記失敗\r\n");

  store({texts[2]});  // the next check, with room again
  EXPECT_EQ(logFile(), before + texts[2]);
  restart();  // one row per mail, none for the failed write
  ASSERT_EQ(entries().size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(std::string(entries()[i].subject), "mail " + std::to_string(i));
}

TEST_F(StoreTest, IndexThatCannotBeWrittenAtStartUpLeavesTheLog) {
  std::vector<std::string> texts = bigMails(3);
  writeLog(texts[0] + texts[1] + texts[2]);
  const std::string log = logFile();
  {
    FileSizeLimit full(1000);  // the header and part of one record
    restart();
  }
  EXPECT_TRUE(entries().empty());
  EXPECT_EQ(logFile(), log);
  ASSERT_EQ(g_boxes.size(), 1u);  // told once, not again by a load of the unwritten index
  EXPECT_EQ(g_boxes[0].text, "インデックス ファイル作成失敗");

  restart();
  EXPECT_EQ(entries().size(), 3u);
}

TEST_F(StoreTest, MoveToAMissingFolderIsRefusedAndChangesNothing) {
  st().createIndex();
  store(bigMails(2));
  const std::string log = logFile(), here = st().folder();
  EXPECT_EQ(st().moveStoreFolder(dir_.sjisFile("missing").c_str()), store::MailStore::MoveResult::kFailed);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, "メールログが移動できません。\nアクセス権を確認してください。");
  EXPECT_EQ(st().folder(), here);
  EXPECT_EQ(logFile(), log);
}

// A spam file whose path would pass 260 bytes is cut to 253 bytes, never
// inside a double-byte character; a trash that cannot be reached is told.
TEST_F(StoreTest, LongSpamPathIsCutBetweenCharacters) {
  const std::string trash = dir_.path() + "/xdg";
  ::setenv("XDG_DATA_HOME", trash.c_str(), 1);
  // Folder, separator, then the 80-byte subject "あ"×40: the cut at 253
  // bytes falls on the second byte of its 21st character.
  const std::string deep = std::string(211 - dir_.sjisPath().size() - 1, 'd');
  ASSERT_TRUE(fs::create_directory(dir_.path() + "/" + deep));
  st().setFolder(dir_.sjisFile(deep.c_str()).c_str());
  std::string text = mailText(1, 300);
  mime::MailIndexEntry mail = parsed(text, 0, 0);
  std::string subject;
  for (int i = 0; i < 40; ++i) subject += "あ";
  std::strcpy(mail.subject, subject.c_str());

  EXPECT_EQ(st().recycleSpam(mail, text.data(), text.size()), 1);
  std::string kept;
  for (int i = 0; i < 20; ++i) kept += u8"あ";
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(trash + "/Trash/files"))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{kept + ".eml"});

  // A trash folder that cannot be made: the file stays, the log says so.
  platform::writeWholeFile(dir_.sjisFile("not-a-folder").c_str(), "x");
  ::setenv("XDG_DATA_HOME", (dir_.path() + "/not-a-folder").c_str(), 1);
  EXPECT_EQ(st().recycleSpam(mail, text.data(), text.size()), 0);
  EXPECT_EQ(commLog(), "ごみ箱に移しました\r\nごみ箱への移動失敗\r\n");
  ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace storetest
