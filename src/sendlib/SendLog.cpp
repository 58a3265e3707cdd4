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
  if (enabled) file_ = platform::openFile(path.c_str(), "w");
}

OpenSendLog::~OpenSendLog() {
  if (file_) std::fclose(file_);
}

void OpenSendLog::write(const char* data, size_t length) {
  if (!file_) return;
  std::fwrite(data, 1, length, file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace sendlib
