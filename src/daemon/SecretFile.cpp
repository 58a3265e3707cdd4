#include "daemon/SecretFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace service {

bool readSecretFile(const std::string& path, std::string* secret, std::string* error) {
  secret->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = path + ": not a regular file";
    return false;
  }
  if (st.st_mode & (S_IROTH | S_IWOTH)) {
    ::close(fd);
    *error = path + ": readable or writable by every user; allow only the service user (chmod 600)";
    return false;
  }
  std::string data;
  char buffer[512];
  ssize_t n;
  while (data.size() < 4096 && (n = ::read(fd, buffer, sizeof buffer)) > 0) data.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  size_t end = data.find_first_of("\r\n");
  if (end != std::string::npos) data.resize(end);
  if (data.empty()) {
    *error = path + ": the first line is empty";
    return false;
  }
  *secret = data;
  return true;
}

}  // namespace service
