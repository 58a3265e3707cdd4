// Body text, part headers and attachments of a stored mail.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "mime/Decoders.h"
#include "mime/HeaderText.h"
#include "mime/MimeMessage.h"
#include "platform/Base64.h"
#include "platform/File.h"
#include "platform/Hooks.h"
#include "platform/SafeFileName.h"
#include "platform/Text.h"

namespace mime {
namespace {

constexpr size_t kHeaderBlockMax = 197;
constexpr size_t kTempFolderMax = 260;

// Where a part's header ends and its body begins; false when the header
// has no end. A part that starts with its empty line has an empty header.
bool findHeaderEnd(const char* text, size_t length, size_t* headerLength, size_t* bodyStart) {
  std::string_view view(text, length);
  if (view.size() >= 2 && view[0] == '\r' && view[1] == '\n') {
    *headerLength = 0;
    *bodyStart = 2;
    return true;
  }
  size_t at = view.find("\r\n\r\n");
  if (at == std::string_view::npos) return false;
  *headerLength = at;
  *bodyStart = at + 4;
  return true;
}

// The header block of a single-part mail at `at`: at most 197 bytes, up to
// a CR LF that is followed by "." or CR.
std::string_view headerBlock(const char* mail, size_t mailLength, int32_t at) {
  if (at <= 0 || static_cast<size_t>(at) >= mailLength) return {};
  size_t start = static_cast<size_t>(at);
  size_t limit = std::min(mailLength, start + kHeaderBlockMax);
  size_t end = limit;
  for (size_t k = start; k < limit; ++k) {
    if (mail[k] == '\r' && k + 2 < mailLength && mail[k + 1] == '\n' && (mail[k + 2] == '.' || mail[k + 2] == '\r')) {
      end = k;
      break;
    }
  }
  return std::string_view(mail + start, end - start);
}

// Reads `length` bytes of the log; null on a failed allocation (`*noMemory`)
// or read.
std::unique_ptr<char[]> readLog(MailLogReader& log, int64_t length, int64_t position, bool* noMemory) {
  if (length < 0 || position < 0 || length > INT32_MAX - 1 || position > INT32_MAX) return nullptr;
  int64_t size = log.logSize();
  if (size >= 0 && position + length > size) return nullptr;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[static_cast<size_t>(length) + 1]);
  if (!buffer) {
    *noMemory = true;
    return nullptr;
  }
  if (!log.readFromLog(buffer.get(), static_cast<int32_t>(length), static_cast<int32_t>(position))) return nullptr;
  buffer[static_cast<size_t>(length)] = 0;
  return buffer;
}

}  // namespace

int32_t decodeTransfer(char* data, int32_t length, TransferEncodingCode encoding, CharsetCode charset) {
  if (length < 0) return 0;
  data[length] = 0;
  size_t n = static_cast<size_t>(length);
  bool jis = charset == kCharsetIso2022Jp;
  bool encoded = encoding == kEncodingBase64 || encoding == kEncodingQuotedPrintable;
  if (jis && encoded) {
    // The dot-stuffing belongs to the received text, not to what it encodes.
    size_t w = 0;
    char previous = 0;
    for (size_t r = n >= 2 && data[0] == '.' && data[1] == '.' ? 1 : 0; r < n && data[r]; ++r) {
      char c = data[r];
      if (!(c == '.' && previous == '\n')) data[w++] = c;
      previous = c;
    }
    data[w] = 0;
    n = w;
  }
  if (encoding == kEncodingBase64) {
    size_t decoded = 0;
    bool valid = platform::base64DecodeBody(data, n, &decoded);
    n = decoded;  // an undecodable text stays, without its white space
    if (valid) data[n] = 0;
  } else if (encoding == kEncodingQuotedPrintable) {
    const void* nul = std::memchr(data, 0, n);  // the text ends at a NUL
    if (nul) n = static_cast<size_t>(static_cast<const char*>(nul) - data);
    n = quotedPrintableDecode(data, n);
  }
  if (jis) {
    if (encoded) {
      n = jisTextToShiftJis(data, n);
    } else {
      n = jisBodyToShiftJis(data);
    }
  }
  return static_cast<int32_t>(n);
}

