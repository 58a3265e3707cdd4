#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MailText.h"
#include "mime/AttachmentOpener.h"
#include "mime/MimeMessage.h"
#include "platform/File.h"
#include "platform/Hooks.h"
#include "support/TempDir.h"

using mimetest::crlf;
using mimetest::stored;

namespace {

// Parses `mail` as stored at `at` in a log and shows it as the preview would.
struct Shown {
  mime::MimeMessage message;
  mime::PreviewResult result;
  std::string log;
};

Shown show(const std::string& mail, int32_t at = 0) {
  Shown s;
  s.log = std::string(at, 'L') + mail + stored("Subject: after\n\nnext mail\n");
  s.message.parseMail(mail.data(), mail.size(), at, 0);
  mime::MailIndexEntry entry = s.message.entry();
  mime::MemoryLogReader reader(s.log);
  s.message.onAttachmentFound = [](const mime::AttachmentEntry&) {};
  s.result = s.message.showMail(entry, reader);
  return s;
}

std::string singlePart(const std::string& headers, const std::string& body) {
  return stored("Subject: s\n" + headers + "\n" + body);
}

TEST(SinglePartBody, TransferEncodingsAndCharsets) {
  const struct {
    std::string headers;
    std::string body;  // as received
    std::string shown;
  } cases[] = {
      {"", "..dot\nline\n", crlf("..dot\nline\n")},  // no Content-Type: raw, dot-stuffing included
      {"Content-Type: text/plain; charset=iso-2022-jp\n", "..\x1B$B$\"\x1B(B\n.x\n", crlf(".あ\nx\n")},
      {"Content-Type: text/plain; charset=\"ISO-2022-JP\"\nContent-Transfer-Encoding: base64\n",
       "GyRCJCIbKEIKLngK\n", "あ\n.x\n"},  // decoded base64 text keeps its dots
      {"Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n", "44GC\n", "\xE3\x81\x82"},
      {"Content-Type: text/plain; charset=iso-2022-jp\nContent-Transfer-Encoding: quoted-printable\n",
       "=1B$B$\"=1B(B=\n..a=3Db=3d\n=2Ez\n", crlf("あ.a=b=\n.z")},
      {"Content-Type: text/plain\nContent-Transfer-Encoding: base64\n", "QU\tJD\n", "QU\tJD"},  // undecodable
      {"Content-Type: text/plain\nContent-Transfer-Encoding: 8bit\n", "..stays\n", crlf("..stays\n")},
      {"Content-Type: text/plain\nContent-Transfer-Encoding:\n base64\n", "QUJD\n", "ABC"},
  };
  for (const auto& c : cases) {
    Shown s = show(singlePart(c.headers, c.body));
    EXPECT_EQ(s.result, mime::PreviewResult::kBody) << c.headers;
    EXPECT_EQ(s.message.body, c.shown) << c.headers;
    EXPECT_EQ(s.message.bodyLength, static_cast<int32_t>(c.shown.size()));
  }
  EXPECT_EQ(show(stored("Subject: s\n\n")).result, mime::PreviewResult::kEmpty);
}

const char* const kAttachments =
    "Subject: s\n"
    "Content-Type: multipart/mixed; boundary=\"B 1\"\n"
    "\n"
    "preamble\n"
    "--B 1\n"
    "Content-Type: text/plain; charset=ISO-2022-JP\n"
    "\n"
    "\x1B$B$\"\x1B(B\n"
    "--B 1\n"
    "Content-Type: image/jpeg\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "QUJD\n"
    "--B 1\n"
    "Content-Type: application/octet-stream; name=\"x\"\n"
    "Content-Disposition: attachment;\n"
    "\tfilename=\"=?ISO-2022-JP?B?GyRCJT0hPCU5GyhC?= a:b?.txt\"\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "a=3Db=\n"
    "c\n"
    "\n"
    "--B 1\n"
    "Content-Type: application/octet-stream\n"
    "\n"
    "raw bytes\n"
    "--B 1\n"
    "Content-Type: x-other/thing\n"
    "Content-Disposition: attachment; filename=Plain_Name.DAT; size=3\n"
    "\n"
    "abc\n"
    "--B 1\n"
    "Content-Type: unknown/type\n"
    "\n"
    "u\n"
    "--B 1\n"
    "Content-Type: application/a-subtype-longer-than-19\n"
    "\n"
    "v\n"
    "--B 1--\n"
    "epilogue\n";

TEST(Attachments, ListNamesPositionsAndSaving) {
  testsupport::TempDir temp;
  setenv("TMPDIR", temp.path().c_str(), 1);
  std::string mail = stored(kAttachments);
  Shown s = show(mail, 5000);
  mime::MimeMessage& m = s.message;
  EXPECT_EQ(m.partCount, 7);
  EXPECT_EQ(s.result, mime::PreviewResult::kBodyWithAttachments);
  EXPECT_EQ(m.body, "あ");

  const struct {
    const char* name;
    const char* data;  // the part's raw bytes
    mime::ContentTypeCode type;
    mime::TransferEncodingCode encoding;
    const char* saved;
  } expected[] = {
      {"添付(1).JPEG", "QUJD\r\n", 4, 2, "ABC"},
      {"ソースab.txt", "a=3Db=\r\nc\r\n\r\n", 8, 3, "a=bc\r\n"},
      {"添付(2).OCTET-STREAM", "raw bytes\r\n", 8, 7, "raw bytes\r\n"},
      {"Plain_Name.DAT", "abc\r\n", 1, 7, "abc\r\n"},
      {"添付(3).TXT", "u\r\n", 1, 7, "u\r\n"},
      {"添付(4).TXT", "v\r\n", 8, 7, "v\r\n"},
  };
  ASSERT_EQ(m.attachments.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const mime::AttachmentEntry& a = m.attachments[i];
    EXPECT_EQ(a.number, static_cast<int32_t>(i));
    EXPECT_STREQ(a.fileName, expected[i].name);
    EXPECT_EQ(s.log.substr(a.position, a.length), expected[i].data) << a.fileName;
    EXPECT_EQ(a.contentType, expected[i].type) << a.fileName;
    EXPECT_EQ(a.transferEncoding, expected[i].encoding) << a.fileName;

    mime::MemoryLogReader reader(s.log);
    std::string path;
    ASSERT_EQ(m.saveAttachment(a.number, reader, &path), 1);
    EXPECT_EQ(path, temp.sjisPath() + "/" + a.fileName);
    std::string written;
    ASSERT_TRUE(platform::readWholeFile(path.c_str(), &written));
    EXPECT_EQ(written, expected[i].saved) << a.fileName;
  }
  mime::MemoryLogReader reader(s.log);
  EXPECT_EQ(m.saveAttachment(99, reader, nullptr), 0);
  mime::MemoryLogReader shortLog(s.log.substr(0, 5100));
  EXPECT_EQ(m.saveAttachment(0, shortLog, nullptr), 0);
  unsetenv("TMPDIR");
}

TEST(Attachments, NoticesAndPartCounts) {
  std::vector<int32_t> found;
  std::string mail = stored(kAttachments);
  mime::MimeMessage m;
  m.onAttachmentFound = [&found](const mime::AttachmentEntry& a) { found.push_back(a.number); };
  m.parseMail(mail.data(), mail.size(), 0, 0);
  mime::MemoryLogReader reader(mail);
  m.showMail(m.entry(), reader);
  EXPECT_EQ(found, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));

