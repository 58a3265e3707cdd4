#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/File.h"
#include "platform/FileOps.h"
#include "platform/Text.h"

namespace platform {
namespace {

bool makeDirectories(const std::string& dir) {
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i != dir.size() && dir[i] != '/') continue;
    std::string part = dir.substr(0, i);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Percent-encodes a path for a .trashinfo file.
std::string encodePath(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        std::strchr("/-_.~", c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

bool syncFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool copyFile(const std::string& from, const std::string& to) {
  FILE* in = std::fopen(from.c_str(), "rb");
  if (!in) return false;
  FILE* out = std::fopen(to.c_str(), "wb");
  if (!out) {
    std::fclose(in);
    return false;
  }
  static char buf[1 << 16];
  bool ok = true;
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
    if (std::fwrite(buf, 1, n, out) != n) {
      ok = false;
      break;
    }
  ok = ok && !std::ferror(in);
  std::fclose(in);
  ok = std::fclose(out) == 0 && ok;
  return ok && syncFile(to);
}

}  // namespace

// The freedesktop.org trash: $XDG_DATA_HOME/Trash (else ~/.local/share/Trash),
// where Wine's shell puts deleted files too. The folders are created when
// missing; a file that cannot be renamed into them stays where it is.
bool moveToRecycleBin(const char* path, void*) {
  std::string src = nativePath(path);
  char resolved[PATH_MAX];
  if (!::realpath(src.c_str(), resolved)) return false;
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (data && *data) {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return false;
    base = std::string(home) + "/.local/share";
  }
  std::string trash = base + "/Trash";
  if (!makeDirectories(trash + "/files") || !makeDirectories(trash + "/info")) return false;

  std::string name = resolved;
  name = name.substr(name.find_last_of('/') + 1);
  for (int n = 1; n < 10000; ++n) {
    std::string entry = n == 1 ? name : name + "." + std::to_string(n);
    std::string info = trash + "/info/" + entry + ".trashinfo";
    int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    time_t now = ::time(nullptr);
    struct tm t;
    ::localtime_r(&now, &t);
    char date[32];
    ::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &t);
    std::string text = "[Trash Info]\nPath=" + encodePath(resolved) + "\nDeletionDate=" + date + "\n";
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    std::string target = trash + "/files/" + entry;
    struct stat st;
    if (ok && ::lstat(target.c_str(), &st) != 0 && ::rename(resolved, target.c_str()) == 0) return true;
    ::unlink(info.c_str());
    if (ok && ::lstat(target.c_str(), &st) == 0) continue;  // name taken without its info file
    return false;
  }
  return false;
}

bool truncateFile(const char* path, int64_t size) {
  std::string p = nativePath(path);
  return size >= 0 && ::truncate(p.c_str(), static_cast<off_t>(size)) == 0 && syncFile(p);
}

bool moveFileReplacing(const char* from, const char* to) {
  std::string src = nativePath(from), dst = nativePath(to);
  if (::rename(src.c_str(), dst.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  std::string part = dst + ".part";
  if (!copyFile(src, part) || ::rename(part.c_str(), dst.c_str()) != 0) {
    ::unlink(part.c_str());
    return false;
  }
  ::unlink(src.c_str());
  return true;
}

bool deleteFileExplained(const char* path, std::string* errorText) {
  if (::unlink(nativePath(path).c_str()) == 0) return true;
  if (errorText) *errorText = utf8ToCp932(std::strerror(errno));
  return false;
}

std::vector<std::string> filesInFolder(const char* folder, const char* prefix, const char* suffix) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(nativePath(folder).c_str());
  if (!dir) return names;
  std::string head = prefix, tail = suffix;
  while (dirent* e = ::readdir(dir)) {
    std::string name = utf8ToCp932(e->d_name);
    if (name.size() >= head.size() + tail.size() && name.compare(0, head.size(), head) == 0 &&
        name.compare(name.size() - tail.size(), tail.size(), tail) == 0 &&
        fileExists((std::string(folder) + "\\" + name).c_str()))
      names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace platform
