#include "commlog/CommLog.h"

#include <cstdio>

#include "platform/File.h"
#include "platform/Hooks.h"
#include "platform/Shell.h"
#include "platform/Text.h"

namespace commlog {

const char kCommLogFileName[] = "通信ログ.txt";

const char CommLog::kStandardOutput[] = "-";

CommLog::CommLog() : path_(kCommLogFileName) {}

CommLog::CommLog(std::string path) : path_(std::move(path)) {}

void CommLog::logLine(const char* text) const { append(text ? text : ""); }

void CommLog::logPair(const char* label, const char* detail) const {
  std::string entry = label ? label : "";
  entry += ' ';
  entry += detail ? detail : "";
  append(entry);
}

void CommLog::append(const std::string& entry) const {
  if (path_ == kStandardOutput) {
    std::string line = platform::cp932ToUtf8(entry);
    for (char& c : line)
      if (c == '\r') c = '\n';
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return;
  }
  std::string out;
  out.reserve(entry.size() + 8);
  for (char c : entry) {
    if (c == '\n') out += '\r';
    out += c;
  }
  out += "\r\n";
  FILE* f = platform::openFile(path_.c_str(), "ab");
  if (!f) return;
  std::fwrite(out.data(), 1, out.size(), f);
  std::fflush(f);
  std::fclose(f);
}

void CommLog::clear() const {
  if (path_ != kStandardOutput) platform::removeFile(path_.c_str());
}

void CommLog::show() const {
  if (!platform::shellOpen(path_.c_str()))
    platform::messageBox("通信ログは作成されていません。", "Quorvel", platform::kMbIconExclamation);
}

CommLog& commLog() {
  static CommLog log;
  return log;
}

}  // namespace commlog
