#include "platform/Base64.h"

#include <cstring>

namespace platform {
namespace {


// One table per position in a group: the sextet already shifted into place.
// Characters that the fast loop does not take set a flag above bit 23:
// kPadFlag for "=", kSpaceFlag for CR, LF and space, kEndFlag for NUL,
// kBadFlag for everything else outside the alphabet.
constexpr uint32_t kPadFlag = 1u << 24;
constexpr uint32_t kSpaceFlag = 1u << 25;
constexpr uint32_t kEndFlag = 1u << 26;
constexpr uint32_t kBadFlag = 1u << 27;
constexpr uint32_t kFlags = kPadFlag | kSpaceFlag | kEndFlag | kBadFlag;

struct Base64Tables {
  uint32_t at[4][256];
  unsigned char sextet[256];
  constexpr Base64Tables() : at(), sextet() {
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int c = 0; c < 256; ++c) {
      uint32_t flag = c == '=' ? kPadFlag : c == '\r' || c == '\n' || c == ' ' ? kSpaceFlag : c == 0 ? kEndFlag : kBadFlag;
      for (int k = 0; k < 4; ++k) at[k][c] = flag;
    }
    for (int i = 0; alphabet[i]; ++i) {
      unsigned char c = static_cast<unsigned char>(alphabet[i]);
      sextet[c] = static_cast<unsigned char>(i);
      for (int k = 0; k < 4; ++k) at[k][c] = static_cast<uint32_t>(i) << (18 - 6 * k);
    }
  }
};
constexpr Base64Tables kB64;

constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr const char* kUrlAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr const char* kMailboxAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

inline void put3(unsigned char* out, uint32_t v) {
  out[0] = static_cast<unsigned char>(v >> 16);
  out[1] = static_cast<unsigned char>(v >> 8);
  out[2] = static_cast<unsigned char>(v);
}

// How white space and NUL are read: as invalid characters (the plain
// decoder), or skipped and ending the text (a transfer-encoded body).
enum class Mode { kPlain, kBody };

// Whether the characters from `r` on are all valid (white space and a NUL
// end as the mode says), without changing them.
bool restIsValid(const unsigned char* p, size_t r, size_t n, Mode mode) {
  uint32_t seen = 0;
  for (; r < n; ++r) {
    uint32_t f = kB64.at[0][p[r]];
    if (mode == Mode::kBody && (f & kEndFlag)) break;
    seen |= f;
  }
  return (seen & (mode == Mode::kBody ? kBadFlag : (kBadFlag | kSpaceFlag | kEndFlag))) == 0;
}

// Turns the first `groups` decoded groups (3 bytes each, from groups of
// four alphabet characters without "=") back into their characters.
void reencode(unsigned char* p, size_t groups) {
  for (size_t g = groups; g-- > 0;) {
    uint32_t v = static_cast<uint32_t>(p[3 * g]) << 16 | static_cast<uint32_t>(p[3 * g + 1]) << 8 | p[3 * g + 2];
    unsigned char* out = p + 4 * g;
    out[0] = static_cast<unsigned char>(kAlphabet[v >> 18]);
    out[1] = static_cast<unsigned char>(kAlphabet[v >> 12 & 63]);
    out[2] = static_cast<unsigned char>(kAlphabet[v >> 6 & 63]);
    out[3] = static_cast<unsigned char>(kAlphabet[v & 63]);
  }
}

// Gives up at a bad character: the `w` bytes written so far, all from plain
// groups, become their characters again and, in body mode, the text from
// `start` follows without white space. Returns the length of the text left.
size_t undoDecoding(unsigned char* p, size_t w, size_t start, size_t n, Mode mode) {
  size_t groups = w / 3;
  reencode(p, groups);
  size_t out = 4 * groups;
  if (mode == Mode::kBody) {
    for (size_t k = start; k < n && p[k]; ++k)
      if (p[k] != '\r' && p[k] != '\n' && p[k] != ' ') p[out++] = p[k];
    p[out] = 0;  // body mode always has room: the text ends at n or before
  }
  return out;
}

// The decoder behind both entry points. Groups of four alphabet characters
// go through the tables in one step; anything else (white space, "=", the
// end) takes the slow step. Validity is the whole text's: as long as only
// plain groups were written, a bad character is undone by encoding them
// again; before the first group that cannot be undone that way (one with
// "="), the rest is checked first. Returns false on a bad character, with
// `*length` the length of the text as left (in body mode without white
// space and NUL-terminated when there is room).
bool decodeBase64(unsigned char* p, size_t n, Mode mode, size_t* length) {
  size_t r = 0;
  size_t w = 0;
  bool checked = false;  // the whole rest is known to be valid
  for (;;) {
    while (r + 4 <= n) {
      uint32_t v = kB64.at[0][p[r]] | kB64.at[1][p[r + 1]] | kB64.at[2][p[r + 2]] | kB64.at[3][p[r + 3]];
      if (v & kFlags) break;
      put3(p + w, v);
      r += 4;
      w += 3;
    }
    // The slow step: up to four characters of the next group.
    size_t start = r;
    unsigned char c[4];
    int got = 0;
    bool bad = false;
    while (got < 4 && r < n) {
      uint32_t f = kB64.at[0][p[r]];
      if (mode == Mode::kBody && (f & kEndFlag)) {
        n = r;
        break;
      }
      if (mode == Mode::kBody && (f & kSpaceFlag)) {
        ++r;
        continue;
      }
      if (f & (kBadFlag | kSpaceFlag | kEndFlag)) {
        bad = true;
        break;
      }
      c[got++] = p[r++];
    }
    if (bad) {
      *length = undoDecoding(p, w, start, n, mode);
      return false;
    }
    if (got == 0) break;
    bool pad = false;
    for (int k = 0; k < got; ++k) pad |= c[k] == '=';
    if (got < 4 || pad) {
      if (!checked && got == 4 && !restIsValid(p, r, n, mode)) {
        *length = undoDecoding(p, w, start, n, mode);
        return false;
      }
      checked = true;
    }
    uint32_t v = 0;
    for (int k = 0; k < got; ++k) v |= static_cast<uint32_t>(kB64.sextet[c[k]] & 0x3F) << (18 - 6 * k);
    if (got == 4) {
      p[w++] = static_cast<unsigned char>(v >> 16);
      if (c[2] == '=') continue;
      p[w++] = static_cast<unsigned char>(v >> 8);
      if (c[3] == '=') continue;
      p[w++] = static_cast<unsigned char>(v);
      continue;
    }
    if (got >= 2) {  // an unpadded final group: its whole bytes
      p[w++] = static_cast<unsigned char>(v >> 16);
      if (got == 3 && c[2] != '=') p[w++] = static_cast<unsigned char>(v >> 8);
    }
    break;
  }
  *length = w;
  return true;
}

}  // namespace

