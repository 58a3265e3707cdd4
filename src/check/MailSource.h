// The seam between a mail check and the protocol it receives by: a mail
// source (POP3 or IMAP) is opened, fed socket events and the clock, and
// stopped; it tells a sink of each message and of the end of each batch.
// A POP3 session ends with its one batch; an IMAP session may stay
// connected and deliver batch after batch.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "commlog/CommLog.h"
#include "config/AppSettings.h"
#include "oauth/Sasl.h"
#include "platform/Connection.h"
#include "platform/Net.h"
#include "pop3/Pop3Session.h"

namespace check {

// An OAuth 2.0 login: the access token and the SASL mechanism preferred.
struct BearerLogin {
  std::string token;
  oauth::SaslMechanism mechanism = oauth::SaslMechanism::kXoauth2;
};

// The decisions on each message are the mailbox check's (MailboxCheck):
// the sink hears them in POP3's terms; an IMAP message is listed by its
// UID, with "UIDVALIDITY.UID" as its lasting id.
class MailSink {
 public:
  virtual ~MailSink() = default;
  virtual pop3::MessagePlan planMessage(const pop3::ListedMessage& message) = 0;
  // A whole message as POP3 delivers it (dot-stuffed, ending CR LF "." CR LF).
  virtual pop3::MessageAnswer onMessage(const pop3::ListedMessage& message, const char* data, size_t length) = 0;
  virtual void onUnreceivable(const pop3::ListedMessage& message, uint64_t received) = 0;
  virtual bool wantsHeaderIds() const = 0;
  virtual std::string headerId(const char* header, size_t length) = 0;
  virtual void onMailboxDone(const std::vector<pop3::ListedMessage>& listing, bool withIds) = 0;
  // Every message so far has been handed on.
  virtual void onBatchEnded() = 0;
  // The source waits for new mail (connected, idle).
  virtual void onWaiting() {}
  virtual void onFailure() = 0;
  // The connection is closed; once per open().
  virtual void onSourceEnded() = 0;
  virtual int newMailCount() const = 0;
  // The OAuth login of the session to open (null: the password).
  virtual const BearerLogin* bearerLogin() const { return nullptr; }
  virtual bool requestNotifications(net::TcpSocket& socket, int* error) = 0;
  virtual void cancelNotifications(net::TcpSocket& socket) = 0;
};

class MailSource {
 public:
  virtual ~MailSource() = default;
  // Connects and logs in on notifications; false when it could not start
  // (logged; the sink has heard of the failure and of the end).
  virtual bool open() = 0;
  // A socket notification (pop3::kFdRead, kFdClose, …).
  virtual void onSocketEvent(int event) = 0;
  // The clock: the silence limit, and for a source that stays connected
  // the IDLE re-issue and the NOOP poll.
  virtual void tick(uint64_t nowMs) = 0;
  // When tick() next has work (0: none): by default each second while open.
  virtual uint64_t nextTickMs(uint64_t nowMs) const { return isOpen() ? nowMs + net::kSilenceCheckMs : 0; }
  // Ends the session (logging out where it can).
  virtual void stop() = 0;
  virtual bool isOpen() const = 0;
  // The socket the notifications name (-1: none).
  virtual intptr_t socketHandle() const = 0;
  // A source that stays connected after a batch (push).
  virtual bool staysConnected() const { return false; }
  // A connected source: look for new mail now (the check's timer, the menu).
  virtual void checkNow() {}
  // While held, new mail is noted and fetched only when released.
  virtual void hold(bool held) { (void)held; }
};

// The source the settings name: POP3 (receiveProtocol 0) or IMAP (1).
std::unique_ptr<MailSource> makeMailSource(const config::AppSettings& settings, MailSink& sink,
                                           const commlog::CommLog& log);

}  // namespace check
