#include "app/CommandRunner.h"

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
  SendSecurity security = command::replySecurity(*services_.settings);
  return EM_SendMailSecure(&request, &security);
}

}  // namespace app
