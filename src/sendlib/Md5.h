// MD5 (RFC 1321) and HMAC-MD5 (RFC 2104) for CRAM-MD5.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sendlib {

using Md5Digest = std::array<uint8_t, 16>;

class Md5 {
 public:
  Md5();
  void update(const void* data, size_t length);
  Md5Digest finish();

 private:
  void block(const uint8_t* p);
  uint32_t state_[4];
  uint64_t length_ = 0;  // bytes hashed so far
  uint8_t buffer_[64];
};

Md5Digest md5(const void* data, size_t length);
Md5Digest hmacMd5(const void* key, size_t keyLength, const void* message, size_t messageLength);
// 32 lower-case hexadecimal digits.
std::string toHex(const Md5Digest& digest);

}  // namespace sendlib
