#include "sendlib/SmtpDialogue.h"

#include "platform/Base64.h"
#include "sendlib/Md5.h"

namespace sendlib {
namespace {

const size_t kReceiveSize = 1024;
// A reply that goes on longer than this is not an SMTP reply.
const size_t kMaxReply = 64 * 1024;
// Attachment data lines are gathered into sends of about this size.
const size_t kDataChunk = 64 * 1024;
// Pieces of attachment data sent as one line.
const size_t kLinePiece = 1000;
// The send log never holds the password, not even in base64.
const char kHiddenPassword[] = "********";
const char kHiddenPlain[] = "AUTH PLAIN ********";

// The data ends with the last line of a reply: a line ending in LF whose
// fourth character is not "-".
bool replyComplete(const std::string& data) {
  if (data.empty() || data.back() != '\n') return false;
  size_t end = data.size() - 1;
  size_t previous = end == 0 ? std::string::npos : data.rfind('\n', end - 1);
  size_t start = previous == std::string::npos ? 0 : previous + 1;
  return end - start < 4 || data[start + 3] != '-';
}

std::string plainCredentials(const SmtpAccount& a, bool twoIdentities) {
  std::string s;
  if (twoIdentities) s += a.userName + '\0';
  s += a.userName + '\0' + a.password;
  return "AUTH PLAIN " + platform::base64Encode(s);
}

}  // namespace

int SmtpDialogue::replyCode() const {
  int code = 0;
  for (size_t i = 0; i < 3 && i < reply_.size() && reply_[i] >= '0' && reply_[i] <= '9'; ++i)
    code = code * 10 + (reply_[i] - '0');
  return code;
}

bool SmtpDialogue::accepted() const { return reply_.compare(0, 2, "25") == 0; }

bool SmtpDialogue::receiveStep() {
  std::string data;
  char buf[kReceiveSize];
  while (!replyComplete(data)) {
    int n = stream_->receive(buf, sizeof buf);
    if (n < 0) {
      log_.write("SOCKET_ERRORで失敗");
      return false;
    }
    if (n == 0) break;  // closed: what arrived is the reply
    data.append(buf, static_cast<size_t>(n));
    if (data.size() > kMaxReply) {
      log_.write("応答なし");
      return false;
    }
  }
  if (data.size() < 2) {
    log_.write("応答なし");
    return false;
  }
  reply_.assign(data, 0, data.size() - 2);
  log_.write(reply_);
  return true;
}

bool SmtpDialogue::commandStep(const std::string& text, const char* logged) {
  if (logged)
    log_.write(logged);
  else
    log_.write(text);
  std::string line = text + "\r\n";
  if (!stream_->sendAll(line.data(), static_cast<int>(line.size()))) return false;
  return receiveStep();
}

bool SmtpDialogue::argumentStep(const char* prefix, const std::string& argument) {
  std::string line = prefix + argument + "\r\n";
  log_.write(line);
  if (!stream_->sendAll(line.data(), static_cast<int>(line.size()))) return false;
  return receiveStep();
}

bool SmtpDialogue::lineStep(const std::string& text) {
  std::string line = text + "\r\n";
  bool sent = stream_->sendAll(line.data(), static_cast<int>(line.size()));
  log_.write(line);
  if (!sent) log_.write("メッセージ送信失敗");
  return sent;
}

bool SmtpDialogue::sendAttachmentData(const std::string& text, size_t lineLength) {
  bool sent = true;
  if (lineLength == 0) {
    for (size_t at = 0; sent && at < text.size(); at += kLinePiece) {
      size_t n = text.size() - at < kLinePiece ? text.size() - at : kLinePiece;
      sent = stream_->sendAll(text.data() + at, static_cast<int>(n));
    }
  } else {
    // Lines of lineLength characters and CR LF, gathered into larger sends.
    std::string chunk;
    chunk.reserve(kDataChunk + lineLength + 2);
    for (size_t at = 0; sent && at < text.size(); at += lineLength) {
      chunk.append(text, at, lineLength);
      chunk += "\r\n";
      if (chunk.size() >= kDataChunk || at + lineLength >= text.size()) {
        sent = stream_->sendAll(chunk.data(), static_cast<int>(chunk.size()));
        chunk.clear();
      }
    }
  }
  if (!sent) log_.write("メッセージ送信失敗");
  return sent;
}

bool SmtpDialogue::refuseAuthentication() {
  log_.write("認証失敗");
  commandStep("QUIT");
  return false;
}

bool SmtpDialogue::authCramMd5(const SmtpAccount& a) {
  if (!commandStep("AUTH CRAM-MD5")) return false;
  std::string challenge =
      reply_.size() > 4 ? platform::base64DecodeLeading(reply_.data() + 4, reply_.size() - 4) : std::string();
  challenge.resize(challenge.find('\0') == std::string::npos ? challenge.size()
                                                             : challenge.find('\0'));
  Md5Digest digest =
      hmacMd5(a.password.data(), a.password.size(), challenge.data(), challenge.size());
  if (!commandStep(platform::base64Encode(a.userName + " " + toHex(digest)))) return false;
  return replyCode() == 235 || refuseAuthentication();
}

bool SmtpDialogue::authLogin(const SmtpAccount& a) {
  return commandStep("AUTH LOGIN") && replyCode() == 334 &&
         commandStep(platform::base64Encode(a.userName)) && replyCode() == 334 &&
         commandStep(platform::base64Encode(a.password), kHiddenPassword) && replyCode() == 235;
}

bool SmtpDialogue::authPlain(const SmtpAccount& a) {
  if (!commandStep(plainCredentials(a, true), kHiddenPlain)) return false;
  if (replyCode() == 235) return true;
  if (replyCode() == 535) {
    // Some servers want the form without the authorization identity.
    if (!commandStep(plainCredentials(a, false), kHiddenPlain)) return false;
    if (replyCode() == 235) return true;
  }
  return refuseAuthentication();
}

bool SmtpDialogue::authBearer(const SmtpAccount& a) {
  oauth::SaslMechanism mechanism;
  if (!oauth::chooseMechanism(reply_, a.mechanism, &mechanism)) {
    log_.write("サーバがOAuth認証(XOAUTH2/OAUTHBEARER)に対応していません。");
    return false;
  }
  const std::string name = oauth::mechanismName(mechanism);
  const std::string response =
      oauth::saslInitialResponse(mechanism, a.userName, a.bearerToken, a.serverHost, a.serverPort);
  if (!commandStep("AUTH " + name + " " + response, ("AUTH " + name + " ********").c_str())) return false;
  if (replyCode() == 235) return true;
  if (replyCode() == 334) {
    // An error challenge: the answer that ends the exchange, then the failure.
    std::string status = oauth::challengeStatus(reply_.size() > 4 ? reply_.substr(4) : std::string());
    log_.write("OAuth認証エラー (status " + (status.empty() ? std::string("?") : status) + ")");
    if (!commandStep(oauth::saslErrorResponse(mechanism))) return false;
  }
  log_.write("OAuth認証に失敗しました (アクセストークンが無効か期限切れです)");
  return refuseAuthentication();
}

bool SmtpDialogue::authenticate(const SmtpAccount& a) {
  if (!a.bearerToken.empty()) return authBearer(a);
  if (reply_.find("CRAM-MD5") != std::string::npos) return authCramMd5(a);
  if (reply_.find("LOGIN") != std::string::npos) return authLogin(a);
  if (reply_.find("PLAIN") != std::string::npos) return authPlain(a);
  log_.write("使用できる認証形式(CRAM-MD5/LOGIN/PLAIN)がサーバに用意されていません。");
  return false;
}

SendStep SmtpDialogue::secure(const SmtpAccount& a, const StartTls& startTls) {
  if (!commandStep("EHLO " + a.heloName) || !accepted()) return SendStep::kHello;
  if (reply_.find("STARTTLS") == std::string::npos) {
    log_.write("サーバがSTARTTLSに対応していません (STARTTLS not offered)");
    return SendStep::kStartTls;
  }
  if (!commandStep("STARTTLS")) return SendStep::kStartTls;
  if (replyCode() != 220) {
    log_.write("STARTTLSが拒否されました (STARTTLS refused)");
    return SendStep::kStartTls;
  }
  // Lines that came with the 220 were sent before the handshake: they are
  // no answer of the secured session and are dropped with the reply.
  size_t lf = reply_.find('\n');
  if (lf != std::string::npos)
    log_.write("STARTTLS応答の後の平文データ" + std::to_string(reply_.size() - lf + 1) + "バイトを破棄しました");
  net::Stream* secured = startTls();
  if (!secured) return SendStep::kTlsHandshake;
  stream_ = secured;
  reply_.clear();
  return SendStep::kNone;
}

SendStep SmtpDialogue::run(const SmtpAccount& a, const OutgoingMessage& message, const StartTls& startTls) {
  if (!receiveStep()) return SendStep::kGreeting;
  if (startTls) {
    SendStep failed = secure(a, startTls);
    if (failed != SendStep::kNone) return failed;
    // Over TLS the server is greeted again with EHLO; its new answer alone
    // names the authentication methods.
    if (!commandStep("EHLO " + a.heloName)) return SendStep::kHello;
    if (a.useAuth ? !authenticate(a) : !accepted()) return SendStep::kHello;
  } else if (a.useAuth) {
    if (!commandStep("EHLO " + a.heloName) || !authenticate(a)) return SendStep::kHello;
  } else {
    if (!commandStep("HELO " + a.heloName) || !accepted()) return SendStep::kHello;
  }
  if (!argumentStep("Mail From: ", a.fromAddress)) return SendStep::kMailFrom;
  if (!accepted()) return SendStep::kMailFromRefused;
  if (!argumentStep("RCPT To: ", a.toAddress)) return SendStep::kFirstRecipient;
  if (!accepted()) return SendStep::kFirstRecipientRefused;
  // A refused further recipient does not stop the send.
  for (const std::string& cc : a.ccAddresses)
    if (!argumentStep("RCPT To: ", cc)) return SendStep::kFurtherRecipient;
  // The message goes only after the server has invited it (354).
  if (!commandStep("DATA") || reply_.compare(0, 1, "3") != 0) return SendStep::kData;
  for (const MessageLine& line : message.compose()) {
    bool sent = line.step != SendStep::kAttachmentData ? lineStep(line.text)
                : message.attachmentText
                    ? sendAttachmentData(*message.attachmentText, message.attachmentLineLength)
                    : true;
    if (!sent) return line.step;
  }
  // The message counts as sent only when the server accepts it.
  if (!commandStep(".") || !accepted()) return SendStep::kEndOfData;
  if (!commandStep("QUIT")) return SendStep::kQuit;
  return SendStep::kNone;
}

}  // namespace sendlib
