#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "MailText.h"
#include "mime/MimeMessage.h"

using mimetest::crlf;
using mimetest::stored;

namespace {

// ISO-2022-JP B-words of "と", "テスト" and "あ", and a Shift_JIS one of "表示".
const char* const kTo = "=?ISO-2022-JP?B?GyRCJEgbKEI=?=";
const char* const kTesuto = "=?iso-2022-jp?b?GyRCJUYlOSVIGyhC?=";
const char* const kA = "=?ISO-2022-JP?B?GyRCJCIbKEI=?=";
const char* const kHyoujiSjis = "=?Shift_JIS?B?lVyOpg==?=";

mime::MimeMessage parse(const std::string& mail) {
  mime::MimeMessage m;
  m.parseMail(mail.data(), mail.size(), 1000, 7);
  return m;
}

TEST(HeaderScan, EncodedWordsFoldingAndCharsets) {
  const struct {
    std::string header;
    const char* subject;
    mime::CharsetCode charset;
  } cases[] = {
      {std::string("subject: ") + kTo + "\n " + kTo + "\n", "とと", 2},   // folded: joined
      {std::string("Subject: ") + kTo + " " + kTo + "\n", "と と", 2},    // one space between words stays
      {std::string("Subject: \t") + kTesuto + "!\n", "テスト!", 2},
      {std::string("Subject: ") + kHyoujiSjis + "\n", "表示", 3},          // Shift_JIS with "_"
      {"Subject: =?SHIFT-JIS?B?lVyOpg==?=\n", "表示", 3},
      {"Subject: =?iso-8859-1?Q?caf=E9?=\n", "=?iso-8859-1?Q?caf=E9?=", 8},  // Q-words stay
      {"Subject: =?ISO-2022-JP?Q?=1B$B$\"=1B(B?=\n", "=?ISO-2022-JP?Q?=1B$B$\"=1B(B?=", 2},
      {"Subject: =?UTF-8?B?44GC44GE?= x\n", "あい x", 6},
      {"Subject: =?ISO-2022-JP?B?GyRCJCIbKEI\n", "あ", 2},                  // no "?=": the rest decodes
      // Not valid base64: stays exactly as received, later words still decode.
      {std::string("Subject: =?ISO-2022-JP?B?Gy-RC?= ") + kA + "\n", "=?ISO-2022-JP?B?Gy-RC?= あ", 2},
      {"Subject: =?ISO-2022-JP?B?\?=x\n", "x", 2},
      {"Subject: \x1B$B$\"\x1B(B =?ISO-2022-JP?B?GyRCJCIbKEI=?=\n", "あ あ", 2},  // bare JIS too
      {"Subject: plain text\n", "plain text", 0},
      {"Subject:    \n", "", 0},
  };
  for (const auto& c : cases) {
    mime::MimeMessage m = parse(stored(c.header + "\nbody\n"));
    EXPECT_STREQ(m.subject, c.subject) << c.header;
    EXPECT_EQ(m.headerCharset, c.charset) << c.header;
  }
  mime::MimeMessage m = parse(stored("To: =?KOI8-U?B?5pel?= <a@b>\n\n"));
  EXPECT_EQ(m.headerCharset, 1);
  EXPECT_STREQ(m.to, "=?KOI8-U?B?5pel?= <a@b>");
}

TEST(HeaderScan, WidthsAndCuts) {
  std::string long150(75, 'x');
  std::string words;
  for (int i = 0; i < 50; ++i) words += kTesuto;  // 50 x 6 bytes decoded
  const struct {
    std::string header;
    std::string from, subject;
  } cases[] = {
      {"From: " + std::string(150, 'a') + "\n", std::string(97, 'a') + "..", ""},
      {"From: " + std::string(99, 'a') + "\n", std::string(99, 'a'), ""},
      {"From: " + std::string(100, 'a') + "\n", std::string(97, 'a') + "..", ""},
      {"Subject: " + words + "\n", "", [] {
         std::string s;
         for (int i = 0; i < 50; ++i) s += "テスト";
         return s;
       }()},
      {"Subject: " + words + words + words + words + "\n", "", [] {
         std::string s;
         for (int i = 0; i < 200; ++i) s += "テスト";
         return s.substr(0, 1021) + "..";
       }()},
  };
  for (const auto& c : cases) {
    mime::MimeMessage m = parse(stored(c.header + "\n"));
    EXPECT_EQ(m.from, c.from);
    EXPECT_EQ(m.subject, c.subject);
  }
  // UTF-8 values are cut to the width without "..".
  std::string utf8 = "Subject: ";
  for (int i = 0; i < 12; ++i) utf8 += "=?UTF-8?B?44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC?=";
  mime::MimeMessage m = parse(stored(utf8 + "\n\n"));
  EXPECT_EQ(std::strlen(m.subject), 384u);
  m = parse(stored(utf8 + utf8.substr(9) + utf8.substr(9) + "\n\n"));
  EXPECT_EQ(std::strlen(m.subject), 1023u);
  EXPECT_NE(m.subject[1022], '.');
}

TEST(HeaderScan, FieldsOffsetsAndPriority) {
  std::string mail = stored(
      "Received: from a\n"
      " by b\n"
      "From: me@example.com\n"
      "X-Mailer: Mailer 1\n"
      " continued\n"
      "X-Sender: sender@example.com\n"
      "X-Priority: 3 (Normal)\n"
      "Date:  Sun, 7 Dec 2008 09:05:03 +0900\n"
      "MIME-Version: 1.0\n"
      "Content-Transfer-Encoding: 7bit\n"
      " ignored\n"
      "Content-Type: text/plain;\n"
      "\tcharset=\"iso-2022-jp\"\n"
      "\n"
      "body\n");
  mime::MimeMessage m = parse(mail);
  EXPECT_EQ(m.mailNumber, 7);
  EXPECT_EQ(m.logOffset, 1000);
  EXPECT_EQ(m.arrivalMark, 0);
  EXPECT_STREQ(m.from, "me@example.com");
  EXPECT_STREQ(m.mailer, "Mailer 1");
  EXPECT_STREQ(m.sender, "sender@example.com");
  EXPECT_STREQ(m.date, "Sun, 7 Dec 2008 09:05:03 +0900");
  EXPECT_EQ(m.priority, 3);
  EXPECT_EQ(m.mimeVersionAt, static_cast<int32_t>(mail.find("MIME-Version")));
  EXPECT_EQ(m.transferEncodingAt, static_cast<int32_t>(mail.find("Content-Transfer")));
  EXPECT_EQ(m.contentTypeAt, static_cast<int32_t>(mail.find("Content-Type")));
  EXPECT_STREQ(m.contentType, "TEXT/PLAIN;CHARSET=\"iso-2022-jp\"");  // folding white space removed
  EXPECT_EQ(m.headerLength, static_cast<int32_t>(mail.find("\r\n\r\n") + 2));
  EXPECT_EQ(m.mailEnd, static_cast<int32_t>(mail.size() - 3));
  EXPECT_EQ(m.partCount, 0);

  const struct {
    const char* line;
    int32_t priority;
  } priorities[] = {{"X-Priority: 3 (Normal)", 3}, {"X-Priority: High", 0}, {"X-PRIORITY:-2", -2},
                    {"X-Priority: 99999999999", 2147483647}, {"X-Priority:", 0}};
  for (const auto& p : priorities)
    EXPECT_EQ(parse(stored(std::string("Subject: s\n") + p.line + "\n\n")).priority, p.priority) << p.line;

  // A first line counts as absent; without an empty line there is no body scan.
  m = parse(stored("Content-Type: text/plain\nSubject: s\n\nb\n"));
  EXPECT_EQ(m.contentTypeAt, 0);
  m = parse(stored("Subject: s\nFrom: f\nbody without empty line\n"));
  EXPECT_EQ(m.headerLength, 0);
  EXPECT_EQ(m.mailEnd, 0);
  EXPECT_STREQ(m.from, "f");
}

TEST(HeaderScan, MultipartBoundaryAndParts) {
  const struct {
    const char* contentType;
    const char* boundary;
  } cases[] = {
      {"multipart/mixed; boundary=\"Ab_12\"", "Ab_12"},
      {"Multipart/Mixed;\n boundary=\"My Boundary\"", "My Boundary"},  // quoted: blanks and case kept
      {"multipart/mixed; boundary=AbC; charset=x", "AbC"},            // unquoted: case kept, ends at ";"
      {"multipart/mixed; boundary = \"sp\"", "sp"},
      {"multipart/mixed", ""},
      {"text/plain; boundary=\"x\"", ""},
      {"multipart/mixed; boundary=\"unclosed", "unclosed"},
  };
  for (const auto& c : cases) {
    std::string b = c.boundary;
    std::string mail = stored(std::string("Subject: s\nContent-Type: ") + c.contentType +
                              "\n\npre\n--" + b + "\nA: 1\n\none\n--" + b + "\n\ntwo\n--" + b + "--\nepi\n");
    mime::MimeMessage m = parse(mail);
    EXPECT_STREQ(m.boundary, c.boundary) << c.contentType;
    if (b.empty()) {
      EXPECT_EQ(m.partCount, 0);
      continue;
    }
    EXPECT_EQ(m.partCount, 2) << c.contentType;
    EXPECT_EQ(m.boundarySeen, 2);
    EXPECT_EQ(m.firstPartStart, static_cast<int32_t>(mail.find("A: 1")));
    EXPECT_EQ(m.firstPartEnd, static_cast<int32_t>(mail.find("--" + b, mail.find("one"))));
    EXPECT_EQ(m.mailEnd, static_cast<int32_t>(mail.size() - 3));
  }
  // Only the closing delimiter: firstPartEnd is its offset.
  std::string mail = stored("Content-Type: x\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\n\none\n--b--\n");
  mime::MimeMessage m = parse(mail);
  EXPECT_EQ(m.partCount, 1);
  EXPECT_EQ(m.firstPartEnd, static_cast<int32_t>(mail.find("--b--")));
}

TEST(HeaderScan, LongLinesBelongToTheirLine) {
  // A header line of more than 1023 bytes whose tail looks like a field.
  std::string filler(1015, 'y');
  std::string mail = stored("X-Long: " + filler + "From: tail\nSubject: " + std::string(1500, 's') +
                            "\n\n" + std::string(1023, 'x') + ".\n" + std::string(2046, 'z') + "--b\nlast\n");
  mime::MimeMessage m = parse(mail);
  EXPECT_STREQ(m.from, "");
  EXPECT_EQ(std::string(m.subject), std::string(1021, 's') + "..");
  EXPECT_EQ(m.mailEnd, static_cast<int32_t>(mail.size() - 3));  // the "." tail piece did not end the mail
}

TEST(HeaderScan, PiecesOfAnySizeGiveTheSameRecord) {
  std::string mail = stored(std::string("Received: r\nFrom: ") + kTesuto + "\n <x@y>\nSubject: " + kTo + "\n " + kA +
                            "\nContent-Type: multipart/mixed; boundary=\"" + std::string(1000, 'q') + "\"\n\n--" +
                            std::string(1000, 'q') + "\nContent-Type: text/plain\n\n" + std::string(3000, 'b') +
                            "\n--" + std::string(1000, 'q') + "--\n");
  std::string next = stored("Subject: next\n\nsecond\n");
  std::string log = mail + next;
  mime::MimeMessage whole = parse(mail);
  EXPECT_EQ(whole.partCount, 1);

  std::mt19937 random(5);
  for (int round = 0; round < 40; ++round) {
    mime::MimeMessage m;
    m.beginParse(1000, 7);
    size_t pos = 0;
    while (!m.mailEnded() && pos < log.size()) {
      size_t n = std::min<size_t>(log.size() - pos, 1 + random() % (round < 20 ? 7 : 1500));
      pos += m.feed(log.data() + pos, n);
    }
    m.endParse();
    EXPECT_EQ(pos, mail.size());
    EXPECT_EQ(0, std::memcmp(&m.entry(), &whole.entry(), sizeof(mime::MailIndexEntry)));
    EXPECT_STREQ(m.boundary, whole.boundary);
  }
}

}  // namespace
