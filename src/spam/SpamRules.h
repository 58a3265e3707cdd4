// The spam judgement: 24 criteria switched on one by one in the settings,
// tested in a fixed order; the first that holds decides.
#pragma once
#include "config/AppSettings.h"
#include "mime/Charset.h"
#include "mime/MimeMessage.h"
#include "commlog/CommLog.h"

namespace spam {

// Indexes of the spamRules flags that are not charset criteria.
enum : int {
  kRuleNoDate = 0,
  kRuleNoTo = 1,
  kRuleNoSubject = 2,
  kRuleUsAscii = 3,
  kRuleOtherCharset = 22,
  kRuleWrongTo = 23,
};

// 1 when the mail is spam, after writing the reason to `log`; 0 otherwise.
// `bodyCharset` is the charset of the body of the raw text that `mail` was
// parsed from; the header charset is mail.headerCharset.
int isSpam(const config::AppSettings& settings, const mime::MimeMessage& mail, mime::CharsetCode bodyCharset,
           const commlog::CommLog& log = commlog::commLog());

// The reason text the first matching criterion gives, or nullptr.
const char* spamReason(const config::AppSettings& settings, const mime::MailIndexEntry& mail,
                       mime::CharsetCode headerCharset, mime::CharsetCode bodyCharset);

// The To value names the account: byte for byte, without one "<" in front
// and one ">" at the end, with at most one differing byte.
bool matchesAccount(const char* to, const char* accountName);

}  // namespace spam
