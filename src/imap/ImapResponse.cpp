#include "imap/ImapResponse.h"

#include <algorithm>
#include <cstring>

namespace imap {
namespace {

// Memory set aside for a literal at once; a larger one grows as it comes.
constexpr size_t kLiteralReserve = 16777216;

bool isTagChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u > 0x20 && u < 0x7F && c != '(' && c != ')' && c != '{' && c != '%' && c != '*' && c != '"' &&
         c != '\\' && c != '+';
}

// The size of a literal announced at the end of `line` ("... {123}"):
// 1 with *size, 0 when there is none, -1 when it is too large.
int literalAtEnd(const std::string& line, uint64_t limit, uint64_t* size) {
  if (line.empty() || line.back() != '}') return 0;
  size_t open = line.rfind('{');
  if (open == std::string::npos || open + 2 > line.size() - 1) return 0;
  uint64_t value = 0;
  for (size_t i = open + 1; i + 1 < line.size(); ++i) {
    char c = line[i];
    if (c == '+' && i + 2 == line.size()) break;  // non-synchronising form
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > limit) return -1;  // also stops any overflow
  }
  *size = value;
  return 1;
}

}  // namespace

const char* readErrorText(ReadError error) {
  switch (error) {
    case ReadError::kNone: return "";
    case ReadError::kLineTooLong: return "応答行が長すぎます (response line too long)";
    case ReadError::kLiteralTooLarge: return "リテラルが大きすぎます (literal too large)";
    case ReadError::kBadStart: return "応答の形式が不正です (malformed response)";
  }
  return "";
}

void ResponseReader::reset() {
  line_.clear();
  response_ = Response();
  literalLeft_ = 0;
  inLiteral_ = false;
  complete_ = false;
  error_ = ReadError::kNone;
}

Response ResponseReader::take() {
  Response out = std::move(response_);
  response_ = Response();
  complete_ = false;
  return out;
}

size_t ResponseReader::feed(const char* data, size_t length) {
  size_t used = 0;
  if (complete_ || error_ != ReadError::kNone) return 0;
  while (used < length) {
    if (inLiteral_) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(literalLeft_, length - used));
      response_.literals.back().append(data + used, n);
      used += n;
      literalLeft_ -= n;
      if (literalLeft_ == 0) inLiteral_ = false;
      continue;
    }
    const char* lf = static_cast<const char*>(std::memchr(data + used, '\n', length - used));
    size_t n = lf ? static_cast<size_t>(lf - (data + used)) + 1 : length - used;
    if (response_.text.size() + line_.size() + n > maxText_ + 2) {
      error_ = ReadError::kLineTooLong;
      return used + n;
    }
    line_.append(data + used, n);
    used += n;
    if (lf && (!endLine() || complete_)) return used;
  }
  return used;
}

bool ResponseReader::endLine() {
  line_.pop_back();  // LF
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  const bool first = response_.text.empty() && response_.literals.empty() && response_.tag.empty();
  if (first) {
    if (line_.compare(0, 2, "* ") == 0) {
      response_.kind = Response::Kind::kUntagged;
      response_.text = line_.substr(2);
    } else if (!line_.empty() && line_[0] == '+') {
      response_.kind = Response::Kind::kContinuation;
      response_.text = line_.size() > 1 && line_[1] == ' ' ? line_.substr(2) : line_.substr(1);
    } else {
      size_t space = line_.find(' ');
      if (space == 0 || space == std::string::npos ||
          !std::all_of(line_.begin(), line_.begin() + static_cast<long>(space), isTagChar)) {
        error_ = ReadError::kBadStart;
        return false;
      }
      response_.kind = Response::Kind::kTagged;
      response_.tag = line_.substr(0, space);
      response_.text = line_.substr(space + 1);
    }
  } else {
    response_.text += line_;
  }
  uint64_t size = 0;
  int literal = response_.kind == Response::Kind::kContinuation ? 0 : literalAtEnd(line_, maxLiteral_, &size);
  line_.clear();
  if (literal < 0) {
    error_ = ReadError::kLiteralTooLarge;
    return false;
  }
  if (literal > 0) {
    response_.literals.emplace_back();
    response_.literals.back().reserve(static_cast<size_t>(std::min<uint64_t>(size, kLiteralReserve)));
    literalLeft_ = size;
    inLiteral_ = size > 0;
    return true;
  }
  complete_ = true;
  return true;
}

Tokens::Type Tokens::next() {
  value_.clear();
  while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  if (pos_ >= text_.size()) return Type::kEnd;
  char c = text_[pos_];
  if (c == '(') {
    ++pos_;
    return Type::kOpen;
  }
  if (c == ')') {
    ++pos_;
    return Type::kClose;
  }
  if (c == '"') {
    for (++pos_; pos_ < text_.size(); ++pos_) {
      char d = text_[pos_];
      if (d == '"') {
        ++pos_;
        return Type::kString;
      }
      if (d == '\\' && pos_ + 1 < text_.size()) d = text_[++pos_];
      value_ += d;
    }
    return Type::kBad;
  }
  if (c == '{' || (c == '~' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '{')) {
    size_t close = text_.find('}', pos_);
    if (close == std::string::npos) return Type::kBad;
    pos_ = close + 1;
    literal_ = literalsSeen_++;
    return Type::kLiteral;
  }
  while (pos_ < text_.size()) {
    char d = text_[pos_];
    if (d == ' ' || d == '(' || d == ')') break;
    if (d == '[') {  // BODY[HEADER.FIELDS (A B)]: the section is part of the atom
      size_t close = text_.find(']', pos_);
      if (close == std::string::npos) return Type::kBad;
      value_.append(text_, pos_, close + 1 - pos_);
      pos_ = close + 1;
      continue;
    }
    value_ += d;
    ++pos_;
  }
  return Type::kAtom;
}

bool Tokens::skipList() {
  int depth = 1;
  for (;;) {
    switch (next()) {
      case Type::kOpen: ++depth; break;
      case Type::kClose:
        if (--depth == 0) return true;
        break;
      case Type::kEnd:
      case Type::kBad: return false;
      default: break;
    }
  }
}

bool parseNumber(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFu) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

bool responseCode(const std::string& text, std::string* name, std::string* argument) {
  name->clear();
  argument->clear();
  size_t at = text.find_first_not_of(' ');
  if (at == std::string::npos || text[at] != '[') return false;
  size_t close = text.find(']', at);
  if (close == std::string::npos) return false;
  std::string inside = text.substr(at + 1, close - at - 1);
  size_t space = inside.find(' ');
  *name = inside.substr(0, space);
  if (space != std::string::npos) *argument = inside.substr(space + 1);
  for (char& c : *name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return true;
}

}  // namespace imap
