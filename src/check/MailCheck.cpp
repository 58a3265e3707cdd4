#include "check/MailCheck.h"

#include <climits>
#include <cstring>

#include "command/CommandMail.h"
#include "mime/MailEnd.h"
#include "spam/SpamRules.h"

namespace check {

pop3::MessageAnswer handleDownloadedMail(const config::AppSettings& settings, mime::MimeMessage& mail,
                                         const char* data, size_t length, store::MailStore& mailStore, CheckCounts& counts,
                                         const commlog::CommLog& log, const std::string& uniqueId) {
  using pop3::MessageAnswer;
  if (!mime::endsWithFinalLine(data, length)) return MessageAnswer::Keep;

  int64_t offset = mailStore.mailLogSize() < INT32_MAX ? mailStore.mailLogSize() : INT32_MAX;
  mail.parseMail(data, length, static_cast<int32_t>(offset), mailStore.storedMailCount());
  if (settings.spamFilterEnabled &&
      spam::isSpam(settings, mail, mail.bodyCharset(data, length), log)) {
    if (settings.keepOnServer) return MessageAnswer::Keep;
    if (settings.spamToRecycleBin) mailStore.recycleSpam(mail, data, length);
    log.logPair("削除スパムの件名：", mail.subject);
    ++counts.spamCount;
    return MessageAnswer::Delete;
  }
  if (command::isCommandMail(settings, mail)) {
    mail.arrivalMark = store::kMarkCommand;
  } else {
    log.logLine("非コマンドメールです");
    if (settings.commandMailsOnly) return MessageAnswer::Keep;
    mail.arrivalMark = store::kMarkGeneral;
  }
  int stored = mailStore.appendMail(mail, data, length);
  if (stored) ++counts.newMailCount;
  if (stored && mail.arrivalMark == store::kMarkCommand && !uniqueId.empty())
    counts.uniqueIds[mail.logOffset] = uniqueId;
  // A mail the log could not take stays on the server for the next check.
  return settings.keepOnServer || !stored ? MessageAnswer::Keep : MessageAnswer::Delete;
}

}  // namespace check
