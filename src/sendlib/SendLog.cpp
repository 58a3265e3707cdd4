#include "sendlib/SendLog.h"

#include <cstdio>
#include <cstring>

#include "platform/File.h"

namespace sendlib {

void SendLog::write(const char* entry) { write(entry, std::strlen(entry)); }

void AppendingSendLog::write(const char* data, size_t length) {
  if (!enabled_) return;
  FILE* f = platform::openFile(path_.c_str(), "ab");
  if (!f) return;
  std::fwrite(data, 1, length, f);
  std::fputc('\n', f);
  std::fclose(f);
}

OpenSendLog::OpenSendLog(const std::string& path, bool enabled) {
  if (enabled) file_ = platform::openFile(path.c_str(), "wb");
}

OpenSendLog::~OpenSendLog() {
  if (file_) std::fclose(file_);
}

void OpenSendLog::write(const char* data, size_t length) {
  if (!file_) return;
  std::string entry = crlfLines(std::string_view(data, length));
  std::fwrite(entry.data(), 1, entry.size(), file_);
  std::fflush(file_);
}

std::string crlfLines(std::string_view entry) {
  if (entry.size() >= 2 && entry.substr(entry.size() - 2) == "\r\n") entry.remove_suffix(2);
  else if (!entry.empty() && entry.back() == '\n') entry.remove_suffix(1);
  std::string lines;
  lines.reserve(entry.size() + 2);
  for (size_t i = 0; i < entry.size(); ++i) {
    if (entry[i] == '\n' && (i == 0 || entry[i - 1] != '\r')) lines += '\r';
    lines += entry[i];
  }
  return lines + "\r\n";
}

}  // namespace sendlib
