#include "check/MailSource.h"

#include "check/MailCheck.h"
#include "imap/ImapClient.h"
#include "platform/Text.h"

namespace check {
namespace {

class Pop3Source : public MailSource, private pop3::Pop3Host {
 public:
  Pop3Source(const config::AppSettings& settings, MailSink& sink, const commlog::CommLog& log)
      : account_(pop3Account(settings)),
        sink_(sink),
        log_(log),
        wantsUniqueIds_(settings.replayGuard && settings.keepOnServer),
        session_(*this, log) {}

  bool open() override {
    if (session_.open(account_) == 0) return true;
    sink_.onFailure();
    log_.logLine("メール受信前初期化でエラー");
    session_.abort();
    return false;
  }
  void onSocketEvent(int event) override { session_.onSocketEvent(event); }
  void tick(uint64_t nowMs) override { session_.onIdleCheck(nowMs); }
  // A POP3 check is short: it runs to its end.
  void stop() override {}
  bool isOpen() const override { return session_.isOpen(); }
  int unreceivableCount() const override { return session_.unreceivableCount(); }

 private:
  pop3::MessageAnswer onMessageComplete(const char* data, size_t length) override {
    return sink_.onMessage(data, length, session_.currentUniqueId());
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
  bool wantsUniqueIds() const override { return wantsUniqueIds_; }

  pop3::Pop3Account account_;
  MailSink& sink_;
  const commlog::CommLog& log_;
  bool wantsUniqueIds_;
  pop3::Pop3Session session_;
};

class ImapSource : public MailSource, private imap::ImapHost, private imap::SocketNotifier {
 public:
  ImapSource(const config::AppSettings& settings, MailSink& sink, const commlog::CommLog& log)
      : account_(imapAccount(settings)), sink_(sink), log_(log), client_(*this, log, this) {}

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
  void stop() override { client_.stop(); }
  bool isOpen() const override { return client_.isOpen() && !client_.session().ended(); }
  bool staysConnected() const override { return true; }
  void checkNow() override { client_.session().checkNow(); }
  void hold(bool held) override { client_.session().setHeld(held); }

 private:
  static std::string idOf(const imap::MailRef& mail) {
    return std::to_string(mail.uidValidity) + "." + std::to_string(mail.uid);
  }
  imap::MessageAnswer onMessage(const imap::MailRef& mail, const char* data, size_t length) override {
    std::string text = asPop3Text(data, length);
    return sink_.onMessage(text.data(), text.size(), idOf(mail)) == pop3::MessageAnswer::kDelete
               ? imap::MessageAnswer::kDelete
               : imap::MessageAnswer::kKeep;
  }
  bool isKnown(const imap::MailRef& mail) override { return sink_.isKnown(idOf(mail)); }
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
