#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "daemon/SecretFile.h"
#include "platform/File.h"
#include "support/TempDir.h"

namespace {

TEST(SecretFile, OnlyThePrivateFirstLine) {
  testsupport::TempDir dir;
  struct Case {
    const char* content;
    mode_t mode;
    const char* secret;  // nullptr: refused
    const char* error;   // the end of the message
  } cases[] = {
      {"pop-secret\n", 0600, "pop-secret", ""},
      {"pop-secret\r\nsecond line\n", 0640, "pop-secret", ""},
      {"no line end", 0400, "no line end", ""},
      {"pop-secret\n", 0604, nullptr, "readable or writable by every user; allow only the service user (chmod 600)"},
      {"pop-secret\n", 0602, nullptr, "readable or writable by every user; allow only the service user (chmod 600)"},
      {"\nsecret on line 2\n", 0600, nullptr, "the first line is empty"},
      {"", 0600, nullptr, "the first line is empty"},
  };
  for (const Case& c : cases) {
    std::string path = dir.path() + "/password";
    ::unlink(path.c_str());
    ASSERT_TRUE(platform::writeWholeFile(path.c_str(), c.content));
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    std::string secret, error;
    EXPECT_EQ(service::readSecretFile(path, &secret, &error), c.secret != nullptr) << c.content << c.mode;
    EXPECT_EQ(secret, c.secret ? c.secret : "");
    if (!c.secret) {
      EXPECT_EQ(error, path + ": " + c.error);
    }
  }
}

TEST(SecretFile, MissingLinkedOrNotAFile) {
  testsupport::TempDir dir;
  const std::string target = dir.path() + "/real";
  ASSERT_TRUE(platform::writeWholeFile(target.c_str(), "x\n"));
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  ASSERT_EQ(::symlink(target.c_str(), (dir.path() + "/link").c_str()), 0);
  struct Case {
    std::string path;
    std::string error;
  } cases[] = {
      {dir.path() + "/none", dir.path() + "/none: No such file or directory"},
      {dir.path() + "/link", dir.path() + "/link: Too many levels of symbolic links"},
      {dir.path(), dir.path() + ": not a regular file"},
  };
  for (const Case& c : cases) {
    std::string secret, error;
    EXPECT_FALSE(service::readSecretFile(c.path, &secret, &error));
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
