#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Text.h"

namespace platform {

std::string nativePath(const char* path) {
  std::string utf8 = cp932ToUtf8(path ? path : "");
  for (char& c : utf8)
    if (c == '\\') c = '/';
  return utf8;
}

FILE* openFile(const char* path, const char* mode) {
  return std::fopen(nativePath(path).c_str(), mode);
}

bool fileExists(const char* path) {
  struct stat st;
  return ::stat(nativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isDirectory(const char* path) {
  struct stat st;
  return ::stat(nativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t fileSize(const char* path) {
  struct stat st;
  if (::stat(nativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool flushToDisk(FILE* file) { return file && std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0; }

bool removeFile(const char* path) { return ::unlink(nativePath(path).c_str()) == 0; }

bool replaceFile(const char* from, const char* to) {
  std::string src = nativePath(from), dst = nativePath(to);
  int fd = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  if (::rename(src.c_str(), dst.c_str()) != 0) return false;
  std::string dir = dst.substr(0, dst.find_last_of('/') == std::string::npos ? 0 : dst.find_last_of('/'));
  int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

bool makeDirectory(const char* path) { return ::mkdir(nativePath(path).c_str(), 0777) == 0; }

// POSIX file systems have no Zone.Identifier stream, and no program here
// would read one: the file stays as it is.
bool markFromInternet(const char*) { return false; }

std::string currentDirectory() {
  char buf[4096];
  if (!::getcwd(buf, sizeof buf)) return ".";
  return utf8ToCp932(buf);
}

bool setCurrentDirectory(const char* path) { return ::chdir(nativePath(path).c_str()) == 0; }

std::string tempFolder() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = utf8ToCp932(t && *t ? t : "/tmp");
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string computerName() {
  char buf[256] = {};
  ::gethostname(buf, sizeof buf - 1);
  std::string name = buf;
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

LocalTime localTime() {
  using namespace std::chrono;
  auto now = system_clock::now();
  time_t seconds = system_clock::to_time_t(now);
  int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  tm t;
  ::localtime_r(&seconds, &t);
  return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_wday,
                   t.tm_hour, t.tm_min, t.tm_sec, ms};
}

int utcOffsetMinutes() {
  time_t now = ::time(nullptr);
  tm t;
  ::localtime_r(&now, &t);
  return static_cast<int>(t.tm_gmtoff / 60);
}

uint64_t monotonicMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void sleepMs(unsigned ms) { ::usleep(ms * 1000u); }

}  // namespace platform
