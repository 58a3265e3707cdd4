// Recognition of command mails by their header fields.
#pragma once
#include "config/AppSettings.h"
#include "mime/MailIndexEntry.h"

namespace command {

// True when every non-empty required text of the settings occurs in its
// field (subjectKeyword in the Subject, requiredSender in From,
// requiredRecipient in To, requiredMailer in X-Mailer, requiredSenderAddress
// in X-Sender): plain case-sensitive byte search.
bool isCommandMail(const config::AppSettings& settings, const mime::MailIndexEntry& mail);

}  // namespace command