void MimeMessage::setBody(const char* text, size_t length) {
  try {
    body.assign(text, strnlen(text, length));
  } catch (const std::bad_alloc&) {
    body.clear();
  }
  bodyLength = static_cast<int32_t>(body.size());
}

PartInfo MimeMessage::parsePartHeader(const char* header, size_t length) {
  PartInfo info;
  attachmentName[0] = 0;
  std::string normal = normaliseHeader(header, length, HeaderRule::kPartHeader);
  size_t ct = normal.find("CONTENT-TYPE:");
  if (ct != std::string::npos) {
    ContentTypeInfo type = classifyContentType(normal.data() + ct, normal.size() - ct);
    info.type = type.type;
    info.charset = type.charset;
    std::memcpy(info.subtype, type.subtype, sizeof info.subtype);
  }
  size_t cte = normal.find("CONTENT-TRANSFER-ENCODING:");
  info.encoding = cte != std::string::npos ? classifyTransferEncoding(normal.data() + cte, normal.size() - cte)
                                           : kEncodingOther;
  if (normal.find("FILENAME=") == std::string::npos) return info;

  std::string names = normaliseHeader(header, length, HeaderRule::kFileName);
  size_t at = names.find("FILENAME=");
  if (at == std::string::npos) return info;
  std::string name;
  if (at + 9 < names.size() && names[at + 9] == '"') {
    size_t start = at + 10;
    if (start >= names.size() || names[start] == '"') return info;  // an empty name
    size_t close = names.find('"', start + 1);
    if (close == std::string::npos) return info;
    name = names.substr(start, close - start);
  } else {
    // Unquoted: as received (case kept), up to ";" or the end of the line.
    size_t src = sourceIndex(header, length, HeaderRule::kFileName, at + 9);
    for (size_t i = src; i < length && header[i] != ';' && header[i] != '\r' && header[i] != '\n'; ++i)
      if (header[i] != ' ') name.push_back(header[i]);
  }
  if (name.size() > 255) name.resize(255);
  std::string unquoted;
  for (char c : name)
    if (c != '"') unquoted.push_back(c);
  decodeEncodedWords(unquoted, sizeof attachmentName);
  size_t nul = unquoted.find('\0');
  if (nul != std::string::npos) unquoted.resize(nul);
  removeUnsafeNameBytes(unquoted);
  platform::copyField(attachmentName, sizeof attachmentName, unquoted.data(), unquoted.size());
  return info;
}

void MimeMessage::showSinglePartBody(char* mail, int32_t mailLength) {
  body.clear();
  bodyLength = 0;
  int64_t start = static_cast<int64_t>(headerLength) + 2;
  if (mailLength <= 0 || headerLength < 0 || start >= mailLength) return;
  char* text = mail + start;
  int32_t length = static_cast<int32_t>(mailLength - start);
  if (contentTypeAt == 0) {
    setBody(text, static_cast<size_t>(length));
    return;
  }
  size_t size = static_cast<size_t>(mailLength);
  std::string_view ctBlock = headerBlock(mail, size, contentTypeAt);
  std::string ct = normaliseHeader(ctBlock.data(), ctBlock.size(), HeaderRule::kPartHeader);
  ContentTypeInfo type = classifyContentType(ct.data(), ct.size());
  TransferEncodingCode encoding = kEncodingOther;
  if (transferEncodingAt != 0) {
    std::string_view cteBlock = headerBlock(mail, size, transferEncodingAt);
    std::string cte = normaliseHeader(cteBlock.data(), cteBlock.size(), HeaderRule::kTransferEncoding);
    encoding = classifyTransferEncoding(cte.data(), cte.size());
  }
  int32_t n = decodeTransfer(text, length, encoding, type.charset);
  setBody(text, static_cast<size_t>(n));
}

