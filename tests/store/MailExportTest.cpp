#include <gtest/gtest.h>

#include <dirent.h>

#include <set>
#include <string>

#include "StoreFixture.h"

namespace storetest {
namespace {

const platform::LocalTime kNow{2026, 12, 7, 1, 14, 5, 9, 999};

std::set<std::string> filesIn(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

class MailExportTest : public StoreTest {
 protected:
  std::string outDir() { return dir_.path() + "/out"; }
  void SetUp() override {
    StoreTest::SetUp();
    platform::makeDirectory((dir_.sjisPath() + "/out").c_str());
  }
};

TEST_F(MailExportTest, EqualSubjectsGiveSeparateFilesWithTheRawMails) {
  std::vector<std::string> mails;
  for (int i = 0; i < 3; ++i) mails.push_back(mailText(1, 200 + 100 * i));  // the same Subject
  store(mails);
  for (const auto& e : entries()) ASSERT_TRUE(st().exportMail(e, dir_.sjisPath() + "/out", kNow));
  std::set<std::string> names = filesIn(outDir());
  EXPECT_EQ(names, (std::set<std::string>{"mail 1(140509999).eml", "mail 1(140510000).eml",
                                          "mail 1(140510001).eml"}));
  std::set<std::string> contents;
  for (const std::string& n : names) contents.insert(slurp(outDir() + "/" + n));
  std::set<std::string> expected;
  for (const std::string& m : mails) expected.insert(m.substr(0, m.size() - 3));  // without "." CR LF
  EXPECT_EQ(contents, expected);
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(MailExportTest, FailuresAreReportedAndLeaveNoFile) {
  store({mailText(1)});
  const mime::MailIndexEntry entry = entries()[0];
  mime::MailIndexEntry beyondLog = entry;
  beyondLog.mailEnd += 1000;
  struct Case { std::string folder; mime::MailIndexEntry entry; const char* message; } cases[] = {
      {dir_.sjisPath() + "/missing", entry, "エクスポートファイルの作成に失敗しました。"},
      {dir_.sjisPath() + "/out/" + std::string(250, 'd'), entry, "エクスポート先のパス名が大き過ぎます。"},
      {dir_.sjisPath() + "/out", beyondLog, "エクスポートファイルの作成に失敗しました。"},
  };
  for (const Case& c : cases) {
    g_boxes.clear();
    EXPECT_FALSE(st().exportMail(c.entry, c.folder, kNow));
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, c.message);
    EXPECT_EQ(g_boxes[0].caption, "Quorvel");
  }
  EXPECT_TRUE(filesIn(outDir()).empty());
}

}  // namespace
}  // namespace storetest
