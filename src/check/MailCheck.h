// The decision a mail check takes for each downloaded mail: spam, command
// mail or general mail; stored or not; deleted from the server or kept.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "config/AppSettings.h"
#include "mime/MimeMessage.h"
#include "commlog/CommLog.h"
#include "imap/ImapSession.h"
#include "pop3/Pop3Session.h"
#include "store/MailStore.h"

namespace check {

// The counters of one check that the decisions change.
struct CheckCounts {
  int newMailCount = 0;  // mails stored in the mail log
  int spamCount = 0;     // spam deleted from the server
  int storeFailureCount = 0;  // mails the mail log could not take (kept on the server)
  // The server's unique ids of the stored command mails, by their log offset.
  std::map<int32_t, std::string> uniqueIds;
};

// Handles one complete message (`data`, exactly as received, ending with
// CR LF "." CR LF): parses it into `mail`, judges spam, recognises a
// command mail, stores it and counts it. The answer tells the session
// whether to delete it from the server. A message that does not end with
// its final line is neither stored nor deleted. `uniqueId` is the server's
// id of the message, kept in `counts` for a stored command mail.
pop3::MessageAnswer handleDownloadedMail(const config::AppSettings& settings, mime::MimeMessage& mail,
                                         const char* data, size_t length, store::MailStore& mailStore, CheckCounts& counts,
                                         const commlog::CommLog& log = commlog::commLog(),
                                         const std::string& uniqueId = std::string());

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
