#include "app/CommandRunner.h"

#include "platform/File.h"
#include "sendlib/Sendry.h"
#include "store/MailStore.h"

namespace app {

CommandRunner::CommandRunner(CommandRunnerServices services)
    : services_(std::move(services)),
      camera_(services_.window),
      local_(services_.drawDib),
      processor_(*services_.settings, camera_, local_, *this, *this) {}

std::vector<mime::MailId> CommandRunner::commandMailsFrom(int firstRow) {
  std::vector<mime::MailId> mails;
  store::MailList& list = services_.mailList();
  for (int row = firstRow; row < list.entryCount(); ++row) {
    mime::MailIndexEntry mail = list.entryAt(row);
    if (mail.arrivalMark != store::kMarkCommand) continue;
    places_[nextId_] = {mail.logOffset, mail.mailEnd, mail.headerLength};
    mails.push_back(nextId_++);
  }
  return mails;
}

int CommandRunner::rowOf(mime::MailId mail) const {
  auto place = places_.find(mail);
  if (place == places_.end()) return -1;
  store::MailList& list = services_.mailList();
  for (int row = 0; row < list.entryCount(); ++row) {
    mime::MailIndexEntry entry = list.entryAt(row);
    if (entry.logOffset == place->second.logOffset && entry.mailEnd == place->second.mailEnd &&
        entry.headerLength == place->second.headerLength)
      return row;
  }
  return -1;
}

void CommandRunner::onTimer() {
  KillTimer(services_.window, kTimerId);
  processor_.onTimer();
}

void CommandRunner::startTimer(unsigned ms) { SetTimer(services_.window, kTimerId, ms, nullptr); }

bool CommandRunner::mailRecord(mime::MailId mail, mime::MailIndexEntry* entry) {
  int row = rowOf(mail);
  if (row < 0) return false;
  *entry = services_.mailList().entryAt(row);
  return true;
}

std::string CommandRunner::uniqueIdOf(mime::MailId mail) {
  auto place = places_.find(mail);
  if (place == places_.end() || !services_.uniqueIdOf) return std::string();
  return services_.uniqueIdOf(place->second.logOffset);
}

void CommandRunner::setMailStatus(mime::MailId mail, int outcome) {
  int row = rowOf(mail);
  if (row >= 0 && services_.setRowStatus) services_.setRowStatus(row, outcome);
}

void CommandRunner::commandsFinished() {
  places_.clear();
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
