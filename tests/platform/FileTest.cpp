#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/File.h"
#include "platform/Text.h"
#include "support/TempDir.h"

namespace {

TEST(File, ShiftJisPathsWithBackslashesReachTheFileSystem) {
  testsupport::TempDir dir;
  // "表示" has 0x5C as a second byte: it must not be taken for a separator.
  std::string folder = dir.sjisPath() + "\\表示";
  ASSERT_TRUE(platform::makeDirectory(folder.c_str()));
  EXPECT_TRUE(platform::isDirectory(folder.c_str()));
  std::string file = folder + "\\通信ログ.txt";
  ASSERT_TRUE(platform::writeWholeFile(file.c_str(), "abc"));
  // On the host the name is UTF-8, one folder down.
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.path() + u8"/表示/通信ログ.txt"));
  EXPECT_EQ(platform::fileSize(file.c_str()), 3);
  std::string data;
  ASSERT_TRUE(platform::readWholeFile(file.c_str(), &data));
  EXPECT_EQ(data, "abc");

  std::string other = folder + "\\new.tmp";
  ASSERT_TRUE(platform::writeWholeFile(other.c_str(), "12345"));
  ASSERT_TRUE(platform::replaceFile(other.c_str(), file.c_str()));
  EXPECT_FALSE(platform::fileExists(other.c_str()));
  EXPECT_EQ(platform::fileSize(file.c_str()), 5);
  EXPECT_TRUE(platform::removeFile(file.c_str()));
  EXPECT_EQ(platform::fileSize(file.c_str()), -1);
  EXPECT_FALSE(platform::removeFile(file.c_str()));
}

TEST(File, TempFolderEndsWithSeparator) {
  std::string t = platform::tempFolder();
  ASSERT_FALSE(t.empty());
  EXPECT_TRUE(t.back() == '/' || t.back() == '\\');
  EXPECT_FALSE(platform::computerName().empty());
}

}  // namespace
