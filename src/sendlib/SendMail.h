// One call of EM_SendMail. Both editions of the library take their record
// apart into a SendJob and run the same session; Sendry's record, result
// codes and send log are here, Postrix's in sendlib/image/.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Net.h"
#include "sendlib/MessageComposer.h"
#include "sendlib/SendLog.h"
#include "sendlib/SendMailRequest.h"
#include "sendlib/SendSecurity.h"
#include "sendlib/SendStep.h"
#include "sendlib/SmtpDialogue.h"

namespace sendlib {

// Result codes of Sendry's EM_SendMail.
enum SendResult : int {
  kSent = 0,
  kStartupOrAttachmentFailed = 1,
  kServerNotFound = 2,
  kNoSocket = 3,
  kSendFailed = 4,
};

// Sendry's send log in the current directory (Shift_JIS name).
extern const char kSendLogName[];
// Connect and receive time-out.
constexpr int kNetTimeoutMs = 60000;

SendResult sendryResult(SendStep failed);

// The text of a fixed-width field (up to its NUL or its width).
std::string fieldText(const char* field, size_t width);
// The same, fit for one protocol or header line: CR and LF become blanks.
std::string lineText(const char* field, size_t width);
template <size_t N>
std::string fieldText(const char (&f)[N]) { return fieldText(f, N); }
template <size_t N>
std::string lineText(const char (&f)[N]) { return lineText(f, N); }

struct TlsSettings {
  int32_t mode = kSendPlain;
  bool verify = true;
  std::string trustFile;
  std::string bearerToken;  // from a SendSecurityBearer
  oauth::SaslMechanism mechanism = oauth::SaslMechanism::kXoauth2;
};

// The security record taken apart; false for a mode that does not exist.
bool tlsSettings(const SendSecurity* security, TlsSettings* settings);

// Everything one call sends.
struct SendJob;
// The security record into the job: TLS, and AUTH with an access token
// when the record carries one. False for a record that is not valid.
bool securityOf(const SendSecurity* security, SendJob* job);

struct SendJob {
  TlsSettings tls;
  std::string server;
  uint16_t port = 0;
  SmtpAccount account;
  MessageFields fields;
  MessageStyle style;
  std::string attachmentText;  // base64, without line breaks
};

// The fields both records share, by name. A ccCount outside 0 to 20 is cut
// to that range.
template <typename Record>
SendJob commonJob(const Record& r) {
  SendJob job;
  job.server = fieldText(r.server);
  job.port = r.port;
  const int count = r.ccCount < 0 ? 0 : r.ccCount > 20 ? 20 : r.ccCount;
  for (int i = 0; i < count; ++i) job.account.ccAddresses.push_back(lineText(r.ccAddresses[i]));
  job.account.fromAddress = lineText(r.fromAddress);
  job.account.toAddress = lineText(r.toAddress);
  job.account.userName = fieldText(r.userName);
  job.account.password = fieldText(r.password);
  job.account.heloName = lineText(r.heloName);
  job.account.useAuth = r.useAuth != 0;
  job.fields.fromName = lineText(r.fromName);
  job.fields.fromAddress = job.account.fromAddress;
  job.fields.toAddress = job.account.toAddress;
  job.fields.ccAddresses = job.account.ccAddresses;
  job.fields.subject = lineText(r.subject);
  job.fields.body = fieldText(r.body);
  return job;
}

// The dialogue over a connected stream; the Message-ID names `hostName`.
SendStep runDialogue(net::Stream& stream, const SendJob& job, const std::string& hostName, SendLog& log,
                     const StartTls& startTls = nullptr);

// Starts the socket layer, resolves, connects and runs the dialogue; the
// socket is closed and the socket layer released before it returns.
SendStep runSession(const SendJob& job, SendLog& log);

// Runs a call; memory running out ends it with `failed`.
template <typename Call>
int guardedCall(Call call, int failed) {
  try {
    return call();
  } catch (const std::exception&) {
    return failed;
  }
}

int sendMail(const SendMailRequest& request);
int sendMailSecure(const SendMailRequest& request, const SendSecurity* security);

}  // namespace sendlib
