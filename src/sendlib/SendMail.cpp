#include "sendlib/SendMail.h"

#include <ctime>

#include "platform/Clock.h"
#include "platform/Connection.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "sendlib/Attachment.h"

namespace sendlib {

const char kSendLogName[] = "メール送信ログ.txt";

namespace {

// Numbers the Message-IDs of all calls while the library is loaded.
uint32_t g_messageCounter = 0;
// The Message-ID's host name holds at most this many bytes.
const size_t kHostNameWidth = 80;

// The runtime's name of the zone now in effect (TZ when set).
std::string runtimeZoneName() {
  std::time_t now = std::time(nullptr);
  const std::tm* t = std::localtime(&now);
  char buf[64] = {};
  if (!t || std::strftime(buf, sizeof buf, "%Z", t) == 0) return std::string();
  return buf;
}

std::vector<MessageLine> composeNext(const SendJob& job, const std::string& hostName) {
  MessageStamp stamp;
  stamp.time = platform::localTime();
  stamp.zone = dateZone(runtimeZoneName(), platform::utcOffsetMinutes());
  stamp.hostName = hostName;
  stamp.counter = g_messageCounter++;
  return composeMessage(job.fields, job.style, stamp);
}

}  // namespace

SendStep runDialogue(net::Stream& stream, const SendJob& job, const std::string& hostName, SendLog& log,
                     const StartTls& startTls) {
  SmtpDialogue dialogue(stream, log);
  OutgoingMessage message;
  message.compose = [&job, &hostName] { return composeNext(job, hostName); };
  message.attachmentText = job.fields.hasAttachment ? &job.attachmentText : nullptr;
  return dialogue.run(job.account, message, startTls);
}

SendStep runSession(const SendJob& job, SendLog& log) {
  net::Connection connection;
  switch (connection.connect(job.server, job.port, kNetTimeoutMs, kNetTimeoutMs)) {
    case net::ConnectFailure::kNone:
      break;
    case net::ConnectFailure::kStartup:
      log.write("Socket初期化失敗");
      return SendStep::kSocketStartup;
    case net::ConnectFailure::kResolve:
      log.write("SMTPサーバが見つかりません");
      return SendStep::kResolve;
    case net::ConnectFailure::kSocket:
    case net::ConnectFailure::kTimeoutSet:
      log.write("ソケットをオープンできません");
      return SendStep::kCreateSocket;
    case net::ConnectFailure::kConnect:
      log.write("SMTPサーバに接続できません");
      return SendStep::kConnect;
  }
  std::string hostName = net::hostName();
  if (hostName.size() >= kHostNameWidth) hostName.resize(kHostNameWidth - 1);
  hostName = lineText(hostName.c_str(), hostName.size());
  if (job.tls.mode == kSendPlain) {
    SendStep result = runDialogue(connection.stream(), job, hostName, log);
    connection.close();
    return result;
  }

  net::Endpoint endpoint;
  endpoint.server = job.server;
  endpoint.port = job.port;
  endpoint.verifyCertificate = job.tls.verify;
  endpoint.trustFile = job.tls.trustFile;
  if (!endpoint.verifyCertificate) log.write(net::kTlsNoVerifyWarning);
  auto handshake = [&]() -> net::Stream* {
    if (connection.startTls(endpoint, kNetTimeoutMs, false)) {
      log.write(net::tlsConnectedLine(*connection.tls()));
      return &connection.stream();
    }
    log.write(net::tlsFailureLine(*connection.failedTls()));
    return nullptr;
  };
  SendStep result;
  if (job.tls.mode == kSendTls) {
    result = handshake() ? runDialogue(connection.stream(), job, hostName, log) : SendStep::kTlsHandshake;
  } else {
    result = runDialogue(connection.stream(), job, hostName, log, handshake);
  }
  connection.close();  // close_notify under TLS
  return result;
}

namespace {

int sendryCall(const SendMailRequest& request, const SendSecurity* security) {
  platform::removeFile(kSendLogName);
  AppendingSendLog log(kSendLogName, request.writeLog != 0);
  SendJob job = commonJob(request);
  if (!securityOf(security, &job)) {
    log.write("TLS設定が不正です (unknown security mode)");
    log.write("送信終了コード:  " + std::to_string(kSendFailed));
    return kSendFailed;
  }
  const std::string path = fieldText(request.attachmentPath);
  const std::string name = attachmentName(path);
  job.fields.hasAttachment = !path.empty();
  job.fields.attachmentName = lineText(name.c_str(), name.size());
  job.fields.autoReplied = (request.flags & kSendFlagAutoReplied) != 0;
  if (!path.empty() && !prepareAttachment(path, log, &job.attachmentText))
    return kStartupOrAttachmentFailed;
  int code = sendryResult(runSession(job, log));
  std::string().swap(job.attachmentText);
  if (!path.empty() && request.deleteAttachment) platform::removeFile(path.c_str());
  log.write("送信終了コード:  " + std::to_string(code));
  return code;
}

}  // namespace

SendResult sendryResult(SendStep failed) {
  switch (failed) {
    case SendStep::kNone: return kSent;
    case SendStep::kAttachment:
    case SendStep::kSocketStartup: return kStartupOrAttachmentFailed;
    case SendStep::kResolve: return kServerNotFound;
    case SendStep::kCreateSocket: return kNoSocket;
    default: return kSendFailed;
  }
}

std::string fieldText(const char* f, size_t width) {
  return platform::fieldText(f, width);
}

std::string lineText(const char* f, size_t width) {
  std::string text = fieldText(f, width);
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

bool tlsSettings(const SendSecurity* security, TlsSettings* settings) {
  *settings = TlsSettings();
  if (!security) return true;
  const int32_t mode = security->mode & ~kSendAuthBearer;
  if (mode < kSendPlain || mode > kSendTls) return false;
  settings->mode = mode;
  settings->verify = security->noVerify == 0;
  settings->trustFile = fieldText(security->trustFile);
  if (security->mode & kSendAuthBearer) {
    const auto* bearer = reinterpret_cast<const SendSecurityBearer*>(security);
    if (bearer->mechanism != kSendXoauth2 && bearer->mechanism != kSendOauthBearer) return false;
    settings->bearerToken = lineText(bearer->bearerToken);
    if (settings->bearerToken.empty()) return false;
    settings->mechanism =
        bearer->mechanism == kSendOauthBearer ? oauth::SaslMechanism::kOauthBearer : oauth::SaslMechanism::kXoauth2;
  }
  return true;
}

bool securityOf(const SendSecurity* security, SendJob* job) {
  if (!tlsSettings(security, &job->tls)) return false;
  if (!job->tls.bearerToken.empty()) {
    job->account.useAuth = true;
    job->account.bearerToken = job->tls.bearerToken;
    job->account.mechanism = job->tls.mechanism;
    job->account.serverHost = job->server;
    job->account.serverPort = job->port;
  }
  return true;
}

int sendMail(const SendMailRequest& request) {
  return guardedCall([&request] { return sendryCall(request, nullptr); }, kSendFailed);
}

int sendMailSecure(const SendMailRequest& request, const SendSecurity* security) {
  return guardedCall([&request, security] { return sendryCall(request, security); }, kSendFailed);
}

}  // namespace sendlib
