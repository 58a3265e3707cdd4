// The lines of the transmitted message: headers, the base64 text part and
// the optional attachment part.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sendlib/SendStep.h"

namespace sendlib {

extern const char kBoundary[];

struct MessageFields {
  std::string fromName;
  std::string fromAddress;
  std::string toAddress;
  std::vector<std::string> ccAddresses;
  std::string subject;
  std::string body;  // raw bytes; sent base64-encoded
  bool hasAttachment = false;
  std::string attachmentName;
  bool autoReplied = false;  // an Auto-Submitted: auto-replied line after Date
};

// Where the editions of the library differ.
struct MessageStyle {
  bool nameOnRecipients = false;  // To and Cc lines carry fromName as well
  std::string attachmentType = "image/jpeg";
};

// What varies from one message to the next besides the fields.
struct MessageStamp {
  platform::LocalTime time;
  std::string zone;  // as written in the Date line
  std::string hostName;
  uint32_t counter = 0;
};

// One line without its CR LF. The line of step AttachmentData has no text:
// it stands for the attachment data, which the sender inserts there.
struct MessageLine {
  SendStep step;
  std::string text;
};

std::vector<MessageLine> composeMessage(const MessageFields& fields, const MessageStyle& style,
                                        const MessageStamp& stamp);

// True when every byte is below 0x80.
bool isSevenBit(const std::string& text);
// A header value: the text itself when 7-bit, else one B-encoded word.
std::string headerText(const std::string& text);
std::string formatMessageId(const platform::LocalTime& t, uint32_t counter, const std::string& host);
std::string formatDate(const platform::LocalTime& t, const std::string& zone);
// The zone of the Date line: the runtime's zone name when it is a single
// 7-bit token, else the numeric offset ("+0900").
std::string dateZone(const std::string& runtimeName, int utcOffsetMinutes);

}  // namespace sendlib
