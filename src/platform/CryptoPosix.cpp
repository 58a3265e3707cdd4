#include <fcntl.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Crypto.h"
#include "platform/File.h"

namespace platform {

std::string sha256(const std::string& data) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

bool randomBytes(size_t count, std::string* out) {
  out->assign(count, '\0');
  return RAND_bytes(reinterpret_cast<unsigned char*>(&(*out)[0]), static_cast<int>(count)) == 1;
}

bool protectData(const std::string& plain, std::string* sealed) {
  *sealed = plain;
  return true;
}

bool unprotectData(const std::string& sealed, std::string* plain) {
  *plain = sealed;
  return true;
}

bool writePrivateFile(const char* path, const std::string& data) {
  const std::string target = nativePath(path);
  const std::string temporary = target + ".new";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::fchmod(fd, 0600);
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == data.size() && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace platform
