// The account and the log reading shared by the native POP3 session tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "commlog/CommLog.h"
#include "platform/File.h"
#include "pop3/Pop3Session.h"

namespace testsupport {

inline pop3::Pop3Account testAccount(uint16_t port) {
  pop3::Pop3Account a;
  a.server = "127.0.0.1";
  a.port = port;
  a.accountName = "taro";
  a.password = "himitsu";
  return a;
}

// The log's lines without their CR LF; a text after the last CR LF is
// reported in *tail.
inline std::vector<std::string> commLogLines(const commlog::CommLog& log, std::string* tail = nullptr) {
  std::string data;
  platform::readWholeFile(log.path().c_str(), &data);
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t crlf; (crlf = data.find("\r\n", at)) != std::string::npos; at = crlf + 2)
    lines.push_back(data.substr(at, crlf - at));
  if (tail) *tail = data.substr(at);
  return lines;
}

}  // namespace testsupport
