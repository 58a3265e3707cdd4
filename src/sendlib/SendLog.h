// The send log: one entry per command, reply, message line and failure.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace sendlib {

class SendLog {
 public:
  virtual ~SendLog() = default;
  virtual void write(const char* data, size_t length) = 0;
  void write(const std::string& entry) { write(entry.data(), entry.size()); }
  void write(const char* entry);
};

// Each entry is appended in binary followed by one LF; the file is opened
// and closed per entry. Nothing is written when disabled.
class AppendingSendLog : public SendLog {
 public:
  AppendingSendLog(std::string path, bool enabled) : path_(std::move(path)), enabled_(enabled) {}
  using SendLog::write;
  void write(const char* data, size_t length) override;

 private:
  std::string path_;  // Shift_JIS
  bool enabled_;
};

// The file is emptied when the log opens and stays open until it goes;
// each entry is written as crlfLines gives it. Nothing is written, and an
// existing file is left, when disabled.
class OpenSendLog : public SendLog {
 public:
  OpenSendLog(const std::string& path, bool enabled);
  ~OpenSendLog() override;
  OpenSendLog(const OpenSendLog&) = delete;
  OpenSendLog& operator=(const OpenSendLog&) = delete;
  using SendLog::write;
  void write(const char* data, size_t length) override;

 private:
  FILE* file_ = nullptr;
};

// An entry as a text-mode line: every line end CR LF, and one at its end;
// the entry's own final line end (a server reply's CR LF) is not doubled.
std::string crlfLines(std::string_view entry);

// Writes nothing.
class SilentSendLog : public SendLog {
 public:
  using SendLog::write;
  void write(const char*, size_t) override {}
};

}  // namespace sendlib
