#include "app/CommandRunner.h"

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
  SendSecurity security = command::replySecurity(*services_.settings);
  return EM_SendMailSecure(&request, &security);
}

}  // namespace app
