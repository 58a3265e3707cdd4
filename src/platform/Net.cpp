#include "platform/Net.h"

namespace net {

bool Stream::sendAll(const char* data, int length) {
  while (length > 0) {
    int n = send(data, length);
    if (n <= 0) return false;
    data += n;
    length -= n;
  }
  return true;
}

}  // namespace net
