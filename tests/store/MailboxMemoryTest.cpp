// The mailbox memory: what it keeps across runs, what it refuses to trust,
// and 100,000 ids.
#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

#include "commlog/CommLog.h"
#include "platform/File.h"
#include "store/MailboxMemory.h"
#include "support/TempDir.h"

namespace {

using store::Dealt;
using store::MailboxMemory;
using store::RememberedMail;

RememberedMail entry(Dealt dealt, uint64_t size, uint64_t received = 0) {
  RememberedMail m;
  m.dealt = dealt;
  m.size = size;
  m.received = received;
  return m;
}

class MailboxMemoryTest : public ::testing::Test {
 protected:
  MailboxMemoryTest() : log_(dir_.sjisFile("comm.txt")) { key_ = {"POP.example.jp", 110, "taro", ""}; }
  MailboxMemory memory() { return MailboxMemory(dir_.sjisPath(), key_, log_); }
  std::string file() {
    std::string data;
    platform::readWholeFile(memory().path().c_str(), &data);
    return data;
  }
  std::string commLog() {
    std::string data;
    platform::readWholeFile(log_.path().c_str(), &data);
    platform::removeFile(log_.path().c_str());
    return data;
  }

  testsupport::TempDir dir_;
  commlog::CommLog log_;
  store::MailboxKey key_;
};

TEST_F(MailboxMemoryTest, OneFilePerMailboxKeptAcrossRuns) {
  store::MailboxKey other = key_;
  other.server = "pop.EXAMPLE.jp";  // host names without case
  EXPECT_EQ(MailboxMemory::fileName(key_), MailboxMemory::fileName(other));
  for (auto change : {+[](store::MailboxKey& k) { k.port = 995; }, +[](store::MailboxKey& k) { k.account = "jiro"; },
                      +[](store::MailboxKey& k) { k.folder = "INBOX"; }}) {
    other = key_;
    change(other);
    EXPECT_NE(MailboxMemory::fileName(key_), MailboxMemory::fileName(other));
  }
  EXPECT_EQ(MailboxMemory::fileName(key_).rfind("QuorvelMailbox-", 0), 0u);

  {
    MailboxMemory m = memory();
    EXPECT_FALSE(m.load());  // missing: remembers nothing, says so once
    EXPECT_EQ(commLog(), "受信済みメールの記録がありません(" + MailboxMemory::fileName(key_) + ")。記録なしで受信します\r\n");
    ASSERT_TRUE(m.remember("stored", entry(Dealt::kStored, 10), true));
    ASSERT_TRUE(m.remember("spam", entry(Dealt::kSpamKept, 11), false));
    ASSERT_TRUE(m.remember("general", entry(Dealt::kGeneralKept, 12), false));
    ASSERT_TRUE(m.remember("big", entry(Dealt::kUnreceivable, 13, 26), false));
    ASSERT_TRUE(m.remember("gone", entry(Dealt::kStored, 14), false));
    ASSERT_TRUE(m.remember("stored", entry(Dealt::kStored, 15), false));  // the last record counts
    ASSERT_TRUE(m.forget("gone"));
    EXPECT_FALSE(m.remember(std::string(71, 'x'), entry(Dealt::kStored, 1), false));  // not an id
    EXPECT_FALSE(m.remember("a b", entry(Dealt::kStored, 1), false));
  }
  MailboxMemory m = memory();
  ASSERT_TRUE(m.load());
  EXPECT_EQ(commLog(), "");
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m.find("stored")->size, 15u);
  EXPECT_EQ(m.find("spam")->dealt, Dealt::kSpamKept);
  EXPECT_EQ(m.find("general")->dealt, Dealt::kGeneralKept);
  EXPECT_EQ(m.find("big")->received, 26u);
  EXPECT_EQ(m.find("gone"), nullptr);
  EXPECT_FALSE(m.holdsHeaderIds());

  // After a complete check only what is still on the server stays, one line each.
  ASSERT_TRUE(m.keepOnly({"stored", "big", "new"}));
  MailboxMemory after = memory();
  ASSERT_TRUE(after.load());
  EXPECT_EQ(after.size(), 2u);
  std::string data = file();
  EXPECT_EQ(std::count(data.begin(), data.end(), '\n'), 3);
}

