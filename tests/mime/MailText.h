// Mail texts for the tests, written with "\n" and stored with CR LF.
#pragma once
#include <string>

namespace mimetest {

inline std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// A mail as the log holds it: CR LF line ends and the final "." line.
inline std::string stored(const std::string& text) { return crlf(text) + ".\r\n"; }

}  // namespace mimetest
