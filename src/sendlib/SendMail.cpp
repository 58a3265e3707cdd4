#include "sendlib/SendMail.h"

#include <ctime>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Net.h"
#include "platform/Text.h"
#include "platform/Tls.h"
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

// Releases the socket layer when the session ends, however it ends.
class SocketLayer {
 public:
  bool start() { return started_ = net::startup(nullptr); }
  ~SocketLayer() {
    if (started_) net::cleanup(nullptr);
  }

 private:
  bool started_ = false;
};

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
  SocketLayer layer;
  if (!layer.start()) {
    log.write("Socket初期化失敗");
    return SendStep::kSocketStartup;
  }
  std::string hostName = net::hostName();
  if (hostName.size() >= kHostNameWidth) hostName.resize(kHostNameWidth - 1);
  hostName = lineText(hostName.c_str(), hostName.size());
  uint32_t address = 0;
  if (!net::resolveHost(job.server.c_str(), &address)) {
    log.write("SMTPサーバが見つかりません");
    return SendStep::kResolve;
  }
  net::TcpSocket socket;
  if (!socket.create()) {
    log.write("ソケットをオープンできません");
    return SendStep::kCreateSocket;
  }
  socket.setReceiveTimeout(kNetTimeoutMs);
  if (!socket.connect(address, job.port, kNetTimeoutMs)) {
    log.write("SMTPサーバに接続できません");
    return SendStep::kConnect;
  }
  if (job.tls.mode == kSendPlain) return runDialogue(socket, job, hostName, log);

  net::TlsOptions options;
  options.hostName = job.server;
  options.verify = job.tls.verify;
  options.trustFile = job.tls.trustFile;
  if (!options.verify) log.write(net::kTlsNoVerifyWarning);
  net::TlsStream tls(socket);
  auto handshake = [&]() -> net::Stream* {
    if (tls.handshake(options, kNetTimeoutMs)) {
      log.write(net::tlsConnectedLine(tls));
      return &tls;
    }
    log.write(net::tlsFailureLine(tls));
    return nullptr;
  };
  SendStep result;
  if (job.tls.mode == kSendTls) {
    result = handshake() ? runDialogue(tls, job, hostName, log) : SendStep::kTlsHandshake;
  } else {
    result = runDialogue(socket, job, hostName, log, handshake);
  }
  tls.close();
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
