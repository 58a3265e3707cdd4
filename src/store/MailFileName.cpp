#include <cstdio>
#include <cstring>
#include <string>

#include "platform/SafeFileName.h"
#include "platform/Sjis.h"
#include "platform/Text.h"
#include "store/MailStore.h"

namespace store {
namespace {

// Characters a Windows file name cannot hold, besides control characters.
bool isForbidden(unsigned char c) { return c < 0x20 || std::strchr("\"*/:<>?\\|", c) != nullptr; }

}  // namespace

std::string mailFileName(const mime::MailIndexEntry& entry) { return mailFileName(entry, platform::localTime()); }

std::string mailFileName(const mime::MailIndexEntry& entry, const platform::LocalTime& now) {
  const char* text = entry.subject;
  size_t length = platform::fieldLength(entry.subject, sizeof entry.subject);
  if (length == 0) {
    text = entry.from;
    length = platform::fieldLength(entry.from, sizeof entry.from);
  }
  char digits[40];
  if (length == 0) {
    std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d%03d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second, now.milliseconds);
    return digits;
  }
  if (length > 80) length = 80;
  // Double-byte characters stay whole (their second byte may be "\" or "|"),
  // and one cut at the 80th byte is dropped.
  std::string name;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (platform::isSjisLeadByte(c)) {
      if (i + 1 < length) {
        name += text[i];
        name += text[++i];
      }
    } else if (!isForbidden(c)) {
      name += text[i];
    }
  }
  std::snprintf(digits, sizeof digits, "(%02d%02d%02d%03d)", now.hour, now.minute, now.second, now.milliseconds);
  return platform::safeFileName(name + digits);
}

}  // namespace store
