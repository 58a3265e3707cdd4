#include "imap/ImapClient.h"

#include "platform/Clock.h"

namespace imap {
namespace {

constexpr int kReadChunk = 65536;

}  // namespace

ImapClient::ImapClient(ImapHost& host, const commlog::CommLog& log, SocketNotifier* notifier)
    : log_(log), notifier_(notifier), session_(host, *this, log) {}

ImapClient::~ImapClient() { connection_.drop(); }

int ImapClient::open(const ImapAccount& account) {
  endpoint_ = account.endpoint;
  net::ConnectReport failure = net::reportConnectFailure(connection_.connect(endpoint_.server, endpoint_.port, kConnectTimeoutMs), "IMAP");
  if (failure.code != 0) {
    log_.logLine(failure.line.c_str());
    return failure.code;
  }
  log_.logLine("IMAPサーバに接続しました");
  if (endpoint_.security == net::Security::kTls && !startTls()) {
    connection_.drop();
    return kTlsFailed;
  }
  int error = 0;
  if (notifier_ && !notifier_->request(connection_.socket(), &error)) {
    log_.logLine(("ERROR [" + std::to_string(error) + "] AsyncSelect失敗").c_str());
    connection_.drop();
    return kSelectFailed;
  }
  session_.begin(account, platform::monotonicMs());
  // The greeting may have come with the last handshake records: already
  // decrypted, it brings no notification of its own.
  if (connection_.pending() > 0) onReadable();
  return kConnectOk;
}

void ImapClient::onReadable() {
  static thread_local char buffer[kReadChunk];
  // TLS may hold decrypted bytes beyond one read; no notification comes for those.
  do {
    int n = connection_.receive(buffer, kReadChunk);
    if (n < 0 && connection_.error() == net::kErrWouldBlock) return;
    if (n <= 0) {
      if (n < 0) log_.logLine(("SOCKET_ERRORで失敗: " + std::to_string(connection_.error())).c_str());
      session_.onClosed();
      return;
    }
    session_.feed(buffer, static_cast<size_t>(n));
  } while (!session_.ended() && connection_.isOpen() && connection_.pending() > 0);
}

void ImapClient::onClosedNotification() {
  // Windows may tell of the close before all data was read.
  while (connection_.isOpen() && connection_.socket().waitReadable(0) == 1) onReadable();
  if (!session_.ended()) session_.onClosed();
}

void ImapClient::onIdleCheck(uint64_t nowMs) {
  if (session_.ended()) return;
  if (session_.awaitingReply() && connection_.silentFor(nowMs, silenceLimitMs_)) {
    session_.onSilence(silenceLimitMs_);
    return;
  }
  session_.tick(nowMs);
}

uint64_t ImapClient::nextCheckMs(uint64_t nowMs) const {
  if (session_.ended()) return 0;
  return session_.awaitingReply() ? nowMs + net::kSilenceCheckMs : session_.waitDueMs();
}

bool ImapClient::send(const std::string& bytes) { return connection_.send(bytes); }

bool ImapClient::startTls() {
  if (!endpoint_.verifyCertificate) log_.logLine(net::kTlsNoVerifyWarning);
  if (!connection_.startTls(endpoint_, kConnectTimeoutMs)) {
    log_.logLine(net::tlsFailureLine(*connection_.failedTls()).c_str());
    return false;
  }
  log_.logLine(net::tlsConnectedLine(*connection_.tls()).c_str());
  return true;
}

void ImapClient::close() {
  if (notifier_ && connection_.isOpen()) notifier_->cancel(connection_.socket());
  connection_.close();
}

int runClient(ImapClient& client, const ImapAccount& account, const std::function<bool()>& keepGoing) {
  int code = client.open(account);
  if (code) return code;
  bool stopped = false;
  while (!client.session().ended()) {
    if (!stopped && keepGoing && !keepGoing()) {
      stopped = true;
      client.stop();
      continue;
    }
    int ready = client.socket().waitReadable(200);
    if (ready > 0)
      client.onReadable();
    else if (ready < 0)
      client.onClosedNotification();
    else
      client.onIdleCheck(platform::monotonicMs());
  }
  return 0;
}

}  // namespace imap
