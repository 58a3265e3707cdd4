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
                                         const commlog::CommLog& log, store::MailboxMemory* memory,
                                         const pop3::ListedMessage& listed) {
  using pop3::MessageAnswer;
  if (!mime::endsWithFinalLine(data, length)) return MessageAnswer::kKeep;
  bool remembers = memory && !listed.id.empty();
  auto remember = [&](store::Dealt dealt, bool durable) {
    store::RememberedMail m;
    m.dealt = dealt;
    m.size = listed.size;
    if (dealt == store::Dealt::kStoring) {
      m.logOffset = mailStore.mailLogSize();
      m.logLength = length;
      m.digest = store::logDigest(data, length);
    }
    if (remembers) memory->remember(listed.id, m, durable);
  };

  int64_t offset = mailStore.mailLogSize() < INT32_MAX ? mailStore.mailLogSize() : INT32_MAX;
  mail.parseMail(data, length, static_cast<int32_t>(offset), mailStore.storedMailCount());
  if (settings.spamFilterEnabled &&
      spam::isSpam(settings, mail, mail.bodyCharset(data, length), log)) {
    if (settings.keepOnServer) {
      remember(store::Dealt::kSpamKept, false);
      return MessageAnswer::kKeep;
    }
    if (settings.spamToRecycleBin) mailStore.recycleSpam(mail, data, length);
    log.logPair("削除スパムの件名：", mail.subject);
    ++counts.spamCount;
    return MessageAnswer::kDelete;
  }
  if (command::isCommandMail(settings, mail)) {
    mail.arrivalMark = mime::kMarkWaiting;
  } else {
    log.logLine("非コマンドメールです");
    if (settings.commandMailsOnly) {
      remember(store::Dealt::kGeneralKept, false);
      return MessageAnswer::kKeep;
    }
    mail.arrivalMark = mime::kMarkGeneral;
  }
  remember(store::Dealt::kStoring, true);
  mime::MailId id = mailStore.appendMail(mail, data, length);
  if (id == mime::kNoMail) {
    // The log could not take it (the store said so): it stays on the server
    // for the next check, is not new and runs no commands.
    if (remembers) memory->forget(listed.id);
    ++counts.storeFailureCount;
    return MessageAnswer::kKeep;
  }
  // The log's text is on disk (appendMail flushes it), so a lost
  // confirmation is found again in the log.
  remember(store::Dealt::kStored, false);
  ++counts.newMailCount;
  if (mail.arrivalMark == mime::kMarkWaiting) counts.commandMails.push_back(id);
  return settings.keepOnServer ? MessageAnswer::kKeep : MessageAnswer::kDelete;
}

store::MailboxKey mailboxKey(const config::AppSettings& s) {
  store::MailboxKey key;
  key.server = platform::fieldText(s.pop3Server);
  key.port = s.pop3Port;
  key.account = platform::fieldText(s.accountName);
  // An IMAP folder is a mailbox of its own.
  if (s.receiveProtocol == config::kReceiveImap) {
    key.folder = platform::fieldText(s.imapFolder);
    if (key.folder.empty()) key.folder = "INBOX";
  }
  return key;
}

bool openCheckSession(pop3::Pop3Session& session, const pop3::Pop3Account& account, const commlog::CommLog& log) {
  if (session.open(account) == 0) return true;
  log.logLine("メール受信前初期化でエラー");
  session.abort();
  return false;
}

imap::ImapAccount imapAccount(const config::AppSettings& s) {
  pop3::Pop3Account pop3 = pop3Account(s);
  imap::ImapAccount account;
  account.endpoint.server = pop3.server;
  account.endpoint.port = pop3.port;
  account.endpoint.security = pop3.security;
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
  account.security = s.pop3Security == config::kPopPlain  ? net::Security::kPlain
                     : s.pop3Security == config::kPopStls ? net::Security::kStartTls
                                                          : net::Security::kTls;
  account.verifyCertificate = s.tlsNoVerify == 0;
  account.trustFile = platform::fieldText(s.tlsTrustFile);
  return account;
}

}  // namespace check
