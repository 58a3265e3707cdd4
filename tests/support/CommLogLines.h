// The communication log as the native tests read it back.
#pragma once
#include <string>
#include <vector>

#include "commlog/CommLog.h"
#include "platform/File.h"

namespace testsupport {

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
