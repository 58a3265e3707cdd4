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
    mail.arrivalMark = store::kMarkCommand;
  } else {
    log.logLine("非コマンドメールです");
    if (settings.commandMailsOnly) return MessageAnswer::kKeep;
    mail.arrivalMark = store::kMarkGeneral;
  }
  if (!mailStore.appendMail(mail, data, length)) {
    // The log could not take it (the store said so): it stays on the server
    // for the next check, is not new and runs no commands.
    ++counts.storeFailureCount;
    return MessageAnswer::kKeep;
  }
  ++counts.newMailCount;
  if (mail.arrivalMark == store::kMarkCommand && !uniqueId.empty()) counts.uniqueIds[mail.logOffset] = uniqueId;
  return settings.keepOnServer ? MessageAnswer::kKeep : MessageAnswer::kDelete;
}

imap::ImapAccount imapAccount(const config::AppSettings& s) {
  pop3::Pop3Account pop3 = pop3Account(s);
  imap::ImapAccount account;
  account.endpoint.server = pop3.server;
  account.endpoint.port = pop3.port;
  account.endpoint.security = pop3.security == pop3::Pop3Security::kPlain  ? net::Security::kPlain
                              : pop3.security == pop3::Pop3Security::kStls ? net::Security::kStartTls
                                                                           : net::Security::kTls;
  account.endpoint.verifyCertificate = pop3.verifyCertificate;
  account.endpoint.trustFile = pop3.trustFile;
  account.user = pop3.accountName;
  account.password = pop3.password;
  account.folder = platform::fieldText(s.imapFolder);
  account.stayConnected = true;
  return account;
}

std::string asPop3Text(const char* data, size_t length) {
  std::string out;
  out.reserve(length + length / 64 + 8);
  bool lineStart = true;
  for (size_t i = 0; i < length; ++i) {
    if (lineStart && data[i] == '.') out += '.';
    out += data[i];
    lineStart = data[i] == '\n';
  }
  if (length == 0 || !lineStart || (length >= 2 && data[length - 2] != '\r')) {
    if (!out.empty() && out.back() == '\n') out.pop_back();
    if (!out.empty() && out.back() == '\r') out.pop_back();
    out += "\r\n";
  }
  out += ".\r\n";
  return out;
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
