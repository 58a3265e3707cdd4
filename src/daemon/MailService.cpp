#include "daemon/MailService.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "check/CheckSummary.h"
#include "command/CommandGuard.h"
#include "platform/File.h"
#include "pop3/Pop3SessionLoop.h"
#include "sendlib/SendMail.h"

namespace service {
namespace {

int64_t nowMs() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

const char* outcomeText(int outcome) {
  switch (outcome) {
    case command::kOutcomeRejected: return "コマンドメール処理結果: 無 効";
    case command::kOutcomeFailed: return "コマンドメール処理結果: 失 敗";
    case command::kOutcomeDone: return "コマンドメール処理結果: 完 了";
    default: return "コマンドメール処理結果: 拒 否";
  }
}

}  // namespace

MailService::MailService(config::AppSettings& settings, command::CameraBridge& camera, command::LocalActions& local,
                         const commlog::CommLog& log)
    : settings_(settings), log_(log), store_(log),
      processor_(settings, camera, local, *this, *this, log) {}

void MailService::openStore() {
  store_.setFolder(settings_.mailLogFolder);
  // A rebuilt index is loaded once more.
  if (store_.openStore() && store_.loadIndex()) store_.loadIndex();
}

int MailService::checkOnce() {
  check::PolledCheck check(settings_, store_, log_);
  check.mailbox().begin();
  pop3::Pop3Session session(check, log_);
  if (pop3::runSession(session, check::pop3Account(settings_)) != 0) {
    log_.logLine("メール受信前初期化でエラー");
    session.abort();  // counted once as the check's failure
  }
  const check::CheckCounts& counts = check.mailbox().counts();
  log_.logLine(check::checkSummaryTitle(check.failures() + counts.storeFailureCount, counts.newMailCount,
                                        counts.spamCount, counts.unreceivableCount)
                   .c_str());
  for (mime::MailId id : counts.commandMails) {
    const mime::MailIndexEntry* found = store_.model().find(id);
    if (!found || found->arrivalMark != mime::kMarkWaiting) continue;
    mime::MailIndexEntry mail = *found;
    currentMail_ = id;
    bool ran = processor_.processCommandMail(mail, store_, store_.model().rowOf(id));
    currentMail_ = mime::kNoMail;
    if (!ran) break;
  }
  trimStore();
  return check.failures();
}

void MailService::run(int stopFd, Ticker ticker, void* tickerContext) {
  const int64_t periodMs = static_cast<int64_t>(settings_.intervalMinutes) * 60000 + settings_.intervalSeconds * 1000;
  for (;;) {
    checkOnce();
    // A period of 0 checks once, as the program without a timer does.
    const int64_t nextCheck = periodMs > 0 ? nowMs() + periodMs : -1;
    for (;;) {
      int64_t now = nowMs();
      if (nextCheck >= 0 && now >= nextCheck) break;
      int64_t wait = nextCheck >= 0 ? nextCheck - now : -1;
      if (ticker) {
        int64_t tick = ticker(tickerContext, now);
        if (tick >= 0) wait = wait < 0 ? tick : std::min(wait, tick);
      }
      struct pollfd stop{stopFd, POLLIN, 0};
      int ready = ::poll(&stop, 1, wait < 0 ? -1 : static_cast<int>(std::min<int64_t>(wait, 1 << 30)));
      if (ready > 0) return;
      if (ready < 0 && errno != EINTR) return;
    }
  }
}

void MailService::pause(unsigned ms) {
  struct timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

void MailService::handOver() {
  pause(command::kCommandPauseMs);
  processor_.runNextCommand();
}

void MailService::setRowStatus(int, int outcome) {
  static const mime::ArrivalMark kMarks[] = {mime::kMarkRejected, mime::kMarkFailed, mime::kMarkDone,
                                             mime::kMarkRefused};
  if (outcome >= 0 && outcome < 4 && currentMail_ != mime::kNoMail)
    store_.model().setArrivalMark(currentMail_, kMarks[outcome]);
  log_.logLine(outcomeText(outcome));
}

void MailService::trimStore() { store_.trimStore(settings_.mailLogKeepCount); }

std::string MailService::computerName() { return platform::computerName(); }

std::string MailService::guardFilePath() { return store_.folder() + "\\" + command::kGuardFileName; }

int MailService::sendMail(const SendMailRequest& request) {
  SendSecurity security = command::replySecurity(settings_);
  return sendlib::sendMailSecure(request, &security);
}

}  // namespace service
