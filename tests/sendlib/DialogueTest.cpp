#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "ScriptedStream.h"
#include "sendlib/SmtpDialogue.h"

namespace sendlib {
namespace {

TEST(ReceiveStep, ReadsWholeRepliesWhateverTheirPieces) {
  struct Row {
    std::deque<std::string> pieces;
    bool ok;
    std::string entry;  // reply or failure message written to the log
  } rows[] = {
      {{"250 ok\r\n"}, true, "250 ok"},
      {{"25", "0 ok\r", "\n"}, true, "250 ok"},
      {{"250-a\r\n", "250-AUTH LOGIN\r\n250 ", "HELP\r\n"}, true, "250-a\r\n250-AUTH LOGIN\r\n250 HELP"},
      {{"250-a\r\n250 b\r\n"}, true, "250-a\r\n250 b"},
      {{std::string(1500, 'x') + "\r\n"}, true, std::string(1500, 'x')},
      {{"250-partial\r\n", ""}, true, "250-partial"},  // closed before the last line
      {{"220 no line end", ""}, true, "220 no line e"},
      {{""}, false, "応答なし"},
      {{"2", ""}, false, "応答なし"},
      {{kError}, false, "SOCKET_ERRORで失敗"},
      {{"250-a\r\n", kError}, false, "SOCKET_ERRORで失敗"},
      {{std::string(70000, '-')}, false, "応答なし"},
  };
  for (Row& r : rows) {
    ScriptedStream stream(r.pieces);
    MemoryLog log;
    SmtpDialogue d(stream, log);
    EXPECT_EQ(d.receiveStep(), r.ok) << r.entry;
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0], r.entry);
    if (r.ok) {
      EXPECT_EQ(d.reply(), r.entry);
    }
  }
}

struct Outcome {
  SendStep step;
  std::string sent;
  std::vector<std::string> log;
};

Outcome runDialogue(std::deque<std::string> replies, SmtpAccount account,
                    std::vector<MessageLine> lines = {{SendStep::kBodyLine, "TWFu"}},
                    const std::string* attachment = nullptr, size_t lineLength = 76,
                    size_t sendLimit = ~size_t{0}) {
  ScriptedStream stream(std::move(replies));
  stream.sendLimit = sendLimit;
  MemoryLog log;
  SmtpDialogue d(stream, log);
  OutgoingMessage message;
  message.compose = [&] { return lines; };
  message.attachmentText = attachment;
  message.attachmentLineLength = lineLength;
  SendStep step = d.run(account, message);
  return {step, stream.sent, log.entries};
}

SmtpAccount account(bool useAuth, std::vector<std::string> cc = {}) {
  SmtpAccount a;
  a.fromAddress = "bot@example.jp";
  a.toAddress = "user@example.jp";
  a.ccAddresses = std::move(cc);
  a.userName = "tim";
  a.password = "tanstaaftanstaaf";
  a.heloName = "PC01";
  a.useAuth = useAuth;
  return a;
}

TEST(Dialogue, CramMd5AsInRfc2195) {
  Outcome o = runDialogue({"220 ready\r\n", "250-mx\r\n250 AUTH LOGIN PLAIN CRAM-MD5\r\n",
                           "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n",
                           "235 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 ok\r\n",
                           "221 bye\r\n"},
                          account(true));
  EXPECT_EQ(o.step, SendStep::kNone);
  EXPECT_NE(o.sent.find("AUTH CRAM-MD5\r\ndGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n"),
            std::string::npos)
      << o.sent;
}

TEST(Dialogue, RefusalsEndTheSendAtTheirStep) {
  const std::string ok = "250 ok\r\n";
  struct Row {
    const char* what;
    std::deque<std::string> replies;
    std::vector<std::string> cc;
    SendStep step;
    bool messageSent;
  } rows[] = {
      {"sent", {"220 hi\r\n", ok, ok, ok, "354 go\r\n", ok, "221 bye\r\n"}, {}, SendStep::kNone, true},
      {"HELO refused", {"220 hi\r\n", "502 no\r\n"}, {}, SendStep::kHello, false},
      {"sender refused", {"220 hi\r\n", ok, "530 auth first\r\n"}, {}, SendStep::kMailFromRefused, false},
      {"recipient refused", {"220 hi\r\n", ok, ok, "550 unknown\r\n"}, {}, SendStep::kFirstRecipientRefused, false},
      {"further recipient refused",
       {"220 hi\r\n", ok, ok, ok, "550 unknown\r\n", ok, "354 go\r\n", ok, "221 bye\r\n"},
       {"x@y", "z@y"}, SendStep::kNone, true},
      {"DATA refused", {"220 hi\r\n", ok, ok, ok, "554 no valid recipients\r\n"}, {}, SendStep::kData, false},
      {"message refused", {"220 hi\r\n", ok, ok, ok, "354 go\r\n", "554 spam\r\n"}, {}, SendStep::kEndOfData, true},
      {"closed after greeting", {"220 hi\r\n", ""}, {}, SendStep::kHello, false},
      {"no QUIT reply", {"220 hi\r\n", ok, ok, ok, "354 go\r\n", ok, ""}, {}, SendStep::kQuit, true},
  };
  for (Row& r : rows) {
    Outcome o = runDialogue(r.replies, account(false, r.cc));
    EXPECT_EQ(o.step, r.step) << r.what;
    EXPECT_EQ(o.sent.find("TWFu\r\n") != std::string::npos, r.messageSent) << r.what;
  }
}

TEST(Dialogue, AttachmentDataLinesAndSendErrors) {
  const std::string ok = "250 ok\r\n";
  std::string text(200, 'A');
  std::vector<MessageLine> lines = {{SendStep::kEmptyBeforeData, ""},
                                    {SendStep::kAttachmentData, ""},
                                    {SendStep::kEmptyAfterData, ""}};
  std::deque<std::string> replies{"220 hi\r\n", ok, ok, ok, "354 go\r\n", ok, "221 bye\r\n"};
  std::string lines76 = std::string(76, 'A') + "\r\n" + std::string(76, 'A') + "\r\n" +
                        std::string(48, 'A') + "\r\n";

  Outcome o = runDialogue(replies, account(false), lines, &text, 76);
  EXPECT_EQ(o.step, SendStep::kNone);
  EXPECT_NE(o.sent.find("DATA\r\n\r\n" + lines76 + "\r\n.\r\n"), std::string::npos);

  o = runDialogue(replies, account(false), lines, &text, 0);  // one line, in pieces
  EXPECT_NE(o.sent.find("DATA\r\n\r\n" + text + "\r\n.\r\n"), std::string::npos);

  // Sends fail once the line before the data has gone (or just before it).
  size_t beforeData = o.sent.find("DATA\r\n\r\n") + 8;
  o = runDialogue(replies, account(false), lines, &text, 76, beforeData + 100);
  EXPECT_EQ(o.step, SendStep::kAttachmentData);
  EXPECT_EQ(o.log.back(), "メッセージ送信失敗");
  EXPECT_EQ(o.sent.find(".\r\n"), std::string::npos);

  o = runDialogue(replies, account(false), lines, nullptr, 76, beforeData - 1);
  EXPECT_EQ(o.step, SendStep::kEmptyBeforeData);
  EXPECT_EQ(o.log.back(), "メッセージ送信失敗");
  EXPECT_EQ(o.log[o.log.size() - 2], "\r\n");
}

}  // namespace
}  // namespace sendlib
