#include "check/MailSource.h"

#include "check/MailCheck.h"
#include "imap/ImapClient.h"
#include "imap/Sasl.h"
#include "platform/Text.h"

namespace check {
namespace {

class Pop3Source : public MailSource, private pop3::Pop3Host {
 public:
  Pop3Source(const config::AppSettings& settings, MailSink& sink, const commlog::CommLog& log)
      : account_(pop3Account(settings)), sink_(sink), log_(log), session_(*this, log) {
    if (const BearerLogin* login = sink.bearerLogin()) {
      account_.bearerToken = login->token;
      account_.mechanism = login->mechanism;
    }
  }

  // A failed open is counted once and ends through the abort path.
  bool open() override { return openCheckSession(session_, account_, log_); }
  void onSocketEvent(int event) override { session_.onSocketEvent(event); }
  void tick(uint64_t nowMs) override { session_.onIdleCheck(nowMs); }
  // A POP3 check is short: it runs to its end.
  void stop() override {}
  bool isOpen() const override { return session_.isOpen(); }
  intptr_t socketHandle() const override { return const_cast<pop3::Pop3Session&>(session_).socket().handle(); }

 private:
  pop3::MessagePlan planMessage(const pop3::ListedMessage& m) override { return sink_.planMessage(m); }
  pop3::MessageAnswer onMessageComplete(const pop3::ListedMessage& m, const char* data, size_t length) override {
    return sink_.onMessage(m, data, length);
  }
  void onUnreceivable(const pop3::ListedMessage& m, uint64_t received) override { sink_.onUnreceivable(m, received); }
  bool wantsHeaderIds() const override { return sink_.wantsHeaderIds(); }
  std::string headerId(const char* header, size_t length) override { return sink_.headerId(header, length); }
  void onMailboxDone(const std::vector<pop3::ListedMessage>& listing, bool withIds) override {
    sink_.onMailboxDone(listing, withIds);
  }
  void onSessionFailed() override { sink_.onFailure(); }
  void onSessionEnded() override {
    sink_.onBatchEnded();
    sink_.onSourceEnded();
  }
  int newMailCount() const override { return sink_.newMailCount(); }
  bool requestNotifications(net::TcpSocket& socket, int* error) override {
    return sink_.requestNotifications(socket, error);
  }
  bool cancelNotifications(net::TcpSocket& socket, int*) override {
    sink_.cancelNotifications(socket);
    return true;
  }

  pop3::Pop3Account account_;
  MailSink& sink_;
  const commlog::CommLog& log_;
  pop3::Pop3Session session_;
};

class ImapSource : public MailSource, private imap::ImapHost, private imap::SocketNotifier {
 public:
  ImapSource(const config::AppSettings& settings, MailSink& sink, const commlog::CommLog& log)
      : account_(imapAccount(settings)), sink_(sink), log_(log), client_(*this, log, this) {
    if (const BearerLogin* login = sink.bearerLogin())
      client_.session().setMechanism(imap::makeSaslBearer(login->mechanism, account_.user, login->token,
                                                          account_.endpoint.server, account_.endpoint.port));
  }

  bool open() override {
    if (client_.open(account_) == 0) return true;
    sink_.onFailure();
    sink_.onSourceEnded();
    return false;
  }
  void onSocketEvent(int event) override {
    if (event == pop3::kFdRead)
      client_.onReadable();
    else if (event == pop3::kFdClose)
      client_.onClosedNotification();
  }
  void tick(uint64_t nowMs) override { client_.onIdleCheck(nowMs); }
  uint64_t nextTickMs(uint64_t nowMs) const override { return client_.nextCheckMs(nowMs); }
  void stop() override { client_.stop(); }
  bool isOpen() const override { return client_.isOpen() && !client_.session().ended(); }
  intptr_t socketHandle() const override { return const_cast<imap::ImapClient&>(client_).socket().handle(); }
  bool staysConnected() const override { return true; }
  void checkNow() override { client_.session().checkNow(); }
  void hold(bool held) override { client_.session().setHeld(held); }

 private:
  // UIDVALIDITY and UID name a message for good; its size plays no part.
  static pop3::ListedMessage listed(const imap::MailRef& mail) {
    pop3::ListedMessage m;
    m.number = static_cast<int>(mail.uid & 0x7FFFFFFF);
    m.id = std::to_string(mail.uidValidity) + "." + std::to_string(mail.uid);
    return m;
  }
  imap::MessageAnswer onMessage(const imap::MailRef& mail, const char* data, size_t length) override {
    std::string text = asPop3Text(data, length);
    return sink_.onMessage(listed(mail), text.data(), text.size()) == pop3::MessageAnswer::kDelete
               ? imap::MessageAnswer::kDelete
               : imap::MessageAnswer::kKeep;
  }
  imap::MessagePlan planMessage(const imap::MailRef& mail) override {
    switch (sink_.planMessage(listed(mail))) {
      case pop3::MessagePlan::kFetch: return imap::MessagePlan::kFetch;
      case pop3::MessagePlan::kDeleteUnfetched: return imap::MessagePlan::kDeleteUnfetched;
      default: return imap::MessagePlan::kLeave;
    }
  }
  void onBatchEnded() override { sink_.onBatchEnded(); }
  void onWaiting() override { sink_.onWaiting(); }
  void onSessionFailed(imap::ImapFailure) override { sink_.onFailure(); }
  void onSessionEnded() override { sink_.onSourceEnded(); }
  bool request(net::TcpSocket& socket, int* error) override { return sink_.requestNotifications(socket, error); }
  void cancel(net::TcpSocket& socket) override { sink_.cancelNotifications(socket); }

  imap::ImapAccount account_;
  MailSink& sink_;
  const commlog::CommLog& log_;
  imap::ImapClient client_;
};

}  // namespace

std::unique_ptr<MailSource> makeMailSource(const config::AppSettings& settings, MailSink& sink,
                                           const commlog::CommLog& log) {
  if (settings.receiveProtocol == config::kReceiveImap) return std::make_unique<ImapSource>(settings, sink, log);
  return std::make_unique<Pop3Source>(settings, sink, log);
}

}  // namespace check
