// The SMTP dialogue over a connected stream: greeting, HELO or EHLO with
// CRAM-MD5, LOGIN or PLAIN, the envelope, the message and QUIT.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "oauth/Sasl.h"
#include "platform/Net.h"
#include "sendlib/MessageComposer.h"
#include "sendlib/SendLog.h"
#include "sendlib/SendStep.h"

namespace sendlib {

struct SmtpAccount {
  std::string fromAddress;
  std::string toAddress;
  std::vector<std::string> ccAddresses;
  std::string userName;
  std::string password;
  std::string heloName;
  bool useAuth = false;
  // Not empty: AUTH with this OAuth 2.0 access token (XOAUTH2 or
  // OAUTHBEARER, `mechanism` when the server offers both) instead of the password.
  std::string bearerToken;
  oauth::SaslMechanism mechanism = oauth::SaslMechanism::kXoauth2;
  std::string serverHost;  // named in OAUTHBEARER
  uint16_t serverPort = 0;
};

struct OutgoingMessage {
  // Called once the server has accepted DATA.
  std::function<std::vector<MessageLine>()> compose;
  const std::string* attachmentText = nullptr;
  // Attachment data in lines of this many characters; 0 sends it as one
  // line (the next message line ends it).
  size_t attachmentLineLength = 76;
};

// Secures the connection after the server's 220 to STARTTLS: runs the
// handshake and returns the stream to go on with, or nullptr (logged).
using StartTls = std::function<net::Stream*()>;

class SmtpDialogue {
 public:
  SmtpDialogue(net::Stream& stream, SendLog& log) : stream_(&stream), log_(log) {}

  // Runs the whole dialogue; returns SendStep::kNone when the message was
  // accepted and QUIT answered, else the step that failed. With startTls,
  // EHLO and STARTTLS come first and nothing else goes out unsecured;
  // EHLO is sent again over TLS and only that answer counts.
  SendStep run(const SmtpAccount& account, const OutgoingMessage& message,
               const StartTls& startTls = nullptr);

  // The four steps every exchange is built from.
  // `logged` replaces the text in the send log (lines that carry the password).
  bool commandStep(const std::string& text, const char* logged = nullptr);
  bool argumentStep(const char* prefix, const std::string& argument);
  bool lineStep(const std::string& text);
  bool receiveStep();

  // The latest reply without its final CR LF (all lines of a multi-line reply).
  const std::string& reply() const { return reply_; }
  // The number formed by the reply's first three characters.
  int replyCode() const;
  // The reply begins with "25".
  bool accepted() const;

 private:
  bool authenticate(const SmtpAccount& account);
  bool authCramMd5(const SmtpAccount& account);
  bool authLogin(const SmtpAccount& account);
  bool authPlain(const SmtpAccount& account);
  bool authBearer(const SmtpAccount& account);
  bool refuseAuthentication();
  bool sendAttachmentData(const std::string& text, size_t lineLength);
  SendStep secure(const SmtpAccount& account, const StartTls& startTls);

  net::Stream* stream_;
  SendLog& log_;
  std::string reply_;
};

}  // namespace sendlib
