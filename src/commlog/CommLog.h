// The communication log 通信ログ.txt: plain lines, no time stamps, opened
// and closed for every entry so it is complete on disk at any moment.
#pragma once
#include <string>

namespace commlog {

class CommLog {
 public:
  // The log in the current directory, by its plain name.
  CommLog();
  explicit CommLog(std::string path);
  // The log as lines on standard output, in UTF-8 (a service's journal).
  static CommLog standardOutput() { return CommLog(kStandardOutput); }

  // Appends the text and a line end. LF becomes CR LF; a lone CR stays.
  void logLine(const char* text) const;
  // Appends "label detail" and a line end.
  void logPair(const char* label, const char* detail) const;
  // Deletes the file; a missing file is no error.
  void clear() const;
  // Opens the file in the user's viewer; tells the user when there is none.
  void show() const;

  const std::string& path() const { return path_; }

  static const char kStandardOutput[];  // the path that names standard output

 private:
  void append(const std::string& entry) const;
  std::string path_;
};

extern const char kCommLogFileName[];

// The program's one log.
CommLog& commLog();

}  // namespace commlog