  // One part: the first part is shown, no list is built.
  mail = stored("Content-Type: x\nContent-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\n"
                "only\n--b--\n");
  Shown s = show(mail);
  EXPECT_EQ(s.result, mime::PreviewResult::kBody);
  EXPECT_EQ(s.message.body, "only");
  EXPECT_TRUE(s.message.attachments.empty());

  // A first part that is itself multipart is shown raw; a part without a header.
  mail = stored("Content-Type: x\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
                "Content-Type: multipart/alternative; boundary=c\n\n--c\n\ninner\n--c--\n--b\n\nplain\n--b--\n");
  s = show(mail);
  EXPECT_EQ(s.message.body, crlf("--c\n\ninner\n--c--"));
  ASSERT_EQ(s.message.attachments.size(), 1u);
  EXPECT_STREQ(s.message.attachments[0].fileName, "添付(1).TXT");
  EXPECT_EQ(s.log.substr(s.message.attachments[0].position, s.message.attachments[0].length), "plain\r\n");
}

std::vector<std::string> g_boxes;

TEST(Attachments, OpeningKeepsOneFileAndReportsFailures) {
  testsupport::TempDir temp;
  setenv("TMPDIR", temp.path().c_str(), 1);
  platform::setMessageBoxHook([](const char* text, const char* caption, unsigned) -> int {
    g_boxes.push_back(std::string(caption) + ":" + text);
    return platform::kIdOk;
  });
  Shown s = show(stored(kAttachments));
  mime::MemoryLogReader reader(s.log);
  mime::AttachmentOpener opener;
  std::string first = opener.saveForDrag(s.message, 0, reader);
  EXPECT_EQ(first, temp.sjisPath() + "/添付(1).JPEG");
  EXPECT_TRUE(platform::fileExists(first.c_str()));
  // The native shell opens nothing: the file is saved, the failure shown.
  EXPECT_EQ(opener.open(s.message, 1, reader), 0);
  EXPECT_FALSE(platform::fileExists(first.c_str()));
  EXPECT_TRUE(platform::fileExists(opener.lastPath().c_str()));
  EXPECT_EQ(opener.saveForDrag(s.message, 42, reader), "");
  opener.removeLast();
  EXPECT_EQ(g_boxes, (std::vector<std::string>{"Quorvel:表示失敗", "障害報告:添付ファイルが取得できませんでした。"}));
  platform::setMessageBoxHook(nullptr);
  unsetenv("TMPDIR");
}