size_t base64Length(size_t length) { return (length + 2) / 3 * 4; }

void base64Encode(const void* data, size_t length, std::string* out, Base64Form form) {
  const char* alphabet = form == Base64Form::kUrl           ? kUrlAlphabet
                         : form == Base64Form::kImapMailbox ? kMailboxAlphabet
                                                            : kAlphabet;
  const bool pad = form == Base64Form::kStandard;
  const auto* in = static_cast<const unsigned char*>(data);
  size_t start = out->size();
  out->resize(start + base64Length(length));
  char* o = &(*out)[0] + start;
  size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    uint32_t v = uint32_t{in[i]} << 16 | uint32_t{in[i + 1]} << 8 | in[i + 2];
    *o++ = alphabet[v >> 18];
    *o++ = alphabet[v >> 12 & 63];
    *o++ = alphabet[v >> 6 & 63];
    *o++ = alphabet[v & 63];
  }
  if (i < length) {
    bool two = i + 1 < length;
    uint32_t v = uint32_t{in[i]} << 16 | (two ? uint32_t{in[i + 1]} << 8 : 0);
    *o++ = alphabet[v >> 18];
    *o++ = alphabet[v >> 12 & 63];
    if (two) *o++ = alphabet[v >> 6 & 63];
    if (pad) {
      if (!two) *o++ = '=';
      *o++ = '=';
    }
  }
  out->resize(static_cast<size_t>(o - out->data()));
}

std::string base64Encode(const std::string& data, Base64Form form) {
  std::string out;
  base64Encode(data.data(), data.size(), &out, form);
  return out;
}

std::string base64EncodeLines(const std::string& data, size_t lineLength) {
  std::string text = base64Encode(data);
  std::string out;
  out.reserve(text.size() + text.size() / lineLength * 2);
  for (size_t at = 0; at < text.size(); at += lineLength) {
    if (at) out += "\r\n";
    out.append(text, at, lineLength);
  }
  return out;
}

bool base64DecodeChecked(char* data, size_t length, size_t* decodedLength) {
  size_t n = 0;
  unsigned char* p = reinterpret_cast<unsigned char*>(data);
  if (!decodeBase64(p, length, Mode::kPlain, &n)) return false;
  if (n < length) p[n] = 0;
  *decodedLength = n;
  return true;
}

bool base64DecodeBody(char* data, size_t length, size_t* resultLength) {
  return decodeBase64(reinterpret_cast<unsigned char*>(data), length, Mode::kBody, resultLength);
}

int32_t base64Decode(char* data, int32_t length) {
  if (length <= 0) return 0;
  size_t n = 0;
  return base64DecodeChecked(data, static_cast<size_t>(length), &n) ? static_cast<int32_t>(n) : 0;
}

void base64DecodeInPlace(char* text) {
  size_t n = 0;
  size_t length = std::strlen(text);
  if (base64DecodeChecked(text, length, &n)) text[n] = 0;
}


bool base64Decode(const std::string& text, std::string* data) {
  std::string copy;
  copy.reserve(text.size() + 1);
  for (char c : text)
    if (c != '\r' && c != '\n' && c != ' ' && c != '\t') copy += c;
  // "=" only pads: at most two, and nothing after them.
  size_t pad = copy.find('=');
  if (pad != std::string::npos && (copy.size() - pad > 2 || copy.find_first_not_of('=', pad) != std::string::npos))
    return false;
  size_t n = 0;
  if (!base64DecodeChecked(&copy[0], copy.size(), &n)) return false;
  data->assign(copy.data(), n);
  return true;
}

std::string base64DecodeLeading(const char* text, size_t length) {
  size_t n = 0;
  while (n < length && kB64.at[0][static_cast<unsigned char>(text[n])] < kPadFlag) ++n;
  std::string copy(text, n);
  copy.push_back('\0');
  base64DecodeChecked(&copy[0], n, &n);
  return copy.substr(0, n);
}

}  // namespace platform
