#include "mime/HeaderText.h"

#include <cstring>
#include <string_view>

#include "platform/Sjis.h"

namespace mime {
namespace {

inline char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether a byte survives the rule, given whether it stands inside quotes.
inline bool kept(char c, bool quoted, HeaderRule rule) {
  switch (rule) {
    case HeaderRule::kContentType:
    case HeaderRule::kFileName:
      return c != ' ' && c != '\r' && c != '\n';
    case HeaderRule::kPartHeader:
      return quoted || c != ' ';
    case HeaderRule::kTransferEncoding:
      return c != ' ' && c != '\r' && c != '\n' && c != '"';
  }
  return true;
}

inline bool tracksQuotes(HeaderRule rule) { return rule != HeaderRule::kTransferEncoding; }

inline bool startsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}


}  // namespace

std::string normaliseHeader(const char* text, size_t length, HeaderRule rule) {
  std::string out;
  out.reserve(length);
  bool quoted = false;
  bool quotes = tracksQuotes(rule);
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    bool wasQuoted = quoted;
    if (c == '"' && quotes) quoted = !quoted;
    if (!kept(c, wasQuoted, rule)) continue;
    out.push_back(wasQuoted && c != '"' ? c : upper(c));
  }
  return out;
}

size_t sourceIndex(const char* text, size_t length, HeaderRule rule, size_t index) {
  bool quoted = false;
  bool quotes = tracksQuotes(rule);
  size_t count = 0;
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    bool wasQuoted = quoted;
    if (c == '"' && quotes) quoted = !quoted;
    if (!kept(c, wasQuoted, rule)) continue;
    if (count++ == index) return i;
  }
  return length;
}

ContentTypeInfo classifyContentType(const char* text, size_t length) {
  static const struct {
    const char* prefix;
    ContentTypeCode code;
  } kTypes[] = {
      {"MULTIPART/", kTypeMultipart}, {"TEXT/", kTypeText},   {"IMAGE/", kTypeImage},
      {"MESSAGE/", kTypeMessage},     {"AUDIO/", kTypeAudio}, {"VIDEO/", kTypeVideo},
      {"APPLICATION/", kTypeApplication},
  };
  ContentTypeInfo info;
  size_t skip = length < 13 ? length : 13;  // "CONTENT-TYPE:"
  std::string_view rest(text + skip, length - skip);
  for (const auto& t : kTypes) {
    size_t at = rest.find(t.prefix);
    if (at == std::string_view::npos) continue;
    info.type = t.code;
    size_t start = at + std::strlen(t.prefix);
    size_t end = rest.find_first_of(";\r\n", start);
    if (end == std::string_view::npos) end = rest.size();
    if (end - start <= 19) {
      std::memcpy(info.subtype, rest.data() + start, end - start);
      info.subtype[end - start] = 0;
    }
    break;
  }
  size_t cs = rest.find("CHARSET=");
  if (cs != std::string_view::npos) info.charset = lookupCharset(rest.data() + cs + 8, rest.size() - cs - 8);
  return info;
}

TransferEncodingCode classifyTransferEncoding(const char* text, size_t length) {
  size_t skip = length < 26 ? length : 26;  // "CONTENT-TRANSFER-ENCODING:"
  std::string_view value(text + skip, length - skip);
  size_t first = value.find_first_not_of(" \t\r\n");
  value.remove_prefix(first == std::string_view::npos ? value.size() : first);
  if (startsWith(value, "BASE64")) return kEncodingBase64;
  if (startsWith(value, "QUOTED-PRINTABLE")) return kEncodingQuotedPrintable;
  if (startsWith(value, "UUENCODE")) return kEncodingUuencode;
  if (startsWith(value, "8BIT")) return kEncoding8Bit;
  if (startsWith(value, "BINARY")) return kEncodingBinary;
  return kEncodingOther;
}

void removeUnsafeNameBytes(std::string& name) {
  size_t w = 0;
  for (size_t r = 0; r < name.size(); ++r) {
    unsigned char c = static_cast<unsigned char>(name[r]);
    if (platform::isSjisLeadByte(c) && r + 1 < name.size() &&
        platform::isSjisTrailByte(static_cast<unsigned char>(name[r + 1]))) {
      name[w++] = name[r++];
      name[w++] = name[r];
      continue;
    }
    if (std::strchr("\n\"*/:<>?\\|", c) && c != 0) continue;
    name[w++] = name[r];
  }
  name.resize(w);
}

}  // namespace mime
