#include "app/CommandRunner.h"

#include <memory>

#include "commlog/CommLog.h"
#include "oauth/SessionToken.h"
#include "platform/AppMessages.h"
#include "platform/File.h"
#include "sendlib/Sendry.h"

namespace app {

CommandRunner::CommandRunner(CommandRunnerServices services)
    : services_(std::move(services)),
      camera_(services_.window),
      local_(services_.drawDib),
      processor_(*services_.settings, camera_, local_, *this, *this) {}

void CommandRunner::processNewCommandMails(const std::vector<mime::MailId>& mails) {
  for (mime::MailId id : mails) {
    const store::MailModel& model = services_.mailModel();
    const mime::MailIndexEntry* found = model.find(id);
    if (!found || found->arrivalMark != mime::kMarkWaiting) continue;
    mime::MailIndexEntry mail = *found;
    currentMail_ = id;
    bool ran = processor_.processCommandMail(mail, services_.mailLog(), model.rowOf(id));
    currentMail_ = mime::kNoMail;
    if (!ran) break;
  }
}

void CommandRunner::handOver() { SendMessageW(services_.window, appmsg::kNextCommand, 0, 0); }

void CommandRunner::pumpOneMessage() {
  MSG msg;
  if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// The row the processor was given may have moved since: the outcome goes
// to the mail being processed.
void CommandRunner::setRowStatus(int, int outcome) {
  if (services_.setMailStatus && currentMail_ != mime::kNoMail) services_.setMailStatus(currentMail_, outcome);
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
  // SMTP AUTH with the access token, refreshed first when it is about to expire.
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
