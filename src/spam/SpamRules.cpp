#include "spam/SpamRules.h"

#include <cstring>

#include "platform/Text.h"

namespace spam {
namespace {

struct CharsetRule {
  int flag;
  mime::CharsetCode code;
  const char* header;
  const char* body;
};

// Flags 3 to 22 in index order.
const CharsetRule kCharsetRules[] = {
    {3, 4, "スパム該当：英語(US_ASCII) H", "スパム該当：英語(US_ASCII) B"},
    {4, 8, "スパム該当：西欧諸語(ISO_8859_1) H", "スパム該当：西欧諸語(ISO_8859_1) B"},
    {5, 9, "スパム該当：東欧諸語(ISO_8859_2) H", "スパム該当：東欧諸語(ISO_8859_2) B"},
    {6, 10, "スパム該当：中央欧州語(ISO_8859_3) H", "スパム該当：中央欧州語(ISO_8859_3) B"},
    {7, 11, "スパム該当：バルト語(ISO_8859_4) H", "スパム該当：バルト語(ISO_8859_4) B"},
    {8, 12, "スパム該当：キリル語(ISO_8859_5) H", "スパム該当：キリル語(ISO_8859_5) B"},
    {9, 13, "スパム該当：アラビア語(ISO_8859_6) H", "スパム該当：アラビア語(ISO_8859_6) B"},
    {10, 14, "スパム該当：ギリシア語(ISO_8859_7) H", "スパム該当：ギリシア語(ISO_8859_7) B"},
    {11, 15, "スパム該当：ヘブライ語(ISO_8859_8) H", "スパム該当：ヘブライ語(ISO_8859_8) B"},
    {12, 16, "スパム該当：トルコ語(ISO_8859_9) H", "スパム該当：トルコ語(ISO_8859_9) B"},
    {13, 17, "スパム該当：北欧語(ISO_8859_10) H", "スパム該当：北欧語(ISO_8859_10) B"},
    {14, 18, "スパム該当：エストニア語(ISO_8859_13) H", "スパム該当：エストニア語(ISO_8859_13) B"},
    {15, 19, "スパム該当：ケルト語(ISO_8859_14) H", "スパム該当：ケルト語(ISO_8859_14) B"},
    {16, 20, "スパム該当：欧州語(ISO_8859_15) H", "スパム該当：欧州語(ISO_8859_15) B"},
    {17, 21, "スパム該当：ロシア語(KOI8_R) H", "スパム該当：ロシア語(KOI8_R) B"},
    {18, 22, "スパム該当：韓国語(ISO_2022_KR) H", "スパム該当：韓国語(ISO_2022_KR) B"},
    {19, 23, "スパム該当：韓国語(EUC_KR) H", "スパム該当：韓国語(EUC_KR) B"},
    {20, 24, "スパム該当：簡字体中国語(GB2312) H", "スパム該当：簡字体中国語(GB2312) B"},
    {21, 25, "スパム該当：繁字体中国語(Big5) H", "スパム該当：繁字体中国語(Big5) B"},
    {22, 1, "スパム該当：項目以外の外国語 H", "スパム該当：項目以外の外国語 B"},
};

bool on(const config::AppSettings& s, int flag) { return s.spamRules[flag] != 0; }

const char* charsetReason(const config::AppSettings& s, mime::CharsetCode code, bool header) {
  for (const CharsetRule& rule : kCharsetRules)
    if (on(s, rule.flag) && rule.code == code) return header ? rule.header : rule.body;
  return nullptr;
}

bool onlyAscii(const char* text, size_t width) {
  size_t n = platform::fieldLength(text, width);
  for (size_t i = 0; i < n; ++i)
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  return true;
}

}  // namespace

bool matchesAccount(const char* to, const char* accountName) {
  size_t length = std::strlen(to);
  size_t start = 0, remaining = length;
  if (length > 0 && to[0] == '<') {
    start = 1;
    --remaining;
  }
  if (remaining > 0 && to[length - 1] == '>') --remaining;
  size_t nameLength = std::strlen(accountName);
  if (remaining != nameLength) return false;
  int differences = 0;
  for (size_t i = 0; i < nameLength; ++i)
    if (accountName[i] != to[start + i] && ++differences > 1) return false;
  return true;
}

const char* spamReason(const config::AppSettings& s, const mime::MailIndexEntry& mail,
                       mime::CharsetCode headerCharset, mime::CharsetCode bodyCharset) {
  if (on(s, kRuleNoDate) && mail.date[0] == 0) return "スパム該当：送信日付なし";
  if (on(s, kRuleNoTo) && mail.to[0] == 0) return "スパム該当：宛先なし";
  if (on(s, kRuleNoSubject) && mail.subject[0] == 0) return "スパム該当：件名なし";
  if (on(s, kRuleWrongTo) && mail.to[0] != 0) {
    char to[sizeof mail.to], account[sizeof s.accountName];
    platform::copyField(to, sizeof to, mail.to, platform::fieldLength(mail.to, sizeof mail.to));
    platform::copyField(account, sizeof account, s.accountName,
                        platform::fieldLength(s.accountName, sizeof s.accountName));
    if (!matchesAccount(to, account)) return "スパム該当：宛先不正";
  }
  if (headerCharset != 0)
    if (const char* reason = charsetReason(s, headerCharset, true)) return reason;
  if (bodyCharset != 0)
    if (const char* reason = charsetReason(s, bodyCharset, false)) return reason;
  if (on(s, kRuleUsAscii) && headerCharset == 0 && bodyCharset == 0 &&
      onlyAscii(mail.subject, sizeof mail.subject))
    return "スパム該当：英語(US_ASCII)";
  return nullptr;
}

int isSpam(const config::AppSettings& settings, const mime::MimeMessage& mail, mime::CharsetCode bodyCharset,
           const commlog::CommLog& log) {
  const char* reason = spamReason(settings, mail.entry(), mail.headerCharset, bodyCharset);
  if (!reason) return 0;
  log.logLine(reason);
  return 1;
}

}  // namespace spam
