// A mail's identity in the mail model for the whole run: given when the
// mail enters the model, never reused, unchanged when other mails are
// deleted, trimmed away or compacted. Commands and checks refer to a mail
// by it, never by a row number or a log offset.
#pragma once
#include <cstdint>

namespace mime {

using MailId = uint64_t;
constexpr MailId kNoMail = 0;

}  // namespace mime
