#include "command/CommandReply.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/Text.h"

namespace command {

const char kResultSeparator[] = "------ 処理結果 ------\n";

namespace {

bool isLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The longest prefix of at most `limit` bytes that ends on a character boundary.
size_t characterPrefix(const char* text, size_t length, size_t limit) {
  size_t i = 0;
  while (i < length) {
    size_t step = isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < length ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  return i;
}

}  // namespace

void ResultText::clear() {
  std::memset(text_, 0, sizeof text_);
  length_ = 0;
}

void ResultText::start(const char* body, size_t length) {
  clear();
  if (body) {
    const void* nul = std::memchr(body, 0, length);
    if (nul) length = static_cast<size_t>(static_cast<const char*>(nul) - body);
  } else {
    length = 0;
  }
  const size_t separator = std::strlen(kResultSeparator);
  const size_t room = kResultTextSize - 1 - separator - kResultReserve;
  if (length <= room) {
    std::memcpy(text_, body, length);
    length_ = length;
  } else {
    length_ = characterPrefix(body, length, room - 1);
    std::memcpy(text_, body, length_);
    text_[length_++] = '\n';
  }
  append(kResultSeparator);
}

bool ResultText::append(const char* text) {
  size_t n = std::strlen(text);
  if (length_ + n >= kResultTextSize) return false;
  std::memcpy(text_ + length_, text, n + 1);
  length_ += n;
  return true;
}

std::string replyAddress(const char* from) {
  std::string_view text(from ? from : "");
  size_t open = text.rfind('<');
  if (open != std::string_view::npos) {
    size_t close = text.find('>', open + 1);
    if (close != std::string_view::npos) {
      std::string_view inside = platform::trimBlanks(text.substr(open + 1, close - open - 1));
      if (!inside.empty()) return std::string(inside);
    }
  }
  return std::string(platform::trimBlanks(text));
}

int32_t parseWidth(const char* argument) {
  const char* p = argument;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\v' || *p == '\f') ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

SendMailRequest buildReplyRequest(const config::AppSettings& s, const mime::MailIndexEntry& mail, const char* body,
                                  const char* attachmentPath, bool deleteAttachment,
                                  const std::string& computerName) {
  SendMailRequest r;
  std::memset(&r, 0, sizeof r);
  r.port = s.smtpPort;
  r.ccCount = 0;
  std::string server = platform::fieldText(s.smtpServer);
  platform::copyField(r.server, server.c_str());
  // Signed in with a token, the mailbox is the sender: providers refuse any
  // other envelope sender for it (and the server's name is no address).
  const std::string sender = s.sendAuth == config::kAuthOAuth ? platform::fieldText(s.accountName) : server;
  platform::copyField(r.fromAddress, sender.c_str());
  std::string from = platform::fieldText(mail.from);
  platform::copyField(r.toAddress, replyAddress(from.c_str()).c_str());
  platform::copyField(r.fromName, config::kProductName);
  std::string subject = "Re:" + platform::fieldText(mail.subject);
  platform::copyField(r.subject, subject.c_str());
  platform::copyField(r.body, body);
  platform::copyField(r.attachmentPath, attachmentPath ? attachmentPath : "");
  platform::copyField(r.userName, platform::fieldText(s.accountName).c_str());
  platform::copyField(r.password, platform::fieldText(s.password).c_str());
  std::string helo = computerName.empty() ? std::string("NO NAME CLIENT") : computerName.substr(0, 31);
  platform::copyField(r.heloName, helo.c_str());
  r.useAuth = s.smtpAuthRequired;
  r.writeLog = 1;
  r.deleteAttachment = deleteAttachment ? 1 : 0;
  if (s.loopGuard) r.flags = kSendFlagAutoReplied;
  return r;
}

SendSecurity replySecurity(const config::AppSettings& s) {
  SendSecurity security;
  std::memset(&security, 0, sizeof security);
  security.mode = s.smtpSecurity == config::kSmtpPlain       ? kSendPlain
                  : s.smtpSecurity == config::kSmtpStartTls ? kSendStartTls
                                                            : kSendTls;
  security.noVerify = s.tlsNoVerify != 0 ? 1 : 0;
  platform::copyField(security.trustFile, platform::fieldText(s.tlsTrustFile).c_str());
  return security;
}

bool replySecurityBearer(const config::AppSettings& s, const std::string& token, bool oauthBearerFirst,
                         SendSecurityBearer* record) {
  std::memset(record, 0, sizeof *record);
  if (token.empty() || token.size() >= sizeof record->bearerToken) return false;
  record->security = replySecurity(s);
  record->security.mode |= kSendAuthBearer;
  record->mechanism = oauthBearerFirst ? kSendOauthBearer : kSendXoauth2;
  std::memcpy(record->bearerToken, token.data(), token.size());
  return true;
}

}  // namespace command
