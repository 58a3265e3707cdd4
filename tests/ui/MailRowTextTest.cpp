#include <gtest/gtest.h>

#include <cstring>

#include "platform/Text.h"
#include "ui/MailRowText.h"

namespace {

TEST(MailRowText, DateForDisplay) {
  struct Row {
    const char* date;
    const char* shown;
  } rows[] = {
      {"Sun, 7 Dec 2008 09:05:03 +0900", "2008/12/07 09:05 +0900"},
      {"Mon, 15 dec 2008 21:00:00 +0900 (JST)", "2008/12/15 21:00 +0900 (JST)"},
      {"7 Dec 2008 09:05:03 +0900", "2008/12/07 09:05 +0900"},
      {" 7 Dec 2008 09:05:03 +0900", "2008/12/07 09:05 +0900"},
      {"Sun, 07 Foo 2008 09:05:03 +0900", "2008/00/07 09:05 +0900"},
      {"Sun, 7 Dec 2008 09:05", "Sun, 7 Dec 2008 09:05"},  // under 25 bytes
      {"Sun, 7 Dec 2008 09:05:03 +0900 (Japan Standard Time)",
       "2008/12/07 09:05 +0900 (Japan Standa"},
      {"Sun, 7 Dec 2008 09:0", "Sun, 7 Dec 2008 09:0"},
      {"Sun, 7 D                 ", "    /00/07       "},  // cut short: no read past the text
  };
  for (const Row& r : rows) EXPECT_EQ(ui::displayDate(r.date), r.shown) << r.date;
}

TEST(MailRowText, StatusAndAttachmentTextsBothWays) {
  for (int mark : {101, 102, 103, 104, 105, 106})
    EXPECT_EQ(ui::statusFromText(ui::statusText(mark)), mark);
  EXPECT_EQ(ui::statusText(0), "-----");
  EXPECT_EQ(ui::statusText(7), "-----");
  EXPECT_EQ(ui::statusFromText("-----"), 0);
  EXPECT_EQ(ui::statusText(105), "完 了");
  EXPECT_EQ(ui::statusText(106), "拒 否");
  EXPECT_EQ(ui::attachmentText(0), "なし");
  EXPECT_EQ(ui::attachmentText(1), "マルチ");
  EXPECT_EQ(ui::attachmentText(3), "2");
  for (int parts : {0, 1, 2, 3, 17}) EXPECT_EQ(ui::attachmentFromText(ui::attachmentText(parts)), parts);
}

TEST(MailRowText, RowRoundTripKeepsEveryFieldButTheDateForm) {
  mime::MailIndexEntry e;
  std::memset(&e, 0, sizeof e);
  e.mailNumber = 7, e.logOffset = 123456, e.arrivalMark = 102, e.mimeVersionAt = 10;
  e.contentTypeAt = 20, e.transferEncodingAt = 30, e.partCount = 3, e.headerLength = 400;
  e.firstPartStart = 500, e.firstPartEnd = 600, e.mailEnd = 7000, e.priority = 3;
  platform::copyField(e.from, "送信者 <a@example.jp>");
  platform::copyField(e.to, "b@example.jp");
  platform::copyField(e.date, "Sun, 7 Dec 2008 09:05:03 +0900");
  platform::copyField(e.mailer, "Mailer 1.0");
  platform::copyField(e.sender, "a@example.jp");
  platform::copyField(e.subject, "件名 ソース表示");
  ui::RowTexts row = ui::rowTexts(e);
  EXPECT_EQ(row[7], "2");
  mime::MailIndexEntry back = ui::entryFromRow(row);
  EXPECT_STREQ(back.date, "2008/12/07 09:05 +0900");
  std::memcpy(back.date, e.date, sizeof e.date);
  EXPECT_EQ(0, std::memcmp(&back, &e, sizeof e));
  row[9] = "x";
  EXPECT_EQ(ui::entryFromRow(row).logOffset, 0);
}

}  // namespace
