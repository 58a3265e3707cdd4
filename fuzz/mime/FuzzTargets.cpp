#include "FuzzTargets.h"

#include <cstring>
#include <string>
#include <vector>

#include "mime/Charset.h"
#include "mime/Decoders.h"
#include "mime/MailLogReader.h"
#include "mime/MimeMessage.h"
#include "platform/Base64.h"

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


// Plain reference decoders, one step at a time, for the differential target.
namespace reference {

int sextet(unsigned char c) {
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
  const char* at = c ? std::strchr(alphabet, c) : nullptr;
  return at ? static_cast<int>(at - alphabet) : -1;
}

// Validates everything, then decodes groups of four ("=" counts 0).
bool base64(char* data, size_t length, size_t* decoded) {
  unsigned char* p = reinterpret_cast<unsigned char*>(data);
  for (size_t i = 0; i < length; ++i)
    if (sextet(p[i]) < 0) return false;
  size_t out = 0;
  size_t i = 0;
  for (; i + 4 <= length; i += 4) {
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) v = v << 6 | (sextet(p[i + k]) & 0x3F);
    p[out++] = static_cast<unsigned char>(v >> 16);
    if (p[i + 2] == '=') continue;
    p[out++] = static_cast<unsigned char>(v >> 8);
    if (p[i + 3] == '=') continue;
    p[out++] = static_cast<unsigned char>(v);
  }
  size_t rest = length - i;
  if (rest >= 2) {
    unsigned v = (sextet(p[i]) & 0x3F) << 18 | (sextet(p[i + 1]) & 0x3F) << 12;
    bool third = rest == 3 && p[i + 2] != '=';
    if (third) v |= (sextet(p[i + 2]) & 0x3F) << 6;
    p[out++] = static_cast<unsigned char>(v >> 16);
    if (third) p[out++] = static_cast<unsigned char>(v >> 8);
  }
  if (out < length) p[out] = 0;
  *decoded = out;
  return true;
}

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Two passes: soft line breaks out, then "=XX".
size_t quotedPrintable(char* text) {
  size_t length = std::strlen(text);
  size_t end = length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n' ? length - 2 : length;
  std::string joined;
  for (size_t r = 0; r < end;) {
    if (text[r] == '=' && r + 2 < length && text[r + 1] == '\r' && text[r + 2] == '\n') {
      r += 3;
      continue;
    }
    joined.push_back(text[r++]);
  }
  size_t w = 0;
  for (size_t r = 0; r < joined.size();) {
    if (joined[r] == '=' && r + 2 < joined.size() && hex(joined[r + 1]) >= 0 && hex(joined[r + 2]) >= 0) {
      text[w++] = static_cast<char>(hex(joined[r + 1]) << 4 | hex(joined[r + 2]));
      r += 3;
      continue;
    }
    text[w++] = joined[r++];
  }
  text[w] = 0;
  return w;
}

uint16_t jisPair(unsigned char j1, unsigned char j2) {
  if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E) return 0;
  unsigned hi = (j1 - 0x21) / 2 + 0x81;
  if (hi > 0x9F) hi += 0x40;
  unsigned lo = (j1 & 1) ? j2 + 0x1F + (j2 >= 0x60 ? 1 : 0) : j2 + 0x7E;
  return static_cast<uint16_t>(hi << 8 | lo);
}

// ISO-2022-JP byte by byte; invalid pairs become two NULs.
size_t jisToSjis(const char* src, size_t length, char* dst, int* mode) {
  size_t r = 0;
  size_t w = 0;
  auto at = [&](size_t i) -> char { return i < length ? src[i] : 0; };
  while (at(r) != 0) {
    char c = src[r];
    if (c == 0x1B) {
      char a = at(r + 1);
      char b = a ? at(r + 2) : 0;
      if (!a || !b) break;
      if (a == '$' && b == 'B') *mode = 1;
      else if (a == '(' && (b == 'B' || b == 'J')) *mode = 0;
      r += 3;
      continue;
    }
    if (*mode == 0) {
      dst[w++] = c;
      ++r;
      continue;
    }
    char c2 = at(r + 1);
    if (c2 == 0) break;
    uint16_t pair = jisPair(static_cast<unsigned char>(c), static_cast<unsigned char>(c2));
    dst[w++] = static_cast<char>(pair >> 8);
    dst[w++] = static_cast<char>(pair & 0xFF);
    r += 2;
  }
  dst[w] = 0;
  return w;
}

// Conversion, then dot-stuffing removed over the text up to its first NUL.
size_t jisBody(char* text) {
  int mode = 0;
  jisToSjis(text, static_cast<size_t>(-1), text, &mode);
  size_t n = std::strlen(text);
  size_t w = 0;
  char previous = 0;
  for (size_t r = n >= 2 && text[0] == '.' && text[1] == '.' ? 1 : 0; r < n; ++r) {
    if (!(text[r] == '.' && previous == '\n')) text[w++] = text[r];
    previous = text[r];
  }
  text[w] = 0;
  return w;
}

