// One call of EM_SendMail: attachment, session, clean-up and the send log.
#pragma once
#include <cstddef>
#include <string>

#include "sendlib/SendMailRequest.h"
#include "sendlib/SendStep.h"

namespace sendlib {

// Result codes of EM_SendMail.
enum SendResult : int {
  kSent = 0,
  kStartupOrAttachmentFailed = 1,
  kServerNotFound = 2,
  kNoSocket = 3,
  kSendFailed = 4,
};

// The send log in the current directory (Shift_JIS name).
extern const char kSendLogName[];
// Connect and receive time-out.
constexpr int kNetTimeoutMs = 60000;

SendResult sendryResult(SendStep failed);

// The text of a fixed-width field (up to its NUL or its width).
std::string fieldText(const char* field, size_t width);
// The same, fit for one protocol or header line: CR and LF become blanks.
std::string lineText(const char* field, size_t width);

int sendMail(const SendMailRequest& request);

}  // namespace sendlib
