#include "daemon/MailService.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "check/CheckSummary.h"
#include "command/CommandGuard.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "pop3/Pop3Session.h"
#include "sendlib/SendMail.h"

namespace service {
namespace {

// At the end the connected session is given this long to log out.
constexpr uint64_t kLogoutMs = 3000;

const char* outcomeText(int outcome) {
  switch (outcome) {
    case command::kOutcomeRejected: return "コマンドメール処理結果: 無 効";
    case command::kOutcomeFailed: return "コマンドメール処理結果: 失 敗";
    case command::kOutcomeDone: return "コマンドメール処理結果: 完 了";
    default: return "コマンドメール処理結果: 拒 否";
  }
}

// The earliest of the deadlines that are set (0: none).
uint64_t earliest(uint64_t a, uint64_t b) { return a == 0 ? b : b == 0 ? a : std::min(a, b); }

}  // namespace

MailService::MailService(config::AppSettings& settings, command::CameraBridge& camera, command::LocalActions& local,
                         const commlog::CommLog& log)
    : settings_(settings), log_(log), store_(log), mailbox_(settings, store_, log),
      cycle_(settings, mailbox_, *this, log), processor_(settings, camera, local, *this, *this, log) {}

MailService::~MailService() = default;

void MailService::openStore() {
  store_.setFolder(settings_.mailLogFolder);
  store_.setCompanionFiles({command::kGuardFileName});
  // A rebuilt index is loaded once more.
  if (store_.openStore() && store_.loadIndex()) store_.loadIndex();
}

uint64_t MailService::periodMs() const {
  return check::receiveTimerPeriodMs(settings_.intervalMinutes, settings_.intervalSeconds);
}

void MailService::run(int signalFd, ServiceEvents& events) {
  uint64_t now = platform::monotonicMs();
  uint64_t nextCheck = now;  // 0: no check planned (an interval of 0 checks once)
  uint64_t eventsDue = now;  // 0: not before the next command step
  while (!stopWanted_) {
    now = platform::monotonicMs();
    // What the window would take from its message queue, in its order.
    if (checkFinishedPosted_) {
      checkFinishedPosted_ = false;
      onCheckFinished();
      eventsDue = now;  // commands may have given the bridge work (a recording's limit, a detection wish)
      continue;
    }
    if (processingFinishedPosted_) {
      processingFinishedPosted_ = false;
      onProcessingFinished();
      continue;
    }
    if (timerDueMs_ >= 0 && now >= static_cast<uint64_t>(timerDueMs_)) {
      timerDueMs_ = -1;
      processor_.onTimer();
      eventsDue = now;
      continue;
    }
    const bool quiet = !cycle_.busy() && !processor_.busy();
    if (reloadWanted_ && quiet) {
      reloadWanted_ = false;
      if (events.reload()) {
        cycle_.onSettingsChanged(now);
        nextCheck = now;  // the new interval starts with a check
      }
      continue;
    }
    if (nextCheck && now >= nextCheck && !cycle_.busy()) {
      startCheck(now);
      nextCheck = periodMs() ? now + periodMs() : 0;
      continue;
    }
    const uint64_t watch = cycle_.nextWatchTickMs(now);
    if (watch && now >= watch) {
      cycle_.onWatchTick(now);
      continue;
    }
    if (eventsDue && now >= eventsDue) {
      int64_t again = events.tick(static_cast<int64_t>(now));
      eventsDue = again < 0 ? 0 : now + static_cast<uint64_t>(std::max<int64_t>(again, 1));
      continue;
    }

    // Nothing to do now: sleep until a deadline, a signal or the socket.
    uint64_t wake = earliest(watch, eventsDue);
    if (!cycle_.busy()) wake = earliest(wake, nextCheck);
    if (timerDueMs_ >= 0) wake = earliest(wake, static_cast<uint64_t>(timerDueMs_));
    int timeout = wake ? static_cast<int>(std::min<uint64_t>(wake - now, 1u << 30)) : -1;
    struct pollfd fds[2] = {{signalFd, POLLIN, 0}, {static_cast<int>(socket_), POLLIN, 0}};
    int ready = ::poll(fds, socket_ >= 0 ? 2 : 1, timeout);
    if (ready < 0 && errno != EINTR) {
      log_.logLine("poll に失敗しました");
      break;
    }
    if (ready <= 0) continue;
    if (fds[0].revents && !readSignals(signalFd)) break;
    if (socket_ >= 0 && fds[1].revents) onSocketReady(fds[1].revents);
  }

  // A session waiting for mail logs out; a POP3 check is cut.
  const bool connected = cycle_.waitingForMail();
  cycle_.stop();
  const uint64_t deadline = platform::monotonicMs() + kLogoutMs;
  while (connected && socket_ >= 0) {
    now = platform::monotonicMs();
    if (now >= deadline) break;
    struct pollfd fd{static_cast<int>(socket_), POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(deadline - now)) > 0) onSocketReady(fd.revents);
  }
}

