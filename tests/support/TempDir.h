// A private temporary folder for a test, removed with everything in it.
#pragma once
#include <cstdlib>
#include <string>

#include "platform/Text.h"

namespace testsupport {

class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/quorvel-test-XXXXXX";
    const char* p = mkdtemp(templ);
    path_ = p ? p : "/tmp";
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // UTF-8 path, for the test's own use.
  const std::string& path() const { return path_; }
  // The same path as the program sees it (Shift_JIS).
  std::string sjisPath() const { return platform::utf8ToCp932(path_); }
  std::string sjisFile(const char* sjisName) const { return sjisPath() + "/" + sjisName; }

 private:
  std::string path_;
};

}  // namespace testsupport
