#include "command/CommandMail.h"

#include <string_view>

#include "platform/Text.h"

namespace command {
namespace {

template <size_t N, size_t M>
bool holds(const char (&field)[N], const char (&required)[M]) {
  std::string_view needle(required, platform::fieldLength(required, M));
  if (needle.empty()) return true;  // no requirement
  std::string_view text(field, platform::fieldLength(field, N));
  return text.find(needle) != std::string_view::npos;
}

}  // namespace

bool isCommandMail(const config::AppSettings& s, const mime::MailIndexEntry& mail) {
  return holds(mail.subject, s.subjectKeyword) && holds(mail.from, s.requiredSender) &&
         holds(mail.to, s.requiredRecipient) && holds(mail.mailer, s.requiredMailer) &&
         holds(mail.sender, s.requiredSenderAddress);
}

}  // namespace command