void MimeMessage::showFirstPart(char* text, int32_t length) {
  body.clear();
  bodyLength = 0;
  if (length <= 0) return;
  size_t headerEnd = 0;
  size_t bodyStart = 0;
  if (!findHeaderEnd(text, static_cast<size_t>(length), &headerEnd, &bodyStart)) return;
  PartInfo part = parsePartHeader(text, headerEnd);
  int32_t n = decodeTransfer(text + bodyStart, length - static_cast<int32_t>(bodyStart), part.encoding, part.charset);
  setBody(text + bodyStart, static_cast<size_t>(n));
}

void MimeMessage::buildAttachmentList(const char* text, int32_t length, int32_t position, int32_t count) {
  attachments.clear();
  if (length < 2 || text[0] != '-' || text[1] != '-') return;
  std::string_view all(text, static_cast<size_t>(length));
  size_t eol = all.find("\r\n");
  if (eol == std::string_view::npos || eol == 2) return;
  std::string delimiter(all.substr(0, eol));  // "--" and the boundary
  int unnamed = 1;
  size_t cursor = eol + 2;
  for (int32_t i = 0; i < count && cursor < all.size(); ++i) {
    size_t headerEnd = 0;
    size_t bodyStart = 0;
    if (!findHeaderEnd(all.data() + cursor, all.size() - cursor, &headerEnd, &bodyStart)) break;
    PartInfo part = parsePartHeader(all.data() + cursor, headerEnd);
    bodyStart += cursor;

    AttachmentEntry entry;
    entry.number = static_cast<int32_t>(attachments.size());
    // A name of dots and blanks only leaves nothing on Windows: unnamed.
    std::string name = platform::safeFileName(attachmentName);
    if (name.empty()) {
      char generated[64];
      if (part.subtype[0]) std::snprintf(generated, sizeof generated, "添付(%d).%s", unnamed, part.subtype);
      else std::snprintf(generated, sizeof generated, "添付(%d).TXT", unnamed);
      name = generated;
      removeUnsafeNameBytes(name);
      name = platform::safeFileName(name);
      ++unnamed;
    }
    platform::copyField(entry.fileName, sizeof entry.fileName, name.data(), name.size());

    // The part ends at the "--" of the next delimiter line.
    size_t next = bodyStart;
    for (;;) {
      next = all.find(delimiter, next);
      if (next == std::string_view::npos || next == bodyStart || all[next - 1] == '\n') break;
      ++next;
    }
    size_t partEnd = next == std::string_view::npos ? all.size() : next;
    int64_t absolute = static_cast<int64_t>(position) + static_cast<int64_t>(bodyStart);
    entry.position = absolute > INT32_MAX ? INT32_MAX : static_cast<int32_t>(absolute);
    entry.length = static_cast<int32_t>(partEnd - bodyStart);
    entry.contentType = part.type;
    entry.transferEncoding = part.encoding;
    entry.charset = part.charset;
    attachments.push_back(entry);
    if (onAttachmentFound) onAttachmentFound(attachments.back());

    if (next == std::string_view::npos) break;
    size_t after = next + delimiter.size();
    if (all.substr(after, 2) == "--") break;  // the closing delimiter
    size_t lineEnd = all.find('\n', after);
    if (lineEnd == std::string_view::npos) break;
    cursor = lineEnd + 1;
  }
}