// decodeTransfer as separate steps: dot-stuffing, white space, decoding, JIS.
size_t transfer(char* data, size_t n, int encoding, mime::CharsetCode charset) {
  data[n] = 0;
  bool jis = charset == mime::kCharsetIso2022Jp;
  bool encoded = encoding == mime::kEncodingBase64 || encoding == mime::kEncodingQuotedPrintable;
  if (jis && encoded) {
    std::string kept;
    char previous = 0;
    for (size_t r = n >= 2 && data[0] == '.' && data[1] == '.' ? 1 : 0; r < n && data[r]; ++r) {
      if (!(data[r] == '.' && previous == '\n')) kept.push_back(data[r]);
      previous = data[r];
    }
    std::memcpy(data, kept.c_str(), kept.size() + 1);
    n = kept.size();
  }
  if (encoding == mime::kEncodingBase64) {
    std::string kept;
    for (size_t r = 0; r < n && data[r]; ++r)
      if (data[r] != '\r' && data[r] != '\n' && data[r] != ' ') kept.push_back(data[r]);
    std::memcpy(data, kept.c_str(), kept.size() + 1);
    n = kept.size();
    size_t decoded = 0;
    if (base64(data, n, &decoded)) {
      n = decoded;
      data[n] = 0;
    }
  } else if (encoding == mime::kEncodingQuotedPrintable) {
    n = quotedPrintable(data);
  }
  if (jis) {
    if (encoded) {
      int mode = 0;
      jisToSjis(data, n, data, &mode);
      n = std::strlen(data);
    } else {
      n = jisBody(data);
    }
  }
  return n;
}

}  // namespace reference

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
  int32_t n = platform::base64Decode(buffer.data(), static_cast<int32_t>(size));
  check(n >= 0 && static_cast<size_t>(n) <= size * 3 / 4 + 1);
  if (n == 0 && size >= 2) check(std::memcmp(buffer.data(), data, size) == 0);  // a failure changes nothing

  std::vector<char> text = copyOf(data, size, 1);
  text[size] = 0;
  size_t before = std::strlen(text.data());
  platform::base64DecodeInPlace(text.data());
  check(std::strlen(text.data()) <= before);

  text = copyOf(data, size, 1);
  text[size] = 0;
  int32_t q = mime::quotedPrintableDecode(text.data());
  check(q >= 0 && static_cast<size_t>(q) <= before);

  buffer = copyOf(data, size, 1);
  int32_t d = mime::decodeTransfer(buffer.data(), static_cast<int32_t>(size), encoding, charset);
  check(d >= 0 && static_cast<size_t>(d) <= size);
}

void decoderDifference(const uint8_t* data, size_t size) {
  if (size == 0) return;
  int encoding = 2 + data[0] % 6;
  mime::CharsetCode charset = data[0] & 0x80 ? mime::kCharsetIso2022Jp : mime::kCharsetUtf8;
  ++data;
  --size;

  // base64Decode: the whole buffer, also what lies after the result.
  std::vector<char> fast = copyOf(data, size, 1);
  std::vector<char> plain = fast;
  size_t expected = 0;
  bool valid = size > 0 && reference::base64(plain.data(), size, &expected);
  int32_t n = platform::base64Decode(fast.data(), static_cast<int32_t>(size));
  check(n == (valid ? static_cast<int32_t>(expected) : 0));
  check(fast == plain);

  // quotedPrintableDecode: the result and its NUL.
  fast = copyOf(data, size, 1);
  fast[size] = 0;
  plain = fast;
  size_t q = reference::quotedPrintable(plain.data());
  check(mime::quotedPrintableDecode(fast.data()) == static_cast<int32_t>(q));
  check(std::memcmp(fast.data(), plain.data(), q + 1) == 0);

  // decodeTransfer: the result, and the NUL after it where the reference has one.
  fast = copyOf(data, size, 1);
  plain = fast;
  size_t t = reference::transfer(plain.data(), size, encoding, charset);
  int32_t d = mime::decodeTransfer(fast.data(), static_cast<int32_t>(size), encoding, charset);
  check(d == static_cast<int32_t>(t));
  check(std::memcmp(fast.data(), plain.data(), t) == 0);
  check(plain[t] != 0 || fast[t] == 0);

  // The JIS conversions: whole output, the mode carried over a cut.
  size_t cut = size / 3;
  std::vector<char> out(size + 1), expectedOut(size + 1);
  int mode = 0, expectedMode = 0;
  size_t w1 = mime::jisToShiftJis(reinterpret_cast<const char*>(data), cut, out.data(), &mode);
  size_t e1 = reference::jisToSjis(reinterpret_cast<const char*>(data), cut, expectedOut.data(), &expectedMode);
  check(w1 == e1 && mode == expectedMode && std::memcmp(out.data(), expectedOut.data(), e1 + 1) == 0);
  w1 = mime::jisToShiftJis(reinterpret_cast<const char*>(data) + cut, size - cut, out.data(), &mode);
  e1 = reference::jisToSjis(reinterpret_cast<const char*>(data) + cut, size - cut, expectedOut.data(), &expectedMode);
  check(w1 == e1 && mode == expectedMode && std::memcmp(out.data(), expectedOut.data(), e1 + 1) == 0);
  fast = copyOf(data, size, 1);
  fast[size] = 0;
  plain = fast;
  size_t b = reference::jisBody(plain.data());
  check(mime::jisBodyToShiftJis(fast.data()) == b && std::memcmp(fast.data(), plain.data(), b + 1) == 0);
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

const Target kTargets[5] = {
    {"fuzz_mime_parse", parseAndShow},
    {"fuzz_mime_record", showRecord},
    {"fuzz_mime_decoders", decoders},
    {"fuzz_mime_charsets", charsets},
    {"fuzz_mime_decoder_diff", decoderDifference},
};

}  // namespace mimefuzz
