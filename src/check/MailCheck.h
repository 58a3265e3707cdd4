// The decision a mail check takes for each downloaded mail: spam, command
// mail or general mail; stored or not; deleted from the server or kept.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/AppSettings.h"
#include "mime/MimeMessage.h"
#include "commlog/CommLog.h"
#include "imap/ImapSession.h"
#include "pop3/Pop3Session.h"
#include "store/MailStore.h"
#include "store/MailboxMemory.h"

namespace check {

// The counters of one check that the decisions change.
struct CheckCounts {
  int newMailCount = 0;  // mails stored in the mail log
  int spamCount = 0;     // spam deleted from the server
  int storeFailureCount = 0;  // mails the mail log could not take (kept on the server)
  int unreceivableCount = 0;  // mails too large to receive, left on the server
  // The command mails stored by this check, in download order: the mails
  // whose commands run when the check ends, found by id whatever rows
  // were deleted meanwhile.
  std::vector<mime::MailId> commandMails;
};

// Handles one complete message (`data`, exactly as received, ending with
// CR LF "." CR LF): parses it into `mail`, judges spam, recognises a
// command mail, stores it and counts it (a stored command mail joins
// counts.commandMails). The answer tells the session whether to delete it
// from the server. A message that does not end with its final line is
// neither stored nor deleted. With a `memory` and the message's id, what
// was done is remembered: a store is announced durably before the mail
// goes into the log and confirmed after it, before the answer (and so the
// DELE); a mail left on the server as spam or as a general mail is
// remembered too.
pop3::MessageAnswer handleDownloadedMail(const config::AppSettings& settings, mime::MimeMessage& mail,
                                         const char* data, size_t length, store::MailStore& mailStore, CheckCounts& counts,
                                         const commlog::CommLog& log = commlog::commLog(),
                                         store::MailboxMemory* memory = nullptr,
                                         const pop3::ListedMessage& listed = pop3::ListedMessage());

// The mailbox of the settings' POP3 account.
store::MailboxKey mailboxKey(const config::AppSettings& s);

// Opens the session of a check. When that fails: logs
// "メール受信前初期化でエラー" and ends the session through its abort path,
// which reports the failure to the host once (onSessionFailed) and ends
// the session (onSessionEnded). False when the open failed.
bool openCheckSession(pop3::Pop3Session& session, const pop3::Pop3Account& account,
                      const commlog::CommLog& log = commlog::commLog());

// The POP3 account of a check from the settings. A security mode the
// program does not know is taken as TLS from the first byte, never as plain.
pop3::Pop3Account pop3Account(const config::AppSettings& s);
// The IMAP account: the POP3 server, port, account, password and security
// fields, and the folder; the session stays connected after each batch.
imap::ImapAccount imapAccount(const config::AppSettings& s);

// A message as the server holds it, in the form POP3 delivers it (lines
// starting with "." get one more, a missing final line end is added, and
// CR LF "." CR LF ends it), so that both protocols store the same bytes.
std::string asPop3Text(const char* data, size_t length);

}  // namespace check
