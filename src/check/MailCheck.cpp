#include "check/MailCheck.h"

#include <climits>
#include <cstring>

#include "command/CommandMail.h"
#include "mime/MailEnd.h"
#include "platform/Text.h"
#include "spam/SpamRules.h"

namespace check {

pop3::MessageAnswer handleDownloadedMail(const config::AppSettings& settings, mime::MimeMessage& mail,
                                         const char* data, size_t length, store::MailStore& mailStore, CheckCounts& counts,
                                         const commlog::CommLog& log, const std::string& uniqueId) {
  using pop3::MessageAnswer;
  if (!mime::endsWithFinalLine(data, length)) return MessageAnswer::kKeep;

  int64_t offset = mailStore.mailLogSize() < INT32_MAX ? mailStore.mailLogSize() : INT32_MAX;
  mail.parseMail(data, length, static_cast<int32_t>(offset), mailStore.storedMailCount());
  if (settings.spamFilterEnabled &&
      spam::isSpam(settings, mail, mail.bodyCharset(data, length), log)) {
    if (settings.keepOnServer) return MessageAnswer::kKeep;
    if (settings.spamToRecycleBin) mailStore.recycleSpam(mail, data, length);
    log.logPair("削除スパムの件名：", mail.subject);
    ++counts.spamCount;
    return MessageAnswer::kDelete;
  }
  if (command::isCommandMail(settings, mail)) {
    mail.arrivalMark = mime::kMarkWaiting;
  } else {
    log.logLine("非コマンドメールです");
    if (settings.commandMailsOnly) return MessageAnswer::kKeep;
    mail.arrivalMark = mime::kMarkGeneral;
  }
  mime::MailId id = mailStore.appendMail(mail, data, length);
  if (id == mime::kNoMail) {
    // The log could not take it (the store said so): it stays on the server
    // for the next check, is not new and runs no commands.
    ++counts.storeFailureCount;
    return MessageAnswer::kKeep;
  }
  ++counts.newMailCount;
  if (mail.arrivalMark == mime::kMarkWaiting) {
    counts.commandMails.push_back(id);
    if (!uniqueId.empty()) counts.uniqueIds[id] = uniqueId;
  }
  return settings.keepOnServer ? MessageAnswer::kKeep : MessageAnswer::kDelete;
}

bool openCheckSession(pop3::Pop3Session& session, const pop3::Pop3Account& account, const commlog::CommLog& log) {
  if (session.open(account) == 0) return true;
  log.logLine("メール受信前初期化でエラー");
  session.abort();
  return false;
}

pop3::Pop3Account pop3Account(const config::AppSettings& s) {
  pop3::Pop3Account account;
  account.server = platform::fieldText(s.pop3Server);
  account.port = s.pop3Port;
  account.accountName = platform::fieldText(s.accountName);
  account.password = platform::fieldText(s.password);
  account.security = s.pop3Security == config::kPopPlain  ? pop3::Pop3Security::kPlain
                     : s.pop3Security == config::kPopStls ? pop3::Pop3Security::kStls
                                                          : pop3::Pop3Security::kTls;
  account.verifyCertificate = s.tlsNoVerify == 0;
  account.trustFile = platform::fieldText(s.tlsTrustFile);
  return account;
}

}  // namespace check