TEST_F(MailboxMemoryTest, DamagedFileRemembersNothingAndIsWrittenAnew) {
  {
    MailboxMemory m = memory();
    m.load();
    m.remember("one", entry(Dealt::kStored, 10), false);
    m.remember("two", entry(Dealt::kStored, 20), false);
  }
  commLog();
  const std::string good = file();
  std::string flipped = good;
  flipped[flipped.size() - 3] ^= 1;  // a checksum digit of the last line
  std::string wrongField = good;
  wrongField.replace(wrongField.find("S two 20"), 8, "S two 2x");
  struct Case {
    const char* name;
    std::string bytes;
    size_t kept;  // entries trusted
  } cases[] = {
      {"cut inside its last line", good.substr(0, good.size() - 4), 1},
      {"cut inside the header", good.substr(0, 10), 0},
      {"empty", "", 0},
      {"random bytes", std::string("\x8a\x01\xff QuorvelMailbox 1\n\0\n", 21) + std::string(5000, '\x9c'), 0},
      {"an entry of 10 MB", good + "S " + std::string(10 << 20, 'i') + " 1 00000000\n", 0},
      {"a checksum that does not match", flipped, 0},
      {"a field that is not a number", wrongField, 0},
      {"another mailbox's header", good.substr(0, good.find('\n') - 12) + std::string(12, '0') +
                                       good.substr(good.find('\n')), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(platform::writeWholeFile(memory().path().c_str(), c.bytes));
    MailboxMemory m = memory();
    EXPECT_EQ(m.load(), c.kept > 0);
    EXPECT_EQ(m.size(), c.kept);
    EXPECT_EQ(commLog(), c.kept ? "" : "受信済みメールの記録(" + MailboxMemory::fileName(key_) + ")が壊れています。記録なしで受信します\r\n");
    // The next entry makes it whole again.
    ASSERT_TRUE(m.remember("three", entry(Dealt::kStored, 30), false));
    MailboxMemory again = memory();
    EXPECT_TRUE(again.load());
    EXPECT_EQ(again.size(), c.kept + 1);
  }
}

TEST_F(MailboxMemoryTest, AnnouncedStoresAreResolvedByTheLog) {
  {
    MailboxMemory m = memory();
    m.load();
    RememberedMail p = entry(Dealt::kStoring, 10);
    p.logOffset = 500;
    p.logLength = 42;
    p.digest = store::logDigest("text\0x", 6);
    ASSERT_TRUE(m.remember("in-log", p, true));
    p.logOffset = 542;
    ASSERT_TRUE(m.remember("not-in-log", p, true));
  }
  EXPECT_EQ(store::logDigest("text\0x", 6), store::logDigest("text x", 6));  // as the log reads it back
  MailboxMemory m = memory();
  ASSERT_TRUE(m.load());
  EXPECT_EQ(m.find("in-log")->logLength, 42u);
  m.resolveStoring([](int64_t offset, uint64_t length, const std::string& digest) {
    return offset == 500 && length == 42 && digest == store::logDigest("text x", 6);
  });
  MailboxMemory after = memory();
  ASSERT_TRUE(after.load());
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after.find("in-log")->dealt, Dealt::kStored);
  EXPECT_EQ(after.find("in-log")->size, 10u);
}

// A mailbox of 100,000 messages: remembered one by one, read back, and cut
// to half after a check (hashing, no search through lists).
TEST_F(MailboxMemoryTest, HundredThousandIds) {
  constexpr int kCount = 100000;
  auto id = [](int i) { return "1a2b3c4d." + std::to_string(1000000 + i); };
  {
    MailboxMemory m = memory();
    m.load();
    for (int i = 0; i < kCount; ++i) ASSERT_TRUE(m.remember(id(i), entry(Dealt::kStored, 1000 + i), false));
  }
  MailboxMemory m = memory();
  ASSERT_TRUE(m.load());
  ASSERT_EQ(m.size(), static_cast<size_t>(kCount));
  std::unordered_set<std::string> onServer;
  for (int i = 0; i < kCount; ++i) {
    const RememberedMail* found = m.find(id(i));
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(found->size, static_cast<uint64_t>(1000 + i));
    if (i % 2) onServer.insert(id(i));
  }
  ASSERT_TRUE(m.keepOnly(onServer));
  MailboxMemory half = memory();
  ASSERT_TRUE(half.load());
  EXPECT_EQ(half.size(), static_cast<size_t>(kCount / 2));
  EXPECT_EQ(half.find(id(2)), nullptr);
  EXPECT_NE(half.find(id(3)), nullptr);
}

}  // namespace
