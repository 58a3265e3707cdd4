// IMAP server responses: a reader fed bytes in pieces of any size that
// yields whole responses (lines with their literals {N}), bounded in line
// length and literal size, and a tokenizer for their text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace imap {

// The largest literal accepted: the mail-size limit of the program.
constexpr uint64_t kMaxLiteral = 268435456;
// The text of one response (its lines without the literals): room for a
// SEARCH of some 500,000 UIDs.
constexpr size_t kMaxResponseText = 4194304;

struct Response {
  enum class Kind { kUntagged, kTagged, kContinuation };
  Kind kind = Kind::kUntagged;
  std::string tag;                    // tagged responses
  std::string text;                   // after "* ", "+ " or the tag; literals stand as {N}
  std::vector<std::string> literals;  // in order of appearance
};

enum class ReadError {
  kNone,
  kLineTooLong,      // no line end within kMaxResponseText
  kLiteralTooLarge,  // {N} beyond kMaxLiteral
  kBadStart,         // neither "* ", "+" nor a tag
};

class ResponseReader {
 public:
  explicit ResponseReader(size_t maxText = kMaxResponseText, uint64_t maxLiteral = kMaxLiteral)
      : maxText_(maxText), maxLiteral_(maxLiteral) {}
  // Takes bytes until one response is complete (or an error); returns the
  // number used. Call again with the rest after taking the response.
  size_t feed(const char* data, size_t length);
  bool hasResponse() const { return complete_; }
  Response take();
  ReadError error() const { return error_; }
  // Inside a literal: bytes still expected (0 otherwise).
  uint64_t literalRemaining() const { return literalLeft_; }
  void reset();

 private:
  bool endLine();

  size_t maxText_;
  uint64_t maxLiteral_;
  std::string line_;  // the current line, without its line end
  Response response_;
  uint64_t literalLeft_ = 0;
  bool inLiteral_ = false;
  bool complete_ = false;
  ReadError error_ = ReadError::kNone;
};

const char* readErrorText(ReadError error);

// Tokens of a response text: atoms (numbers, flags, BODY[] …), quoted
// strings, parentheses, NIL and literal references.
class Tokens {
 public:
  enum class Type { kEnd, kAtom, kString, kOpen, kClose, kLiteral, kBad };
  explicit Tokens(const std::string& text) : text_(text) {}
  Type next();
  // The atom or the unquoted string; for kLiteral the literal's number
  // among the response's literals.
  const std::string& value() const { return value_; }
  size_t literalIndex() const { return literal_; }
  // Skips a value just opened by kOpen, up to its kClose. false if unbalanced.
  bool skipList();
  size_t position() const { return pos_; }

 private:
  const std::string& text_;
  size_t pos_ = 0;
  std::string value_;
  size_t literal_ = 0;
  size_t literalsSeen_ = 0;
};

// A number of at most 32 bits ("4294967295"); false otherwise.
bool parseNumber(const std::string& text, uint32_t* value);

// The response code in brackets at the start of a status text
// ("[UIDVALIDITY 3857529045] UIDs valid" -> "UIDVALIDITY", "3857529045").
bool responseCode(const std::string& text, std::string* name, std::string* argument);

}  // namespace imap
