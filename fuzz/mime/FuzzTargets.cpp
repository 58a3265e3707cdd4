#include "FuzzTargets.h"

#include <cstring>
#include <string>
#include <vector>

#include "mime/Charset.h"
#include "mime/Decoders.h"
#include "mime/MailLogReader.h"
#include "mime/MimeMessage.h"

namespace mimefuzz {
namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// An exact-size heap copy, so that any read past the input is caught.
std::vector<char> copyOf(const uint8_t* data, size_t size, size_t extra = 0) {
  std::vector<char> v(size + extra);
  if (size) std::memcpy(v.data(), data, size);
  return v;
}

void showAll(mime::MimeMessage& m, const mime::MailIndexEntry& entry, mime::MailLogReader& log) {
  m.onAttachmentFound = [](const mime::AttachmentEntry& a) { check(a.length >= 0); };
  mime::PreviewResult shown = m.showMail(entry, log);
  check(shown != mime::PreviewResult::kOutOfMemory);
  check(m.bodyLength == static_cast<int32_t>(m.body.size()));
  for (const mime::AttachmentEntry& a : m.attachments) {
    std::vector<char> part(static_cast<size_t>(a.length) + 1);
    if (log.readFromLog(part.data(), a.length, a.position)) {
      int32_t n = mime::decodeTransfer(part.data(), a.length, a.transferEncoding, a.charset);
      check(n >= 0 && n <= a.length);
    }
  }
}

}  // namespace

void parseAndShow(const uint8_t* data, size_t size) {
  std::vector<char> text = copyOf(data, size);
  mime::MimeMessage m;
  m.parseMail(text.data(), text.size(), 0, 0);
  check(m.mailEnd == 0 || (m.mailEnd > m.headerLength && static_cast<size_t>(m.mailEnd) + 3 <= size));
  check(std::memchr(m.subject, 0, sizeof m.subject) && std::memchr(m.from, 0, sizeof m.from));
  m.bodyCharset(text.data(), text.size());

  // The same mail fed in two pieces gives the same record.
  mime::MimeMessage pieces;
  pieces.beginParse(0, 0);
  size_t cut = size ? data[0] % (size + 1) : 0;
  size_t used = pieces.feed(text.data(), cut);
  if (!pieces.mailEnded()) used += pieces.feed(text.data() + cut, size - cut);
  pieces.endParse();
  check(std::memcmp(&pieces.entry(), &m.entry(), sizeof(mime::MailIndexEntry)) == 0);
  check(!pieces.mailEnded() || used == static_cast<size_t>(m.mailEnd) + 3);

  mime::MemoryLogReader log(std::string(text.data(), text.size()));
  mime::MailIndexEntry entry = m.entry();
  showAll(m, entry, log);
}

void showRecord(const uint8_t* data, size_t size) {
  mime::MailIndexEntry entry;
  if (size < sizeof entry) return;
  std::memcpy(&entry, data, sizeof entry);
  mime::MemoryLogReader log(std::string(reinterpret_cast<const char*>(data) + sizeof entry, size - sizeof entry));
  mime::MimeMessage m;
  showAll(m, entry, log);
}

void decoders(const uint8_t* data, size_t size) {
  if (size == 0) return;
  // First byte: which transfer encoding and charset decodeTransfer gets.
  int encoding = 2 + data[0] % 6;
  mime::CharsetCode charset = data[0] & 0x80 ? mime::kCharsetIso2022Jp : mime::kCharsetUtf8;
  ++data;
  --size;

  std::vector<char> buffer = copyOf(data, size, 1);
  int32_t n = mime::base64Decode(buffer.data(), static_cast<int32_t>(size));
  check(n >= 0 && static_cast<size_t>(n) <= size * 3 / 4 + 1);
  if (n == 0 && size >= 2) check(std::memcmp(buffer.data(), data, size) == 0);  // a failure changes nothing

  std::vector<char> text = copyOf(data, size, 1);
  text[size] = 0;
  size_t before = std::strlen(text.data());
  mime::base64DecodeInPlace(text.data());
  check(std::strlen(text.data()) <= before);

  text = copyOf(data, size, 1);
  text[size] = 0;
  int32_t q = mime::quotedPrintableDecode(text.data());
  check(q >= 0 && static_cast<size_t>(q) <= before);

  buffer = copyOf(data, size, 1);
  int32_t d = mime::decodeTransfer(buffer.data(), static_cast<int32_t>(size), encoding, charset);
  check(d >= 0 && static_cast<size_t>(d) <= size);
}

void charsets(const uint8_t* data, size_t size) {
  std::vector<char> text = copyOf(data, size, 1);
  text[size] = 0;
  mime::CharsetCode code = mime::lookupCharset(text.data(), size);
  check(code >= 1 && code <= 25);

  // Two calls with the mode carried across the cut.
  size_t cut = size / 2;
  std::vector<char> out(size + 2);
  int mode = 0;
  mime::jisToShiftJis(text.data(), cut, out.data(), &mode);
  check(mode == 0 || mode == 1);
  std::vector<char> second = copyOf(data + cut, size - cut, 1);
  second[size - cut] = 0;
  mime::jisToShiftJis(second.data(), out.data(), &mode);

  std::vector<char> body = copyOf(data, size, 1);
  body[size] = 0;
  check(mime::jisBodyToShiftJis(body.data()) <= size);

  std::string sjis = mime::utf8ToShiftJis(text.data(), size);
  check(sjis.size() <= 2 * size);

  mime::MimeMessage m;
  for (size_t width : {100u, 256u, 1024u}) {
    std::string value(text.data(), size);
    m.decodeEncodedWords(value, width);
  }
}

const Target kTargets[4] = {
    {"fuzz_mime_parse", parseAndShow},
    {"fuzz_mime_record", showRecord},
    {"fuzz_mime_decoders", decoders},
    {"fuzz_mime_charsets", charsets},
};

}  // namespace mimefuzz
