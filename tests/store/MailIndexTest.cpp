// The log and index formats, start-up, the rebuild and crash recovery.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "StoreFixture.h"
#include "platform/FileOps.h"

namespace storetest {
namespace {

using mime::MailIndexEntry;

std::vector<std::string> mails(int count, size_t bodyBytes = 300) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(mailText(i, bodyBytes + 37 * i));
  return out;
}

std::string concat(const std::vector<std::string>& parts) {
  std::string s;
  for (const std::string& p : parts) s += p;
  return s;
}

// The records the download parse gives for these mails stored in order.
std::vector<MailIndexEntry> expectedRecords(const std::vector<std::string>& texts) {
  std::vector<MailIndexEntry> out;
  int32_t offset = 0;
  for (size_t i = 0; i < texts.size(); ++i) {
    out.push_back(parsed(texts[i], offset, static_cast<int32_t>(i)));
    offset += static_cast<int32_t>(texts[i].size());
  }
  return out;
}

// Records at 24 + i * 1572 as the download parse gave them, the raw texts
// one after another; a restart loads them with the mark 0, without rebuild.
TEST_F(StoreTest, AppendThenRestart) {
  std::vector<std::string> texts = mails(3);
  st().createIndex();
  store(texts, mime::kMarkWaiting);
  std::string index = indexFile();
  ASSERT_EQ(index.size(), 24u + 3 * 1572u);
  EXPECT_EQ(0, std::memcmp(index.data(), "ZKPOPIDX_HEADER\0\0\0\0\0\0\0\0\0", 24));
  std::vector<MailIndexEntry> expected = expectedRecords(texts);
  for (size_t i = 0; i < 3; ++i) {
    MailIndexEntry e = expected[i];
    e.arrivalMark = mime::kMarkWaiting;
    EXPECT_EQ(0, std::memcmp(index.data() + 24 + i * 1572, &e, 1572)) << "record " << i;
  }
  EXPECT_EQ(logFile(), concat(texts));
  EXPECT_EQ(st().mailLogSize(), static_cast<int64_t>(concat(texts).size()));
  restart();
  ASSERT_EQ(entries().size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(sameEntry(entries()[i], expected[i])) << i;
  EXPECT_EQ(loads(), 1u);
  EXPECT_EQ(indexFile(), index);
  EXPECT_EQ(st().storedMailCount(), 3);
}

// Each row: the files before start-up, and what start-up leaves.
TEST_F(StoreTest, OpenStoreCases) {
  const std::vector<std::string> texts = mails(3);
  const std::string three = concat(texts);
  const std::string small = mailText(0, 100);  // one complete mail under 500 bytes
  ASSERT_LT(small.size(), 500u);
  struct Case {
    const char* name;
    bool logExists;
    std::string log;
    bool indexExists;
    std::string index;
    size_t rows;
    size_t loadsPosted;
    bool logKept;
  } cases[] = {
      {"no files", false, "", false, "", 0, 0, false},
      {"empty log", true, "", false, "", 0, 0, true},
      {"400-byte log", true, small, false, "", 0, 0, false},
      {"index of 24 bytes", true, three, true, std::string("ZKPOPIDX_HEADER\0\0\0\0\0\0\0\0\0", 24), 3, 1, true},
      {"no index", true, three, false, "", 3, 1, true},
      {"short header", true, three, true, "ZKPOP", 3, 1, true},
      {"only a cut mail", true, texts[0].substr(0, texts[0].size() - 10), false, "", 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::removeFile(st().logPath().c_str());
    platform::removeFile(st().indexPath().c_str());
    if (c.logExists) writeLog(c.log);
    if (c.indexExists) writeIndex(c.index);
    g_boxes.clear();
    restart();
    EXPECT_EQ(entries().size(), c.rows);
    EXPECT_EQ(loads(), c.loadsPosted);
    EXPECT_EQ(platform::fileExists(st().logPath().c_str()), c.logKept);
    std::string index = indexFile();
    ASSERT_EQ(index.size(), 24 + c.rows * 1572);
    EXPECT_EQ(0, std::memcmp(index.data(), "ZKPOPIDX_HEADER", 16));
    EXPECT_TRUE(g_boxes.empty());
  }
}

TEST_F(StoreTest, ForeignIndexAndMissingLogAreReported) {
  st().createIndex();
  store(mails(3));
  std::string index = indexFile(), log = logFile();
  std::memcpy(&index[0], "OTHERIDX_HEADER", 15);
  writeIndex(index);
  restart();
  EXPECT_TRUE(entries().empty());
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text,
            "メールIDXファイルのバージョンが異なっています。\nメールIDXファイル(QuorvelMail.idx)を削除して再起動してください。");
  EXPECT_EQ(g_boxes[0].caption, "障害報告");
  EXPECT_EQ(indexFile(), index);
  EXPECT_EQ(logFile(), log);

  std::memcpy(&index[0], "ZKPOPIDX_HEADER", 15);
  writeIndex(index);
  platform::removeFile(st().logPath().c_str());
  st().loadIndex();
  ASSERT_EQ(g_boxes.size(), 2u);
  EXPECT_EQ(g_boxes[1].text, "SYSERROR:0001 メールLOGファイルなし。");
  EXPECT_EQ(g_boxes[1].caption, "(none)");
  EXPECT_EQ(g_boxes[1].flags, platform::kMbIconExclamation | platform::kMbJapanese);
}

TEST_F(StoreTest, InconsistentIndexIsRebuiltOnceThenLogErased) {
  std::vector<std::string> texts = mails(3);
  st().createIndex();
  store(texts);
  writeLog(logFile() + std::string(10, 'z') + "\r\n.\r\n");  // ends 15 bytes after the last record
  restart();
  EXPECT_TRUE(st().rebuildTried());
  EXPECT_EQ(loads(), 2u);
  ASSERT_EQ(entries().size(), 4u);  // the extra bytes became a mail of their own
  EXPECT_EQ(st().storedMailCount(), 4);
  EXPECT_TRUE(g_boxes.empty());

  // Still disagreeing after the rebuild (the log grew behind its back).
  writeLog(logFile() + "more");
  st().loadIndex();
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, "メールログがデータ異常でロードできません。このメールログは消去されます。");
  EXPECT_EQ(g_boxes[0].flags, platform::kMbIconExclamation | platform::kMbJapanese);
  EXPECT_FALSE(platform::fileExists(st().logPath().c_str()));
  EXPECT_FALSE(st().rebuildTried());
}

// Mails of many shapes; the rebuilt records equal the download parse's.
TEST_F(StoreTest, RebuildGivesTheRecordsOfTheDownloadParse) {
  std::vector<std::string> texts = {
      mailText(0, 300, "Content-Type: multipart/mixed; boundary=\"Ab_12\"\r\nMIME-Version: 1.0\r\n"),
      "From: =?ISO-2022-JP?B?GyRCJEIbKEI=?= <a@example.jp>\r\nSubject: folded\r\n  =?ISO-2022-JP?B?GyRCJEQbKEI=?=\r\n"
      "X-Priority: 3 (Normal)\r\n\r\n--Ab_12\r\nnot a boundary here\r\n..dot-stuffed\r\n.\r\n",
      "From: header only <h@example.jp>\r\nSubject: no empty line\r\n.\r\n",
      mailText(3, 3 << 20),  // longer than a read block
      ".\r\n",
      "Subject: long line\r\n\r\n" + std::string((1 << 20) + 7, 'L') + "\r\n.\r\n",
      mailText(6, 200),
  };
  texts[0].insert(texts[0].size() - 3, "--Ab_12\r\nContent-Type: text/plain\r\n\r\nfirst\r\n--Ab_12\r\n\r\nsecond\r\n--Ab_12--\r\n");
  st().createIndex();
  store(texts, 0);  // the rebuild writes the mark 0
  std::string appended = indexFile();
  ASSERT_TRUE(st().rebuildIndex());
  EXPECT_EQ(indexFile(), appended);
  std::vector<MailIndexEntry> expected = expectedRecords(texts);
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i == 2) continue;  // the parse never reaches the end of a header-only mail
    MailIndexEntry rebuilt;
    std::memcpy(&rebuilt, appended.data() + 24 + i * 1572, 1572);
    rebuilt.arrivalMark = 0;
    EXPECT_TRUE(sameEntry(rebuilt, expected[i])) << "mail " << i;
  }
  MailIndexEntry headerOnly;
  std::memcpy(&headerOnly, appended.data() + 24 + 2 * 1572, 1572);
  EXPECT_EQ(headerOnly.mailEnd, static_cast<int32_t>(texts[2].size() - 3));
  EXPECT_STREQ(headerOnly.subject, "no empty line");
}

