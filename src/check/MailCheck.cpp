#include "check/MailCheck.h"

#include <climits>
#include <cstring>

#include "command/CommandMail.h"
#include "mime/MailEnd.h"
#include "spam/SpamRules.h"

namespace check {

pop3::MessageAnswer handleDownloadedMail(const config::AppSettings& settings, mime::MimeMessage& mail,
                                         const char* data, size_t length, store::MailStore& mailStore, CheckCounts& counts,
                                         const commlog::CommLog& log) {
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
  return settings.keepOnServer ? MessageAnswer::kKeep : MessageAnswer::kDelete;
}

}  // namespace check
