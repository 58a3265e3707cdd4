#include "store/MailCheck.h"

#include <climits>
#include <cstring>

#include "command/CommandMail.h"
#include "spam/SpamRules.h"

namespace store {

pop3::MessageAnswer handleDownloadedMail(const app::AppSettings& settings, mime::MimeMessage& mail,
                                         const char* data, size_t length, MailStore& store, CheckCounts& counts,
                                         const pop3::CommLog& log) {
  using pop3::MessageAnswer;
  bool complete = data && ((length == 3 && std::memcmp(data, ".\r\n", 3) == 0) ||
                           (length >= 5 && std::memcmp(data + length - 5, "\r\n.\r\n", 5) == 0));
  if (!complete) return MessageAnswer::Keep;

  int64_t offset = store.mailLogSize() < INT32_MAX ? store.mailLogSize() : INT32_MAX;
  mail.parseMail(data, length, static_cast<int32_t>(offset), store.storedMailCount());
  if (settings.spamFilterEnabled &&
      spam::isSpam(settings, mail, mail.bodyCharset(data, length), log)) {
    if (settings.keepOnServer) return MessageAnswer::Keep;
    if (settings.spamToRecycleBin) store.recycleSpam(mail, data, length);
    log.logPair("削除スパムの件名：", mail.subject);
    ++counts.spamCount;
    return MessageAnswer::Delete;
  }
  if (command::isCommandMail(settings, mail)) {
    mail.arrivalMark = kMarkCommand;
  } else {
    log.logLine("非コマンドメールです");
    if (settings.commandMailsOnly) return MessageAnswer::Keep;
    mail.arrivalMark = kMarkGeneral;
  }
  int stored = store.appendMail(mail, data, length);
  ++counts.newMailCount;
  // A mail the log could not take stays on the server for the next check.
  return settings.keepOnServer || !stored ? MessageAnswer::Keep : MessageAnswer::Delete;
}

}  // namespace store
