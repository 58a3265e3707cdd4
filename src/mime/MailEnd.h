// The end of a raw mail as received and stored: its final line ".".
#pragma once
#include <cstddef>
#include <cstring>

namespace mime {

// True when `text` ends with CR LF "." CR LF, or is only "." CR LF.
inline bool endsWithFinalLine(const char* text, size_t size) {
  if (!text) return false;
  if (size == 3) return std::memcmp(text, ".\r\n", 3) == 0;
  return size >= 5 && std::memcmp(text + size - 5, "\r\n.\r\n", 5) == 0;
}

}  // namespace mime
