#include "sendlib/SendMail.h"

#include <ctime>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Net.h"
#include "platform/Text.h"
#include "sendlib/Attachment.h"
#include "sendlib/MessageComposer.h"
#include "sendlib/SendLog.h"
#include "sendlib/SmtpDialogue.h"

namespace sendlib {

const char kSendLogName[] = "メール送信ログ.txt";

namespace {

// The library's one session; calls must not overlap.
struct SmtpSession {
  net::TcpSocket socket;
  SendMailRequest request;
  char hostName[80];
  char attachmentName[256];
  std::string attachmentText;
  bool socketLayerStarted = false;
};

SmtpSession g_session;
// Numbers the Message-IDs of all calls while the library is loaded.
uint32_t g_messageCounter = 0;

template <size_t N>
std::string field(const char (&f)[N]) { return fieldText(f, N); }
template <size_t N>
std::string line(const char (&f)[N]) { return lineText(f, N); }

// The runtime's name of the zone now in effect (TZ when set).
std::string runtimeZoneName() {
  std::time_t now = std::time(nullptr);
  const std::tm* t = std::localtime(&now);
  char buf[64] = {};
  if (!t || std::strftime(buf, sizeof buf, "%Z", t) == 0) return std::string();
  return buf;
}

// The used entries of ccAddresses (a count outside 0 to 20 is cut to it).
std::vector<std::string> ccAddresses(const SendMailRequest& r) {
  int count = r.ccCount < 0 ? 0 : r.ccCount > 20 ? 20 : r.ccCount;
  std::vector<std::string> cc;
  for (int i = 0; i < count; ++i) cc.push_back(line(r.ccAddresses[i]));
  return cc;
}

MessageFields messageFields(const SmtpSession& s) {
  const SendMailRequest& r = s.request;
  MessageFields f;
  f.fromName = line(r.fromName);
  f.fromAddress = line(r.fromAddress);
  f.toAddress = line(r.toAddress);
  f.ccAddresses = ccAddresses(r);
  f.subject = line(r.subject);
  f.body = field(r.body);
  f.hasAttachment = r.attachmentPath[0] != '\0';
  f.attachmentName = lineText(s.attachmentName, sizeof s.attachmentName);
  return f;
}

SmtpAccount smtpAccount(const SendMailRequest& r) {
  SmtpAccount a;
  a.fromAddress = line(r.fromAddress);
  a.toAddress = line(r.toAddress);
  a.ccAddresses = ccAddresses(r);
  a.userName = field(r.userName);
  a.password = field(r.password);
  a.heloName = line(r.heloName);
  a.useAuth = r.useAuth != 0;
  return a;
}

std::vector<MessageLine> composeNext(const SmtpSession& s) {
  MessageStamp stamp;
  stamp.time = platform::localTime();
  stamp.zone = dateZone(runtimeZoneName(), platform::utcOffsetMinutes());
  stamp.hostName = s.hostName;
  stamp.counter = g_messageCounter++;
  return composeMessage(messageFields(s), MessageStyle(), stamp);
}

// Socket layer, name, socket, connection, dialogue.
SendStep runSession(SmtpSession& s, SendLog& log) {
  if (!net::startup(nullptr)) {
    log.write("Socket初期化失敗");
    return SendStep::kSocketStartup;
  }
  s.socketLayerStarted = true;
  platform::copyField(s.hostName, platform::computerName().c_str());
  uint32_t address = 0;
  if (!net::resolveHost(field(s.request.server).c_str(), &address)) {
    log.write("SMTPサーバが見つかりません");
    return SendStep::kResolve;
  }
  if (!s.socket.create()) {
    log.write("ソケットをオープンできません");
    return SendStep::kCreateSocket;
  }
  s.socket.setReceiveTimeout(kNetTimeoutMs);
  if (!s.socket.connect(address, s.request.port, kNetTimeoutMs)) {
    log.write("SMTPサーバに接続できません");
    return SendStep::kConnect;
  }
  SmtpDialogue dialogue(s.socket, log);
  OutgoingMessage message;
  message.compose = [&s] { return composeNext(s); };
  message.attachmentText = &s.attachmentText;
  return dialogue.run(smtpAccount(s.request), message);
}

void closeSession(SmtpSession& s) {
  s.socket.close();
  if (s.socketLayerStarted) net::cleanup(nullptr);
  s.socketLayerStarted = false;
  std::string().swap(s.attachmentText);
}

int runCall(SmtpSession& s, const SendMailRequest& request) {
  s.request = request;
  platform::removeFile(kSendLogName);
  AppendingSendLog log(kSendLogName, request.writeLog != 0);
  const std::string path = field(request.attachmentPath);
  platform::copyField(s.attachmentName, attachmentName(path).c_str());
  s.attachmentText.clear();
  if (!path.empty() && !prepareAttachment(path, log, &s.attachmentText)) {
    std::string().swap(s.attachmentText);
    return kStartupOrAttachmentFailed;
  }
  int code = sendryResult(runSession(s, log));
  closeSession(s);
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
  return std::string(f, platform::fieldLength(f, width));
}

std::string lineText(const char* f, size_t width) {
  std::string text = fieldText(f, width);
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

int sendMail(const SendMailRequest& request) {
  try {
    return runCall(g_session, request);
  } catch (const std::exception&) {
    // Only memory can run out here; the call fails like a broken dialogue.
    closeSession(g_session);
    return kSendFailed;
  }
}

}  // namespace sendlib
