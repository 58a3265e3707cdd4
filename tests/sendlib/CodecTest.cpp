#include <gtest/gtest.h>

#include <string>

#include "sendlib/Md5.h"

namespace sendlib {
namespace {

std::string hexOf(const std::string& s) {
  return toHex(md5(s.data(), s.size()));
}

TEST(Md5, Rfc1321TestSuite) {
  struct Row { const char* in; const char* digest; } rows[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Row& r : rows) EXPECT_EQ(hexOf(r.in), r.digest) << r.in;
}

TEST(Md5, PiecewiseUpdatesMatchOneShot) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data += static_cast<char>(i * 31);
  for (size_t piece : {1u, 3u, 63u, 64u, 65u, 200u}) {
    Md5 h;
    for (size_t at = 0; at < data.size(); at += piece)
      h.update(data.data() + at, data.size() - at < piece ? data.size() - at : piece);
    EXPECT_EQ(toHex(h.finish()), hexOf(data)) << piece;
  }
}

TEST(HmacMd5, Rfc2104AndRfc2202Vectors) {
  struct Row { std::string key; std::string data; const char* digest; } rows[] = {
      {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
      {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
      {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
      // Keys longer than a block are hashed first.
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
      {std::string(80, '\xaa'),
       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "6f630fad67cda0ee1fb1f562db3aa53e"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(toHex(hmacMd5(r.key.data(), r.key.size(), r.data.data(), r.data.size())), r.digest)
        << r.key;
}

TEST(Md5, HexKeepsLeadingZeros) {
  Md5Digest d{};
  d[0] = 0x00;
  d[1] = 0x0f;
  d[15] = 0xa0;
  EXPECT_EQ(toHex(d), "000f00000000000000000000000000a0");
}

}  // namespace
}  // namespace sendlib