TEST(BodyCharset, FirstPartOrHeader) {
  const struct {
    std::string mail;
    mime::CharsetCode charset;
  } cases[] = {
      {stored("Subject: s\nContent-Type: text/plain;\n charset=\"Shift_JIS\"\n\nb\n"), 3},
      {stored("Subject: s\nContent-Type: text/plain\nX-A: charset=utf-8\n\nb\n"), 6},
      {stored("Subject: s\nContent-Type: text/plain\n\nb\n"), 0},
      {stored("Subject: s\n\nb\n"), 0},
      {stored(kAttachments), 2},
      {stored("Subject: s\nContent-Type: multipart/mixed; boundary=b\n\n--b\nX: y\n\nb\n--b--\n"), 0},
  };
  for (const auto& c : cases) {
    mime::MimeMessage m;
    m.parseMail(c.mail.data(), c.mail.size(), 0, 0);
    EXPECT_EQ(m.bodyCharset(c.mail.data(), c.mail.size()), c.charset) << c.mail;
  }
}

TEST(ShowMail, RecordsThatDoNotFitTheLogAreHarmless) {
  std::string mail = stored(kAttachments);
  mime::MimeMessage parsed;
  parsed.parseMail(mail.data(), mail.size(), 0, 0);
  const int32_t bad[] = {-1000000, -3, -1, 0, 1, 2, 5, 40, 100, 300, 1000, 2147483647, -2147483647 - 1};
  mime::MemoryLogReader reader(mail);
  int32_t mime::MailIndexEntry::*fields[] = {
      &mime::MailIndexEntry::logOffset,      &mime::MailIndexEntry::contentTypeAt,
      &mime::MailIndexEntry::transferEncodingAt, &mime::MailIndexEntry::partCount,
      &mime::MailIndexEntry::headerLength,   &mime::MailIndexEntry::firstPartStart,
      &mime::MailIndexEntry::firstPartEnd,   &mime::MailIndexEntry::mailEnd,
  };
  for (auto field : fields) {
    for (int32_t value : bad) {
      for (int32_t parts : {0, 1, 2, 7}) {
        mime::MailIndexEntry entry = parsed.entry();
        entry.partCount = parts;
        entry.*field = value;
        mime::MimeMessage m;
        m.onAttachmentFound = [](const mime::AttachmentEntry&) {};
        m.showMail(entry, reader);  // must stay within the buffers (run under ASan by the fuzz replay)
        EXPECT_LE(m.body.size(), mail.size());
      }
    }
  }
}

}  // namespace
