// libcurl is mapped only while someone holds it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/CurlLibrary.h"

namespace {

bool curlMapped() {
  std::ifstream maps("/proc/self/maps");
  std::stringstream text;
  text << maps.rdbuf();
  return text.str().find("libcurl") != std::string::npos;
}

TEST(CurlLibrary, LoadedWhileHeldAndUnloadedByTheLastHolder) {
  ASSERT_FALSE(curlMapped());
  std::string error;
  const net::CurlApi* first = net::acquireCurl(&error);
  ASSERT_NE(first, nullptr) << error;
  EXPECT_TRUE(curlMapped());
  EXPECT_EQ(net::acquireCurl(&error), first);
  net::releaseCurl();
  EXPECT_TRUE(curlMapped());
  net::releaseCurl();
  EXPECT_FALSE(curlMapped());
  net::releaseCurl();  // one too many changes nothing
  ASSERT_NE(net::acquireCurl(&error), nullptr) << error;  // and it loads again
  EXPECT_STREQ(net::acquireCurl(&error)->easyStrerror(CURLE_OK), "No error");
  net::releaseCurl();
  net::releaseCurl();
  EXPECT_FALSE(curlMapped());
}

}  // namespace