int MimeMessage::saveAttachment(int32_t number, MailLogReader& log, std::string* outPath) {
  try {
    std::string folder = platform::tempFolder();
    if (folder.empty() || folder.size() > kTempFolderMax) return 0;
    const AttachmentEntry* entry = nullptr;
    for (const AttachmentEntry& a : attachments)
      if (a.number == number) entry = &a;
    if (!entry || entry->length < 0) return 0;
    std::string path = folder + entry->fileName;
    bool noMemory = false;
    std::unique_ptr<char[]> data = readLog(log, entry->length, entry->position, &noMemory);
    if (!data) return 0;
    int32_t n = decodeTransfer(data.get(), entry->length, entry->transferEncoding, entry->charset);
    FILE* file = platform::openFile(path.c_str(), "wb");
    if (!file) return 0;
    bool written = std::fwrite(data.get(), 1, static_cast<size_t>(n), file) == static_cast<size_t>(n);
    if (std::fclose(file) != 0) written = false;
    if (!written) return 0;
    if (outPath) *outPath = path;
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

CharsetCode MimeMessage::bodyCharset(const char* text, size_t size) const {
  try {
    if (partCount > 0) {
      if (firstPartStart <= 0 || static_cast<size_t>(firstPartStart) >= size) return kCharsetNone;
      size_t headerEnd = 0;
      size_t bodyStart = 0;
      const char* part = text + firstPartStart;
      if (!findHeaderEnd(part, size - static_cast<size_t>(firstPartStart), &headerEnd, &bodyStart))
        return kCharsetNone;
      std::string normal = normaliseHeader(part, headerEnd, HeaderRule::kPartHeader);
      size_t ct = normal.find("CONTENT-TYPE:");
      if (ct == std::string::npos) return kCharsetNone;
      return classifyContentType(normal.data() + ct, normal.size() - ct).charset;
    }
    if (contentTypeAt <= 0 || contentTypeAt >= headerLength || static_cast<size_t>(headerLength) > size)
      return kCharsetNone;
    std::string block = normaliseHeader(text + contentTypeAt, static_cast<size_t>(headerLength - contentTypeAt),
                                        HeaderRule::kTransferEncoding);
    // The transfer-encoding rule also drops quotes; charset names have none.
    size_t at = block.find("CHARSET=");
    if (at == std::string::npos) return kCharsetNone;
    return lookupCharset(block.data() + at + 8, block.size() - at - 8);
  } catch (const std::bad_alloc&) {
    return kCharsetNone;
  }
}

PreviewResult MimeMessage::showMail(const MailIndexEntry& selected, MailLogReader& log) {
  try {
    static_cast<MailIndexEntry&>(*this) = selected;
    body.clear();
    bodyLength = 0;
    attachments.clear();
    bool noMemory = false;
    if (partCount > 0) {
      // A first part without a following delimiter runs to the end of the mail.
      int64_t partEnd = firstPartEnd > firstPartStart ? firstPartEnd : mailEnd;
      int64_t readLength = partEnd - firstPartStart - 1;
      if (firstPartStart > 0 && readLength > 0) {
        std::unique_ptr<char[]> part =
            readLog(log, readLength, static_cast<int64_t>(logOffset) + firstPartStart, &noMemory);
        if (noMemory) return PreviewResult::kOutOfMemory;
        if (part) showFirstPart(part.get(), static_cast<int32_t>(readLength - 1));
      }
      if (partCount == 1) return PreviewResult::kBody;
      if (firstPartEnd > 0 && mailEnd > firstPartEnd) {
        int64_t restLength = static_cast<int64_t>(mailEnd) - firstPartEnd;
        int64_t restPosition = static_cast<int64_t>(logOffset) + firstPartEnd;
        std::unique_ptr<char[]> rest = readLog(log, restLength, restPosition, &noMemory);
        if (noMemory) return PreviewResult::kOutOfMemory;
        if (rest && restPosition <= INT32_MAX)
          buildAttachmentList(rest.get(), static_cast<int32_t>(restLength), static_cast<int32_t>(restPosition),
                              partCount - 1);
      }
      return PreviewResult::kBodyWithAttachments;
    }
    if (static_cast<int64_t>(mailEnd) - headerLength - 2 <= 0 || headerLength < 0) return PreviewResult::kEmpty;
    std::unique_ptr<char[]> mail = readLog(log, mailEnd, logOffset, &noMemory);
    if (noMemory) return PreviewResult::kOutOfMemory;
    if (!mail) return PreviewResult::kEmpty;
    showSinglePartBody(mail.get(), mailEnd);
    return PreviewResult::kBody;
  } catch (const std::bad_alloc&) {
    body.clear();
    bodyLength = 0;
    return PreviewResult::kOutOfMemory;
  }
}

}  // namespace mime