void MailService::onSocketReady(short revents) {
  if (revents & POLLNVAL) {  // closed under us: nothing more to hear
    socket_ = -1;
    return;
  }
  // Data first; a hang-up without data is the close notification.
  cycle_.onSocketEvent(revents & POLLIN ? pop3::kFdRead : pop3::kFdClose);
}

bool MailService::readSignals(int signalFd) {
  char bytes[16];
  ssize_t n;
  while ((n = ::read(signalFd, bytes, sizeof bytes)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      if (bytes[i] == kSignalStop) stopWanted_ = true;
      if (bytes[i] == kSignalReload) reloadWanted_ = true;
    }
  }
  return !stopWanted_;
}

void MailService::startCheck(uint64_t nowMs) { cycle_.startCheck(nowMs); }

// WM_USER+3: the batch's command mails run one after another.
void MailService::onCheckFinished() {
  processingPending_ = true;
  if (cycle_.onCheckFinished()) {
    const std::vector<mime::MailId>& mails = mailbox_.counts().commandMails;
    if (!mails.empty()) {
      processor_.runMails(std::vector<mime::MailId>(mails.begin(), mails.end()));
      return;  // commandsFinished ends the processing
    }
    trimStore();
  }
  processingFinishedPosted_ = true;
}

// WM_USER+10: a connected session fetches what came meanwhile.
void MailService::onProcessingFinished() {
  if (!processingPending_ || processor_.busy()) return;
  processingPending_ = false;
  cycle_.onProcessingFinished();
  // The session's buffers, the TLS store and the mails are freed: the
  // heap gives the pages back before the service goes idle.
  malloc_trim(0);
}

void MailService::setTitle(const std::string& sjis) {
  // The journal gets each summary, not the running check's title, and the
  // waiting title once.
  static const std::string waiting = check::checkWaitingTitle("");
  bool isWaiting = sjis.size() >= waiting.size() &&
                   sjis.compare(sjis.size() - waiting.size(), waiting.size(), waiting) == 0;
  if (sjis == check::checkRunningTitle() || (isWaiting && sjis == lastTitle_)) return;
  lastTitle_ = sjis;
  log_.logLine(sjis.c_str());
}

// The loop listens to the session's socket; as with WinSock's
// notifications, the socket does not block from now on.
bool MailService::requestNotifications(net::TcpSocket& socket, int* error) {
  int fd = static_cast<int>(socket.handle());
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = errno;
    return false;
  }
  socket_ = socket.handle();
  return true;
}

void MailService::cancelNotifications(net::TcpSocket& socket) {
  if (socket.handle() == socket_) socket_ = -1;
}

void MailService::startTimer(unsigned ms) { timerDueMs_ = static_cast<int64_t>(platform::monotonicMs() + ms); }

// Only a mail still in the store and still waiting runs.
bool MailService::mailRecord(mime::MailId mail, mime::MailIndexEntry* entry) {
  const mime::MailIndexEntry* found = store_.model().find(mail);
  if (!found || found->arrivalMark != mime::kMarkWaiting) return false;
  *entry = *found;
  return true;
}

void MailService::setMailStatus(mime::MailId mail, int outcome) {
  static const mime::ArrivalMark kMarks[] = {mime::kMarkRejected, mime::kMarkFailed, mime::kMarkDone,
                                             mime::kMarkRefused};
  if (outcome >= 0 && outcome < 4 && mail != mime::kNoMail && store_.model().find(mail))
    store_.model().setArrivalMark(mail, kMarks[outcome]);
  log_.logLine(outcomeText(outcome));
}

void MailService::commandsFinished() {
  trimStore();
  if (processingPending_) processingFinishedPosted_ = true;
}

void MailService::trimStore() { store_.trimStore(settings_.mailLogKeepCount); }

std::string MailService::computerName() { return platform::computerName(); }

std::string MailService::guardFilePath() { return store_.folder() + "\\" + command::kGuardFileName; }

int MailService::sendMail(const SendMailRequest& request) {
  SendSecurity security = command::replySecurity(settings_);
  return sendlib::sendMailSecure(request, &security);
}

}  // namespace service
