// Operations on a running store: import, reading back, erase, spam to the
// recycle bin, folder moves and the exit rewrite.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "StoreFixture.h"

namespace storetest {
namespace {

using mime::MailIndexEntry;

std::vector<std::string> mails(int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(mailText(i, 300 + 11 * i));
  return out;
}

MailIndexEntry withText(const char* subject, const char* from) {
  MailIndexEntry e{};
  std::strcpy(e.subject, subject);
  std::strcpy(e.from, from);
  return e;
}

TEST(MailFileName, Cases) {
  const platform::LocalTime t{2008, 12, 7, 0, 9, 5, 3, 42};
  const std::string eighty(80, 'S');
  struct Case {
    std::string subject;
    const char* from;
    std::string name;
  } cases[] = {
      {"Hello", "a@example.jp", "Hello(090503042)"},
      {"", "Taro <a@example.jp>", "Taro a@example.jp(090503042)"},
      {"", "", "20081207090503042"},
      {"Re: why? \"now\" *a/b\\c|d<e>\n", "", "Re why now abcde(090503042)"},
      {"tab\there", "", "tabhere(090503042)"},
      {"表示ソフト能力", "", "表示ソフト能力(090503042)"},  // second bytes 0x5C stay
      {"nul.txt", "", "_nul.txt(090503042)"},  // a device name, on Windows
      {eighty + "tail", "", eighty + "(090503042)"},
      {std::string(79, 'a') + "表", "", std::string(79, 'a') + "(090503042)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subject);
    EXPECT_EQ(store::mailFileName(withText(c.subject.c_str(), c.from), t), c.name);
  }
  EXPECT_EQ(store::mailFileName(withText("", "")).size(), 17u);
}

TEST_F(StoreTest, ReadFromLogMatchesByteByByteReading) {
  std::string log = "From: a\r\n\r\nnul\0here\0\r\n.\r\n";
  log.insert(log.size(), 70000, 'q');
  log[40000] = '\0';
  writeLog(log);
  struct Case {
    int32_t position, length;
    bool result;
  } cases[] = {{0, 10, true}, {5, 20, true}, {0, static_cast<int32_t>(log.size()), true},
               {39990, 30, true}, {static_cast<int32_t>(log.size()) - 1, 2, false}, {-1, 5, false},
               {0, -1, false}, {100000, 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    std::vector<char> buffer(static_cast<size_t>(std::max(c.length, 0)) + 1, 'X');
    ASSERT_EQ(st().readFromLog(buffer.data(), c.length, c.position), c.result);
    if (!c.result) continue;
    for (int32_t i = 0; i < c.length; ++i) {
      char expected = log[static_cast<size_t>(c.position + i)];
      ASSERT_EQ(buffer[static_cast<size_t>(i)], expected ? expected : ' ') << i;
    }
    EXPECT_EQ(buffer[static_cast<size_t>(c.length)], '\0');
  }
}

TEST_F(StoreTest, ShowSourceCases) {
  std::vector<std::string> texts = mails(2);
  st().createIndex();
  store(texts);
  std::string text;
  EXPECT_FALSE(st().showSource(nullptr, &text));
  EXPECT_TRUE(g_boxes.empty());
  ASSERT_TRUE(st().showSource(&entries()[1], &text));
  EXPECT_EQ(text, texts[1].substr(0, texts[1].size() - 2));  // up to the dot of the last line
  MailIndexEntry bad = entries()[1];
  bad.mailEnd = -5;
  MailIndexEntry outside = entries()[1];
  outside.logOffset = 1 << 30;
  for (const MailIndexEntry* e : {&bad, &outside}) {
    g_boxes.clear();
    EXPECT_FALSE(st().showSource(e, &text));
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, "SYSERROR: 0002 ソース表示範囲異常");
  }
}

TEST_F(StoreTest, ImportMailFileCases) {
  const std::string body(520, 'b');
  struct Case {
    const char* name;
    std::string file;
    bool imported;
    std::string logged;  // what the log gets
  } cases[] = {
      {"499 bytes", "Date: x\r\n\r\n" + body.substr(0, 499 - 11), false, ""},
      {"no header names", "Subject: x\r\n\r\n" + body, false, ""},
      {"lower-case date", "date: x\r\n\r\n" + body, true, "date: x\r\n\r\n" + body + "\r\n.\r\n"},
      {"with final line", "From: y\r\n\r\n" + body + "\r\n.\r\n", true, "From: y\r\n\r\n" + body + "\r\n.\r\n"},
      {"LF only", "Received: z\nTo: w\n\n" + body + "\n", true, "Received: z\nTo: w\n\n" + body + "\n\r\n.\r\n"},
  };
  st().createIndex();
  std::string expectedLog;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir_.sjisFile("drop.eml");
    platform::writeWholeFile(path.c_str(), c.file);
    size_t rows = entries().size();
    EXPECT_EQ(st().importMailFile(path.c_str()), c.imported);
    expectedLog += c.logged;
    EXPECT_EQ(logFile(), expectedLog);
    ASSERT_EQ(entries().size(), rows + (c.imported ? 1 : 0));
    if (c.imported) {
      EXPECT_EQ(entries().back().arrivalMark, mime::kMarkGeneral);
      EXPECT_EQ(entries().back().mailEnd, static_cast<int32_t>(c.logged.size() - 3));
    }
  }
  restart();
  EXPECT_FALSE(st().rebuildTried());  // the records chain up to the end of the log
  EXPECT_EQ(entries().size(), 3u);
}

// The program asks first; the store erases without a question of its own.
TEST_F(StoreTest, ClearStoreErases) {
  st().createIndex();
  store(mails(3));
  st().deleteMail(0);
  EXPECT_TRUE(st().clearStore());
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_TRUE(entries().empty());
  EXPECT_EQ(view_.previewClears, 1);
  EXPECT_FALSE(platform::fileExists(st().logPath().c_str()));
  EXPECT_EQ(indexFile().size(), 24u);
  EXPECT_EQ(st().storedMailCount() + st().mailLogSize() + st().deletedCount(), 0);
}

TEST_F(StoreTest, RecycleSpamMovesTheMailToTheTrash) {
  std::string trash = dir_.path() + "/xdg";
  ::setenv("XDG_DATA_HOME", trash.c_str(), 1);
  std::string text = mailText(1, 300);
  MailIndexEntry mail = parsed(text, 0, 0);
  std::strcpy(mail.subject, "Spam: buy? now");
  EXPECT_TRUE(st().recycleSpam(mail, text.data(), text.size()));
  EXPECT_EQ(commLog(), "ごみ箱に移しました\r\n");
  std::string listing;
  FILE* p = ::popen(("ls '" + trash + "/Trash/files' '" + dir_.path() + "'").c_str(), "r");
  char line[512];
  while (p && std::fgets(line, sizeof line, p)) listing += line;
  if (p) ::pclose(p);
  EXPECT_NE(listing.find("Spam buy now("), std::string::npos) << listing;
  EXPECT_EQ(listing.find(".eml", listing.find("Spam buy now(") + 1), listing.rfind(".eml"));  // one copy
  // A folder that cannot take the file.
  st().setFolder(dir_.sjisFile("missing").c_str());
  EXPECT_FALSE(st().recycleSpam(mail, text.data(), text.size()));
  EXPECT_EQ(commLog(), "ごみ箱に移しました\r\nスパムメール収納失敗\r\n");
  ::unsetenv("XDG_DATA_HOME");
}

// The two choices for an existing log in the new folder (the program asks
// the question, Cancel never reaches the store), and a folder without one.
TEST_F(StoreTest, MoveStoreFolderChoices) {
  using Existing = store::MailStore::ExistingLog;
  using Result = store::MailStore::MoveResult;
  std::string other = dir_.sjisFile("other");
  platform::makeDirectory(other.c_str());
  std::string here = dir_.sjisPath();
  st().createIndex();
  store(mails(3));
  const std::string log = logFile(), index = indexFile();
  const std::string otherLog = "other log\r\n.\r\n";
  // The mailbox memories and the companion files travel with the log; with
  // Yes the new folder's own are deleted with its log.
  const std::string memory = "QuorvelMailbox-0123456789abcdef.dat", otherMemory = "QuorvelMailbox-ffff.dat";
  st().setCompanionFiles({"QuorvelGuard.dat"});
  struct Case {
    Existing existing;
    Result result;
    std::string logHere, logThere;
    std::string memoryHere, memoryThere, guardHere, guardThere;
    bool otherMemoryThere;
  } cases[] = {
      {Existing::kSwitchTo, Result::kSwitched, log, otherLog, "mine", "theirs", "my guard", "their guard", true},
      {Existing::kReplace, Result::kMoved, "", log, "", "mine", "", "my guard", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.existing));
    st().setFolder(here.c_str());
    writeLog(log);
    writeIndex(index);
    platform::writeWholeFile((other + "\\QuorvelMail.log").c_str(), otherLog);
    platform::writeWholeFile((other + "\\QuorvelMail.idx").c_str(), "old index");
    platform::writeWholeFile((here + "\\" + memory).c_str(), "mine");
    platform::writeWholeFile((other + "\\" + memory).c_str(), "theirs");
    platform::writeWholeFile((other + "\\" + otherMemory).c_str(), "another mailbox");
    platform::writeWholeFile((here + "\\QuorvelGuard.dat").c_str(), "my guard");
    platform::writeWholeFile((other + "\\QuorvelGuard.dat").c_str(), "their guard");
    EXPECT_TRUE(st().hasLogIn(other.c_str()));
    EXPECT_EQ(st().moveStoreFolder(other.c_str(), c.existing), c.result);
    EXPECT_EQ(st().folder(), other);
    EXPECT_EQ(slurp(here + "\\QuorvelMail.log"), c.logHere);
    EXPECT_EQ(slurp(other + "\\QuorvelMail.log"), c.logThere);
    EXPECT_EQ(slurp(here + "\\" + memory), c.memoryHere);
    EXPECT_EQ(slurp(other + "\\" + memory), c.memoryThere);
    EXPECT_EQ(slurp(here + "\\QuorvelGuard.dat"), c.guardHere);
    EXPECT_EQ(slurp(other + "\\QuorvelGuard.dat"), c.guardThere);
    EXPECT_EQ(platform::fileExists((other + "\\" + otherMemory).c_str()), c.otherMemoryThere);
    if (c.existing == Existing::kReplace) EXPECT_EQ(slurp(other + "\\QuorvelMail.idx"), index);
  }
  EXPECT_TRUE(g_boxes.empty());
  // Back to the first folder, which holds no log now: nothing to ask.
  EXPECT_FALSE(st().hasLogIn(here.c_str()));
  EXPECT_EQ(st().moveStoreFolder(here.c_str()), Result::kMoved);
  EXPECT_EQ(logFile(), log);
  // The same folder spelt differently is not a move: nothing is deleted.
  EXPECT_FALSE(st().hasLogIn((here + "\\").c_str()));
  EXPECT_EQ(st().moveStoreFolder((here + "\\").c_str()), Result::kMoved);
  EXPECT_EQ(logFile(), log);
  EXPECT_TRUE(g_boxes.empty());
}

// Exit rewrite: deleted mails leave the log, the newest keepCount stay.
TEST_F(StoreTest, CompactAndTrim) {
  std::vector<std::string> texts = mails(8);
  struct Case {
    const char* name;
    std::vector<int> deleted;  // list positions removed, in the mail order
    int keep;
    std::vector<int> left;     // mails in the log afterwards
  } cases[] = {
      {"keep 5 of 8", {}, 5, {3, 4, 5, 6, 7}},
      {"keep 0", {}, 0, {}},
      {"keep more than stored", {}, 30, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"deleted, then trimmed", {1, 4}, 5, {2, 3, 5, 6, 7}},
      {"all deleted", {0, 1, 2, 3, 4, 5, 6, 7}, 5, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::removeFile(st().logPath().c_str());
    restartObject();
    st().createIndex();
    store(texts);
    for (auto it = c.deleted.rbegin(); it != c.deleted.rend(); ++it) st().deleteMail(*it);
    EXPECT_TRUE(st().compactStore());
    EXPECT_TRUE(st().trimStore(c.keep));
    std::string expected;
    for (int i : c.left) expected += texts[static_cast<size_t>(i)];
    EXPECT_EQ(logFile(), expected);
    EXPECT_EQ(st().mailLogSize(), static_cast<int64_t>(expected.size()));
    // The model follows the rewritten log: what a new start reads from it.
    const std::vector<mime::MailIndexEntry> running = entries();
    restart();
    EXPECT_FALSE(st().rebuildTried());
    ASSERT_EQ(entries().size(), c.left.size());
    ASSERT_EQ(running.size(), c.left.size());
    for (size_t i = 0; i < c.left.size(); ++i) {
      EXPECT_EQ(entries()[i].mailNumber, static_cast<int32_t>(i));
      EXPECT_EQ(entries()[i].subject, "mail " + std::to_string(c.left[i]));
      mime::MailIndexEntry markless = running[i];
      markless.arrivalMark = mime::kMarkNone;
      EXPECT_TRUE(sameEntry(markless, entries()[i])) << i;
    }
  }
}

// A power-off that fails after the trim: the program goes on storing,
// reading and deleting mails, and the exit rewrite copies whole mails.
TEST_F(StoreTest, TrimDuringARunLeavesTheStoreUsable) {
  std::vector<std::string> texts = mails(8);
  st().createIndex();
  store({texts[0], texts[1], texts[2], texts[3], texts[4]});
  st().deleteMail(1);  // deleted before the trim: compacted first
  ASSERT_TRUE(st().trimStore(2));
  EXPECT_EQ(logFile(), texts[3] + texts[4]);
  store({texts[5], texts[6], texts[7]});
  EXPECT_EQ(logFile(), texts[3] + texts[4] + texts[5] + texts[6] + texts[7]);
  for (int row = 0; row < st().model().count(); ++row) {
    std::string source;
    ASSERT_TRUE(st().showSource(&st().model().entryAt(row), &source));
    EXPECT_EQ(source, texts[static_cast<size_t>(row) + 3].substr(0, texts[static_cast<size_t>(row) + 3].size() - 2));
  }
  st().deleteMail(2);  // mail 5
  ASSERT_TRUE(st().compactStore());
  EXPECT_EQ(logFile(), texts[3] + texts[4] + texts[6] + texts[7]);
  restart();
  EXPECT_FALSE(st().rebuildTried());
  ASSERT_EQ(entries().size(), 4u);
  EXPECT_EQ(std::string(entries()[2].subject), "mail 6");
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(StoreTest, RewriteRefusesRecordsOutsideTheLog) {
  st().createIndex();
  store(mails(4));
  const std::string log = logFile(), good = indexFile();
  // A record (not the last, which chains to the end of the log) whose mail
  // runs past the end of the log.
  std::string index = good;
  int32_t huge = 1 << 28;
  std::memcpy(&index[24 + 2 * 1572 + 40], &huge, 4);
  writeIndex(index);
  restart();
  st().deleteMail(0);
  EXPECT_FALSE(st().compactStore());
  EXPECT_EQ(logFile(), log);
  // A trim point that is not the start of a mail.
  index = good;
  int32_t bad = 77;
  std::memcpy(&index[24 + 1 * 1572 + 4], &bad, 4);
  writeIndex(index);
  restart();
  EXPECT_FALSE(st().trimStore(3));
  EXPECT_EQ(logFile(), log);
}

}  // namespace
}  // namespace storetest
