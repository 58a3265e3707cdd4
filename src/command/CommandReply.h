// The reply to a command mail: its body (the result text) and its
// parameter record for EM_SendMail.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/AppSettings.h"
#include "mime/MailIndexEntry.h"
#include "sendlib/SendMailRequest.h"
#include "sendlib/SendSecurity.h"

namespace command {

constexpr size_t kResultTextSize = 10240;
// Room kept for the separator and the result lines when a long body is cut.
constexpr size_t kResultReserve = 2048;
extern const char kResultSeparator[];  // "------ 処理結果 ------\n"

// The reply body being built: always NUL-terminated within its 10240 bytes.
class ResultText {
 public:
  ResultText() { clear(); }
  void clear();
  // Starts the text with the mail's body (up to its first NUL) and the
  // separator line. A body that would leave less than kResultReserve bytes
  // for the results is cut at a character boundary and ended with a line end.
  void start(const char* body, size_t length);
  // Appends `text` only when it fits whole with the terminating NUL;
  // otherwise drops it. True when appended.
  bool append(const char* text);

  const char* text() const { return text_; }
  size_t length() const { return length_; }

 private:
  char text_[kResultTextSize];
  size_t length_ = 0;
};

// The address to reply to: the text inside the last pair of angle brackets
// when the From text has one, else the From text without surrounding blanks.
std::string replyAddress(const char* from);

// The decimal value of a width argument: leading blanks, an optional sign,
// digits up to the first non-digit; 0 without digits; held within 32 bits.
int32_t parseWidth(const char* argument);

// The record of one reply to `mail`.
SendMailRequest buildReplyRequest(const config::AppSettings& settings, const mime::MailIndexEntry& mail,
                                  const char* body, const char* attachmentPath, bool deleteAttachment,
                                  const std::string& computerName);

// The security record of the reply from the SMTP settings. A mode the
// program does not know is sent as TLS from the first byte, never in plain.
SendSecurity replySecurity(const config::AppSettings& s);

// The same with an OAuth 2.0 access token for SMTP AUTH; false when the
// token does not fit the record.
bool replySecurityBearer(const config::AppSettings& s, const std::string& token, bool oauthBearerFirst,
                         SendSecurityBearer* record);

}  // namespace command
