#include "app/CommandRunner.h"

#include <memory>

#include "commlog/CommLog.h"
#include "oauth/SessionToken.h"
#include "platform/File.h"
#include "sendlib/Sendry.h"

namespace app {

CommandRunner::CommandRunner(CommandRunnerServices services)
    : services_(std::move(services)),
      camera_(services_.window),
      local_(services_.drawDib),
      processor_(*services_.settings, camera_, local_, *this, *this) {}

void CommandRunner::onTimer() {
  KillTimer(services_.window, kTimerId);
  processor_.onTimer();
}

void CommandRunner::startTimer(unsigned ms) { SetTimer(services_.window, kTimerId, ms, nullptr); }

// Only a mail still in the model and still waiting runs.
bool CommandRunner::mailRecord(mime::MailId mail, mime::MailIndexEntry* entry) {
  const mime::MailIndexEntry* found = services_.mailModel().find(mail);
  if (!found || found->arrivalMark != mime::kMarkWaiting) return false;
  *entry = *found;
  return true;
}

void CommandRunner::setMailStatus(mime::MailId mail, int outcome) {
  if (services_.setMailStatus) services_.setMailStatus(mail, outcome);
}

void CommandRunner::commandsFinished() {
  if (services_.commandsFinished) services_.commandsFinished();
}

void CommandRunner::clearPreview() {
  if (services_.clearPreview) services_.clearPreview();
}

void CommandRunner::saveSettings() {
  if (services_.saveSettings) services_.saveSettings();
}

void CommandRunner::trimStore() {
  if (services_.trimStore) services_.trimStore();
}

void CommandRunner::removeExtractedAttachment() {
  if (services_.removeExtractedAttachment) services_.removeExtractedAttachment();
}

std::string CommandRunner::guardFilePath() {
  return services_.guardFilePath ? services_.guardFilePath() : std::string();
}

std::string CommandRunner::computerName() { return platform::computerName(); }

int CommandRunner::sendMail(const SendMailRequest& request) {
  const config::AppSettings& settings = *services_.settings;
  if (settings.sendAuth != config::kAuthOAuth) {
    SendSecurity security = command::replySecurity(settings);
    return EM_SendMailSecure(&request, &security);
  }
  // SMTP AUTH with the access token, refreshed first when it is about to
  // expire. This runs on the window thread as the send itself does
  // (EM_SendMailSecure returns when the SMTP session has ended), bounded by
  // the HTTP limit (kHttpTimeoutMs) as the send is by its socket limits.
  // When the check signs in by OAuth too, it has just refreshed the token
  // on a worker thread; a token living longer than the five-minute margin
  // (an hour at the usual providers) is then used without a request.
  std::string token;
  oauth::OAuthResult result = oauth::sessionAccessToken(settings, &token);
  auto record = std::make_unique<SendSecurityBearer>();
  if (!result.ok() || !command::replySecurityBearer(settings, token, oauth::sessionMechanism() ==
                                                                         oauth::SaslMechanism::kOauthBearer,
                                                    record.get())) {
    commlog::commLog().logLine(oauth::sessionFailureLine(result).c_str());
    if (result.error == oauth::OAuthError::kInvalidGrant && services_.signInNeeded) services_.signInNeeded();
    return 4;  // the send failed
  }
  token.assign(token.size(), '\0');
  int code = EM_SendMailSecure(&request, &record->security);
  SecureZeroMemory(record->bearerToken, sizeof record->bearerToken);
  return code;
}

}  // namespace app
