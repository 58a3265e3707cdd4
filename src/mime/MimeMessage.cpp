#include "mime/MimeMessage.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "mime/Decoders.h"
#include "mime/HeaderText.h"
#include "platform/Base64.h"
#include "platform/Text.h"

namespace mime {
namespace {

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
inline char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
// Letters without case, and "_" the same as "-" (charset names are written both ways).
inline char fold(char c) { return c == '_' ? '-' : upper(c); }

bool hasPrefix(const char* line, size_t length, const char* name, size_t nameLength) {
  if (length < nameLength) return false;
  for (size_t i = 0; i < nameLength; ++i)
    if (upper(line[i]) != name[i]) return false;
  return true;
}

// Next occurrence of an encoded-word prefix at or after `from`.
size_t findPrefix(const std::string& value, const char* prefix, size_t from) {
  size_t n = std::strlen(prefix);
  for (size_t i = from; i + n <= value.size(); ++i) {
    if (value[i] != '=') continue;
    size_t k = 1;
    while (k < n && fold(value[i + k]) == prefix[k]) ++k;
    if (k == n) return i;
  }
  return std::string::npos;
}

// Converts ISO-2022-JP bytes in single-byte mode; the result ends at the
// first NUL (an invalid pair ends it there).
std::string jisText(const char* data, size_t length) {
  std::string out(length + 1, '\0');
  int mode = 0;
  size_t n = jisToShiftJis(data, length, &out[0], &mode);
  out.resize(n);
  size_t nul = out.find('\0');
  if (nul != std::string::npos) out.resize(nul);
  return out;
}

void cutAtNul(std::string& text) {
  size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
}

void removeLeadingBlanks(std::string& text) {
  size_t i = text.find_first_not_of(" \t");
  text.erase(0, i == std::string::npos ? text.size() : i);
}

// B-words with this prefix decode in place; one that is not valid base64
// stays as received and the search goes on after it.
void decodeBWords(std::string& value, const char* prefix) {
  size_t prefixLength = std::strlen(prefix);
  size_t from = 0;
  for (;;) {
    size_t at = findPrefix(value, prefix, from);
    if (at == std::string::npos) return;
    size_t textStart = at + prefixLength;
    size_t close = value.find("?=", textStart);
    size_t textEnd = close == std::string::npos ? value.size() : close;
    size_t wordEnd = close == std::string::npos ? value.size() : close + 2;
    std::string encoded = value.substr(textStart, textEnd - textStart);
    encoded.push_back('\0');
    size_t decoded = 0;
    if (!platform::base64DecodeChecked(&encoded[0], textEnd - textStart, &decoded)) {
      from = wordEnd;
      continue;
    }
    std::string text = jisText(encoded.data(), decoded);
    value.replace(at, wordEnd - at, text);
    from = at + text.size();
  }
}

// Bare ISO-2022-JP text: each run from ESC "$B" through ESC "(B" (or to the
// end) becomes Shift_JIS.
void decodeRawJis(std::string& value) {
  size_t from = 0;
  for (;;) {
    size_t at = value.find("\x1B$B", from);
    if (at == std::string::npos) return;
    size_t back = value.find("\x1B(B", at);
    size_t end = back == std::string::npos ? value.size() : back + 3;
    std::string text = jisText(value.data() + at, end - at);
    value.replace(at, end - at, text);
    from = at + text.size();
  }
}

struct FieldName {
  const char* name;
  int kind;
};
// Compared by prefix in this order; the first match decides.
const FieldName kFieldNames[] = {
    {"FROM:", kFieldFrom},
    {"TO:", kFieldTo},
    {"SUBJECT:", kFieldSubject},
    {"DATE:", kFieldDate},
    {"CONTENT-TYPE:", kFieldContentType},
    {"CONTENT-TRANSFER-ENCODING", kFieldTransferEncoding},
    {"MIME-VERSION:", -1},
    {"X-PRIORITY:", -2},
    {"X-MAILER:", -3},
    {"X-SENDER:", -4},
};

int32_t readDecimal(const char* text, size_t length) {
  size_t i = 0;
  while (i < length && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

}  // namespace

MimeMessage::MimeMessage() : MailIndexEntry() {
  std::memset(attachmentName, 0, sizeof attachmentName);
  std::memset(contentType, 0, sizeof contentType);
  std::memset(boundary, 0, sizeof boundary);
}

void MimeMessage::beginParse(int32_t logOffset, int32_t mailNumber) {
  MailIndexEntry& e = *this;
  std::memset(&e, 0, sizeof e);
  e.mailNumber = mailNumber;
  e.logOffset = logOffset;
  contentType[0] = 0;
  boundary[0] = 0;
  boundaryLength_ = 0;
  boundarySeen = 0;
  headerCharset = 0;
  body.clear();
  bodyLength = 0;
  offset_ = 0;
  inHeader_ = true;
  ended_ = false;
  stopped_ = false;
  pending_ = kFieldNone;
  pendingValue_.clear();
  partial_.clear();
  partialLength_ = 0;
}

size_t MimeMessage::feed(const char* data, size_t size) {
  size_t pos = 0;
  while (pos < size && !ended_) {
    const char* lf = static_cast<const char*>(std::memchr(data + pos, '\n', size - pos));
    size_t end = lf ? static_cast<size_t>(lf - data) + 1 : size;
    size_t n = end - pos;
    // Body lines are only ever compared at their start: keep no more of them.
    size_t keep = inHeader_ ? n : std::min(n, boundaryLength_ + 4 > partial_.size() ? boundaryLength_ + 4 - partial_.size() : 0);
    if (!lf) {
      partial_.append(data + pos, inHeader_ ? n : keep);
      partialLength_ += n;
      pos = end;
      break;
    }
    if (partialLength_ == 0) {
      processLine(data + pos, n, n);
    } else {
      partial_.append(data + pos, inHeader_ ? n : keep);
      partialLength_ += n;
      processLine(partial_.data(), partialLength_, partial_.size());
      partial_.clear();
      partialLength_ = 0;
    }
    pos = end;
  }
  return pos;
}

void MimeMessage::endParse() {
  if (partialLength_ > 0 && !ended_) processLine(partial_.data(), partialLength_, partial_.size());
  partial_.clear();
  partialLength_ = 0;
  if (inHeader_ && pending_ != kFieldNone) {
    finishField(pending_);
    pending_ = kFieldNone;
  }
}

void MimeMessage::parseMail(const char* text, size_t size, int32_t logOffset, int32_t mailNumber) {
  try {
    beginParse(logOffset, mailNumber);
    feed(text, size);
    endParse();
  } catch (const std::bad_alloc&) {
    pending_ = kFieldNone;  // what was parsed so far stays
  }
}

void MimeMessage::processLine(const char* line, size_t length, size_t available) {
  if (stopped_) return;
  if (length > static_cast<size_t>(INT32_MAX - offset_)) {
    stopped_ = true;  // beyond what 32-bit offsets can say: the text ends here
    return;
  }
  if (inHeader_) {
    if (length == 2 && line[0] == '\r' && line[1] == '\n') {
      if (pending_ != kFieldNone) finishField(pending_);
      pending_ = kFieldNone;
      headerLength = offset_;
      offset_ += 2;
      inHeader_ = false;
      return;
    }
    size_t n = length;
    if (n > 0 && line[n - 1] == '\n') --n;
    if (n > 0 && line[n - 1] == '\r') --n;
    if (!isBlank(line[0])) {
      if (pending_ != kFieldNone) finishField(pending_);
      pending_ = recogniseField(line, n, offset_);
    } else if (pending_ != kFieldNone) {
      appendContinuation(pending_, line, n);
    }
    offset_ += static_cast<int32_t>(length);
    return;
  }

  if (length == 3 && line[0] == '.' && line[1] == '\r' && line[2] == '\n') {
    mailEnd = offset_;
    ended_ = true;
    return;
  }
  if (boundaryLength_ > 0 && available >= boundaryLength_ + 2 && line[0] == '-' && line[1] == '-' &&
      std::memcmp(line + 2, boundary, boundaryLength_) == 0) {
    size_t after = boundaryLength_ + 2;
    bool closing = available >= after + 2 && line[after] == '-' && line[after + 1] == '-';
    if (!closing) {
      ++partCount;
      ++boundarySeen;
      if (boundarySeen == 1) firstPartStart = offset_ + static_cast<int32_t>(length);
      else if (boundarySeen == 2 && firstPartEnd == 0) firstPartEnd = offset_;
    } else if (firstPartEnd == 0) {
      firstPartEnd = offset_;
    }
  }
  offset_ += static_cast<int32_t>(length);
}

int MimeMessage::recogniseField(const char* line, size_t length, int32_t lineOffset) {
  for (const FieldName& field : kFieldNames) {
    size_t nameLength = std::strlen(field.name);
    if (!hasPrefix(line, length, field.name, nameLength)) continue;
    size_t v = nameLength;
    while (v + 1 < length && line[v] == ' ') ++v;
    const char* value = line + v;
    size_t valueLength = length - v;
    switch (field.kind) {
      case kFieldContentType:
        contentTypeAt = lineOffset;
        [[fallthrough]];
      case kFieldFrom:
      case kFieldTo:
      case kFieldSubject:
      case kFieldDate:
        pendingValue_.assign(value, valueLength);
        return field.kind;
      case kFieldTransferEncoding:
        transferEncodingAt = lineOffset;
        pendingValue_.clear();
        return field.kind;
      case -1:
        mimeVersionAt = lineOffset;
        return kFieldNone;
      case -2:
        priority = readDecimal(line + nameLength, length - nameLength);
        return kFieldNone;
      case -3:
        platform::copyField(mailer, sizeof mailer, value, valueLength);
        return kFieldNone;
      case -4:
        platform::copyField(sender, sizeof sender, value, valueLength);
        return kFieldNone;
    }
  }
  return kFieldNone;
}

void MimeMessage::appendContinuation(int kind, const char* line, size_t length) {
  if (kind < kFieldFrom || kind > kFieldContentType) return;
  size_t i = 0;
  while (i < length && isBlank(line[i])) ++i;
  pendingValue_.append(line + i, length - i);
}

void MimeMessage::finishField(int kind) {
  std::string& value = pendingValue_;
  cutAtNul(value);
  switch (kind) {
    case kFieldFrom:
    case kFieldTo:
    case kFieldSubject: {
      char* field = kind == kFieldFrom ? from : kind == kFieldTo ? to : subject;
      size_t width = kind == kFieldSubject ? sizeof subject : sizeof from;
      removeLeadingBlanks(value);
      decodeEncodedWords(value, width);
      if (value.size() > width - 1) {
        value.resize(width - 3);
        value += "..";
      }
      platform::copyField(field, width, value.data(), value.size());
      break;
    }
    case kFieldDate:
      removeLeadingBlanks(value);
      platform::copyField(date, sizeof date, value.data(), value.size());
      break;
    case kFieldContentType: {
      std::string normal = normaliseHeader(value.data(), value.size(), HeaderRule::kContentType);
      boundary[0] = 0;
      boundaryLength_ = 0;
      size_t at = normal.find("MULTIPART/") == std::string::npos || normal.size() <= 10
                      ? std::string::npos
                      : normal.find("BOUNDARY=", 10);
      if (at != std::string::npos) {
        // Taken from the value as received: a quoted boundary keeps its
        // blanks and case; an unquoted one its case, up to ";".
        size_t src = sourceIndex(value.data(), value.size(), HeaderRule::kContentType, at + 9);
        std::string text;
        if (src < value.size() && value[src] == '"') {
          size_t close = value.find('"', src + 1);
          text = value.substr(src + 1, (close == std::string::npos ? value.size() : close) - src - 1);
        } else if (src < value.size()) {
          size_t semi = value.find(';', src);
          for (size_t i = src; i < (semi == std::string::npos ? value.size() : semi); ++i)
            if (value[i] != ' ' && value[i] != '\r' && value[i] != '\n') text.push_back(value[i]);
        }
        platform::copyField(boundary, sizeof boundary, text.data(), text.size());
        boundaryLength_ = std::strlen(boundary);
      }
      platform::copyField(contentType, sizeof contentType, normal.data(), normal.size());
      break;
    }
    default:
      break;
  }
  value.clear();
}

void MimeMessage::decodeEncodedWords(std::string& value, size_t width) {
  size_t start = value.find("=?");
  if (start == std::string::npos) return;
  CharsetCode code = lookupCharset(value.data() + start + 2, value.size() - start - 2);
  headerCharset = code;
  switch (code) {
    case kCharsetIso2022Jp:
      decodeBWords(value, "=?ISO-2022-JP?B?");
      decodeRawJis(value);
      break;
    case kCharsetShiftJis:
      decodeBWords(value, "=?SHIFT-JIS?B?");
      decodeRawJis(value);
      break;
    case kCharsetUtf8: {
      decodeBWords(value, "=?UTF-8?B?");
      decodeRawJis(value);
      value = utf8ToShiftJis(value.data(), value.size());
      if (width > 0 && value.size() > width - 1) value.resize(width - 1);
      break;
    }
    default:
      break;
  }
  if (value.size() >= 2 && value[value.size() - 2] == '\r' && value.back() == '\n') value.resize(value.size() - 2);
}

}  // namespace mime
