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

}  // namespace sendlib
