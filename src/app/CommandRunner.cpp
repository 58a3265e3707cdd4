#include "app/CommandRunner.h"

#include "platform/AppMessages.h"
#include "platform/File.h"
#include "sendlib/Sendry.h"
#include "store/MailStore.h"

namespace app {

CommandRunner::CommandRunner(CommandRunnerServices services)
    : services_(std::move(services)),
      camera_(services_.window),
      local_(services_.drawDib),
      processor_(*services_.settings, camera_, local_, *this, *this) {}

void CommandRunner::processNewCommandMails(int firstRow) {
  store::MailList& list = services_.mailList();
  for (int row = firstRow; row < list.entryCount(); ++row) {
    mime::MailIndexEntry mail = list.entryAt(row);
    if (mail.arrivalMark != store::kMarkCommand) continue;
    if (!processor_.processCommandMail(mail, services_.mailLog(), row)) break;
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

void CommandRunner::setRowStatus(int row, int outcome) {
  if (services_.setRowStatus) services_.setRowStatus(row, outcome);
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