// The final "." line of a mail at every position around a read-block edge.
TEST_F(StoreTest, RebuildFindsMailEndsAcrossBlockEdges) {
  const size_t block = 1 << 20;
  for (size_t shift = 0; shift < 11; ++shift) {
    SCOPED_TRACE(shift);
    std::string first = "Subject: a\r\n\r\n" + std::string(block - 14 - 8 + shift, 'a') + "\r\n.\r\n";
    std::vector<std::string> texts = {first, mailText(1, 600)};
    platform::removeFile(st().logPath().c_str());
    restartObject();
    st().createIndex();
    store(texts, 0);
    std::string appended = indexFile();
    ASSERT_TRUE(st().rebuildIndex());
    EXPECT_EQ(indexFile(), appended);
  }
}

// A process killed during an append, at any byte: the index record is
// written first, then the log text.
TEST_F(StoreTest, CrashInsideTheLastMailKeepsEveryCompleteMail) {
  std::vector<std::string> texts = mails(4);
  st().createIndex();
  store(texts);
  const std::string fullLog = logFile(), fullIndex = indexFile();
  const size_t lastStart = fullLog.size() - texts[3].size();
  std::vector<MailIndexEntry> expected = expectedRecords(texts);
  int tried = 0;
  for (size_t cut = lastStart; cut < fullLog.size(); cut += 7, ++tried) {
    SCOPED_TRACE(cut);
    writeLog(fullLog.substr(0, cut));
    writeIndex(fullIndex);
    restart();
    ASSERT_EQ(entries().size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(sameEntry(entries()[i], expected[i]));
    EXPECT_EQ(logFile(), fullLog.substr(0, lastStart));
    restart();  // and the next start finds the store consistent
    EXPECT_EQ(loads(), 1u);
    EXPECT_EQ(entries().size(), 3u);
  }
  EXPECT_GT(tried, 50);
  // Killed while the index record was written: the log has not grown yet.
  for (size_t cut = fullIndex.size() - 1572; cut < fullIndex.size(); cut += 97) {
    SCOPED_TRACE(cut);
    writeLog(fullLog.substr(0, lastStart));
    writeIndex(fullIndex.substr(0, cut));
    restart();
    ASSERT_EQ(entries().size(), 3u);
    EXPECT_FALSE(st().rebuildTried());
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(sameEntry(entries()[i], expected[i]));
  }
}

// Killed during the exit rewrite: before the log is replaced the old log
// is whole, after it the new one; a half-written temporary log is ignored.
TEST_F(StoreTest, CrashDuringRewriteLeavesAWholeLog) {
  std::vector<std::string> texts = mails(6);
  st().createIndex();
  store(texts);
  const std::string fullLog = logFile();
  platform::writeWholeFile(dir_.sjisFile("TempQuorvelMail.log").c_str(), fullLog.substr(0, 900));
  platform::removeFile(st().indexPath().c_str());  // the step before the replacement
  restart();
  EXPECT_EQ(entries().size(), 6u);
  EXPECT_EQ(logFile(), fullLog);
  EXPECT_FALSE(platform::fileExists(dir_.sjisFile("TempQuorvelMail.log").c_str()));
}

// A mail the log cannot take leaves no trace: no record, no entry, the
// counters unchanged; the next mail takes its place and the index still
// matches the log at the next start.
TEST_F(StoreTest, FailedLogAppendAddsNothing) {
  std::vector<std::string> texts = mails(3);
  st().createIndex();
  store({texts[0], texts[1]});
  const std::string log = logFile(), index = indexFile();
  platform::removeFile(st().logPath().c_str());
  platform::makeDirectory(st().logPath().c_str());  // the log cannot be opened for appending
  mime::MimeMessage msg;
  msg.parseMail(texts[2].data(), texts[2].size(), static_cast<int32_t>(st().mailLogSize()), 2);
  EXPECT_FALSE(st().appendMail(msg, texts[2].data(), texts[2].size()));
  EXPECT_EQ(st().mailLogSize(), static_cast<int64_t>(log.size()));
  EXPECT_EQ(st().storedMailCount(), 2);
  EXPECT_EQ(entries().size(), 2u);
  EXPECT_EQ(indexFile(), index);
  EXPECT_EQ(commLog(), "メールログ追記失敗\r\n");

  ::rmdir(platform::nativePath(st().logPath().c_str()).c_str());
  writeLog(log);
  store({texts[2]});
  restart();
  EXPECT_FALSE(st().rebuildTried());
  ASSERT_EQ(entries().size(), 3u);
  EXPECT_EQ(entries()[2].mailNumber, 2);
}

}  // namespace
}  // namespace storetest
