#include "sendlib/MessageComposer.h"

#include <cstdio>

#include "platform/Base64.h"

namespace sendlib {

const char kBoundary[] = "=_NextPart_000_0012_01BD91FB.9AC284E0";

namespace {

const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The texts are Shift_JIS as the caller gives them; they are labelled as
// such whenever they hold more than ASCII.
const char kWordCharset[] = "Shift_JIS";
const char kSevenBitCharset[] = "iso-2022-jp";
const char kEightBitCharset[] = "shift_jis";

const size_t kMaxLineLength = 998;
const size_t kFoldedLineLength = 76;

std::string addressLine(const char* header, const std::string& name, const std::string& address) {
  return std::string(header) + ":" + headerText(name) + "<" + address + ">";
}

std::string quotedParameter(const char* prefix, const std::string& value) {
  return std::string(prefix) + "=\"" + value + "\"";
}

}  // namespace

bool isSevenBit(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

std::string headerText(const std::string& text) {
  if (isSevenBit(text)) return text;
  return std::string("=?") + kWordCharset + "?B?" + platform::base64Encode(text) + "?=";
}

std::string formatMessageId(const platform::LocalTime& t, uint32_t counter, const std::string& host) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d.%lu@", t.month, t.day, t.year - 1900,
                t.hour, t.minute, t.second, static_cast<unsigned long>(counter));
  return "Message-ID: <" + std::string(buf) + host + ">";
}

std::string formatDate(const platform::LocalTime& t, const std::string& zone) {
  const char* day = t.dayOfWeek >= 0 && t.dayOfWeek < 7 ? kDayNames[t.dayOfWeek] : "Sun";
  const char* month = t.month >= 1 && t.month <= 12 ? kMonthNames[t.month - 1] : "Jan";
  char buf[96];
  std::snprintf(buf, sizeof buf, "Date: %s, %02d %s %02d %02d:%02d:%02d ", day, t.day, month,
                t.year % 100, t.hour, t.minute, t.second);
  return buf + zone;
}

std::string dateZone(const std::string& runtimeName, int utcOffsetMinutes) {
  bool token = !runtimeName.empty() && runtimeName.size() <= 16;
  for (char c : runtimeName) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '+' || c == '-';
    token = token && ok;
  }
  if (token) return runtimeName;
  int m = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%c%02d%02d", utcOffsetMinutes < 0 ? '-' : '+', m / 60 % 100,
                m % 60);
  return buf;
}

std::vector<MessageLine> composeMessage(const MessageFields& f, const MessageStyle& style,
                                        const MessageStamp& stamp) {
  const std::string boundary = std::string("--") + kBoundary;
  const std::string& recipientName = style.nameOnRecipients ? f.fromName : std::string();
  std::vector<MessageLine> lines;
  lines.push_back({SendStep::kXMailer, "X-Mailer: TORVANEX Express"});
  lines.push_back({SendStep::kMimeVersion, "MIME-Version: 1.0"});
  lines.push_back({SendStep::kFromLine, addressLine("From", f.fromName, f.fromAddress)});
  lines.push_back({SendStep::kToLine, addressLine("To", recipientName, f.toAddress)});
  for (const std::string& cc : f.ccAddresses)
    lines.push_back({SendStep::kCcLine, addressLine("Cc", recipientName, cc)});
  lines.push_back({SendStep::kSubjectLine, "Subject:" + headerText(f.subject)});
  lines.push_back({SendStep::kMessageIdLine, formatMessageId(stamp.time, stamp.counter, stamp.hostName)});
  lines.push_back({SendStep::kDateLine, formatDate(stamp.time, stamp.zone)});
  // A failure on it counts as one on the Date line: the step numbers are result codes.
  if (f.autoReplied) lines.push_back({SendStep::kDateLine, "Auto-Submitted: auto-replied"});
  if (f.hasAttachment) {
    lines.push_back({SendStep::kMultipartType, "Content-Type: multipart/mixed;"});
    lines.push_back({SendStep::kBoundaryParameter, quotedParameter("  boundary", kBoundary)});
    lines.push_back({SendStep::kEmptyAfterHeaders, ""});
    lines.push_back({SendStep::kFirstBoundary, boundary});
  }
  lines.push_back({SendStep::kTextType, std::string("Content-Type: text/plain; charset=") +
                                           (isSevenBit(f.body) ? kSevenBitCharset : kEightBitCharset)});
  lines.push_back({SendStep::kTextEncoding, "Content-Transfer-Encoding: base64"});
  lines.push_back({SendStep::kEmptyBeforeBody, ""});
  // One line, unless that would pass SMTP's limit of 1000 octets per line;
  // then lines of 76 characters as in the attachment.
  std::string body = platform::base64Encode(f.body);
  if (body.size() <= kMaxLineLength) {
    lines.push_back({SendStep::kBodyLine, body});
  } else {
    for (size_t at = 0; at < body.size(); at += kFoldedLineLength)
      lines.push_back({SendStep::kBodyLine, body.substr(at, kFoldedLineLength)});
  }
  lines.push_back({SendStep::kEmptyAfterBody, ""});
  if (f.hasAttachment) {
    lines.push_back({SendStep::kSecondBoundary, boundary});
    lines.push_back({SendStep::kAttachmentType,
                     quotedParameter(("Content-Type: " + style.attachmentType + "; Name").c_str(),
                                     f.attachmentName)});
    lines.push_back({SendStep::kAttachmentEncoding, "Content-Transfer-Encoding: Base64"});
    lines.push_back({SendStep::kAttachmentDisposition,
                     quotedParameter("Content-Disposition: attachment; filename", f.attachmentName)});
    lines.push_back({SendStep::kEmptyBeforeData, ""});
    lines.push_back({SendStep::kAttachmentData, ""});
  }
  lines.push_back({SendStep::kEmptyAfterData, ""});
  if (f.hasAttachment) lines.push_back({SendStep::kClosingBoundary, boundary + "--"});
  return lines;
}

}  // namespace sendlib
