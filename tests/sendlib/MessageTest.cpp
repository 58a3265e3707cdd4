#include <gtest/gtest.h>

#include <algorithm>

#include <string>

#include "platform/Base64.h"
#include "platform/File.h"
#include "sendlib/Attachment.h"
#include "sendlib/MessageComposer.h"
#include "support/TempDir.h"

namespace sendlib {
namespace {

class MemoryLog : public SendLog {
 public:
  using SendLog::write;
  void write(const char* data, size_t length) override { entries.emplace_back(data, length); }
  std::vector<std::string> entries;
};

std::string decoded(const std::string& text) {
  std::string out;
  EXPECT_TRUE(platform::base64Decode(text, &out));
  return out;
}

const platform::LocalTime kDecember7th2008{2008, 12, 7, 0, 9, 5, 3, 0};

TEST(MessageStamp, MessageIdAndDateAtAFixedTime) {
  EXPECT_EQ(formatMessageId(kDecember7th2008, 0, "PC01"), "Message-ID: <1207108090503.0@PC01>");
  EXPECT_EQ(formatMessageId(kDecember7th2008, 4294967295u, "PC01"),
            "Message-ID: <1207108090503.4294967295@PC01>");
  EXPECT_EQ(formatMessageId({1999, 1, 2, 6, 3, 4, 5, 0}, 1, "h"), "Message-ID: <010299030405.1@h>");
  EXPECT_EQ(formatDate(kDecember7th2008, "JST"), "Date: Sun, 07 Dec 08 09:05:03 JST");
  EXPECT_EQ(formatDate({2031, 1, 31, 5, 23, 59, 0, 0}, "+0900"), "Date: Fri, 31 Jan 31 23:59:00 +0900");
}

TEST(MessageStamp, ZoneNameOrNumericOffset) {
  struct Row { const char* name; int offset; const char* zone; } rows[] = {
      {"JST", 540, "JST"},
      {"CEST", 120, "CEST"},
      {"+04", 240, "+04"},
      {"", 540, "+0900"},
      {"Tokyo Standard Time", 540, "+0900"},  // not one token
      {"\x93\x8c\x8b\x9e (\x95\x57\x8f\x80\x8e\x9e)", 540, "+0900"},  // Shift_JIS name
      {"", -300, "-0500"},
      {"", 330, "+0530"},
  };
  for (const Row& r : rows) EXPECT_EQ(dateZone(r.name, r.offset), r.zone) << r.name;
}

TEST(MessageHeaders, EightBitTextBecomesOneEncodedWord) {
  EXPECT_EQ(headerText(""), "");
  EXPECT_EQ(headerText("Re:hello world"), "Re:hello world");
  std::string sjis = "Re:\x83\x65\x83\x58\x83\x67";  // Re:テスト
  EXPECT_EQ(headerText(sjis), "=?Shift_JIS?B?" + platform::base64Encode(sjis) + "?=");
  std::string longText(300, '\x82');
  std::string word = headerText(longText);
  EXPECT_EQ(word.find(' '), std::string::npos);  // never folded
  EXPECT_EQ(word.size(), 14 + 400 + 2u);
}

TEST(MessageLines, AutoRepliedAddsOneLineAfterTheDate) {
  MessageFields f;
  MessageStamp stamp{kDecember7th2008, "JST", "H", 0};
  for (bool autoReplied : {false, true}) {
    f.autoReplied = autoReplied;
    std::vector<std::string> texts;
    for (const MessageLine& line : composeMessage(f, MessageStyle(), stamp)) texts.push_back(line.text);
    auto date = std::find_if(texts.begin(), texts.end(), [](const std::string& t) { return t.rfind("Date:", 0) == 0; });
    ASSERT_NE(date, texts.end());
    EXPECT_EQ(*(date + 1) == "Auto-Submitted: auto-replied", autoReplied);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Auto-Submitted: auto-replied"), autoReplied ? 1 : 0);
  }
}

TEST(MessageLines, BodyLineAndRecipients) {
  MessageFields f;
  f.fromName = "Quorvel";
  f.fromAddress = "a@x";
  f.toAddress = "b@y";
  f.ccAddresses = {"c@z"};
  MessageStamp stamp{kDecember7th2008, "JST", "H", 0};
  struct Row { size_t bodyBytes; bool names; size_t bodyLines; } rows[] = {
      {0, false, 1}, {747, false, 1}, {748, true, 14}, {10239, false, 180},
  };
  for (const Row& r : rows) {
    f.body.assign(r.bodyBytes, 'q');
    MessageStyle style;
    style.nameOnRecipients = r.names;
    std::string joined;
    size_t bodyLines = 0;
    for (const MessageLine& line : composeMessage(f, style, stamp)) {
      if (line.step == SendStep::kBodyLine) {
        ++bodyLines;
        EXPECT_LE(line.text.size(), r.bodyLines == 1 ? 998u : 76u);
        joined += line.text;
      }
      if (line.step == SendStep::kToLine) {
        EXPECT_EQ(line.text, r.names ? "To:Quorvel<b@y>" : "To:<b@y>");
      }
      if (line.step == SendStep::kCcLine) {
        EXPECT_EQ(line.text, r.names ? "Cc:Quorvel<c@z>" : "Cc:<c@z>");
      }
    }
    EXPECT_EQ(bodyLines, r.bodyLines) << r.bodyBytes;
    EXPECT_EQ(decoded(joined), f.body);
  }
}

TEST(Attachment, NameIsTheLastPathComponent) {
  struct Row { std::string path; std::string name; } rows[] = {
      {"C:\\Vistrel\\snap.jpg", "snap.jpg"},
      {"C:\\Vistrel\\record", "record"},
      {"C:snap.jpg", "snap.jpg"},
      {"/tmp/a.b.c", "a.b.c"},
      {"", ""},
      // ソ and 表 end in 0x5C, which is not a separator there.
      {"C:\\\x83\x5c\\\x95\x5c.jpg", "\x95\x5c.jpg"},
      {"C:\\dir\\" + std::string(240, '\x82') + std::string(30, 'a'),
       std::string(240, '\x82') + std::string(15, 'a')},
      {"C:\\" + std::string(300, 'a'), std::string(255, 'a')},
  };
  for (const Row& r : rows) EXPECT_EQ(attachmentName(r.path), r.name) << r.path;
  // Never cuts a double-byte character in half.
  EXPECT_EQ(attachmentName("C:\\" + std::string(1, 'a') + std::string(300, '\x82')).size(), 255u);
}

TEST(Attachment, EncodesTheWholeFileOrLogsWhyNot) {
  testsupport::TempDir dir;
  struct Row { size_t size; bool exists; size_t textLength; } rows[] = {
      {4, true, 8}, {77, true, 104}, {3, true, 4}, {0, true, 0}, {0, false, 0},
  };
  for (const Row& r : rows) {
    std::string path = dir.sjisFile("att.bin");
    platform::removeFile(path.c_str());
    std::string data;
    for (size_t i = 0; i < r.size; ++i) data += static_cast<char>(255 - i);
    if (r.exists) {
      ASSERT_TRUE(platform::writeWholeFile(path.c_str(), data));
    }
    MemoryLog log;
    std::string text;
    bool ok = prepareAttachment(path, log, &text);
    EXPECT_EQ(ok, r.size > 0) << r.size;
    if (ok) {
      EXPECT_EQ(text.size(), r.textLength);
      EXPECT_EQ(decoded(text), data);
      EXPECT_TRUE(log.entries.empty());
    } else {
      EXPECT_EQ(log.entries, (std::vector<std::string>{path + " 0", "添付ファイルサイズ異常"}));
    }
  }
}

}  // namespace
}  // namespace sendlib
