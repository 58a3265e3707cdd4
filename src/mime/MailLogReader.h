// How the MIME code reads a stored mail back: the mail store implements
// this over its mail log; tests and tools use MemoryLogReader.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

namespace mime {

class MailLogReader {
 public:
  virtual ~MailLogReader() = default;
  // Reads `length` bytes of the mail log at the absolute `position` into
  // `buffer`, which holds length + 1 bytes: every NUL byte of the log
  // arrives as a space and a NUL follows the data. True when all
  // `length` bytes were read, false otherwise (bad position or length, no log,
  // short read); the buffer's content is then undefined.
  virtual bool readFromLog(char* buffer, int32_t length, int32_t position) = 0;
  // The log's size in bytes (-1 when unknown). Reads that would end beyond
  // it are refused before a buffer is allocated for them.
  virtual int64_t logSize() = 0;
};

// A mail log held in memory.
class MemoryLogReader : public MailLogReader {
 public:
  explicit MemoryLogReader(std::string log) : log_(std::move(log)) {}
  bool readFromLog(char* buffer, int32_t length, int32_t position) override {
    if (length < 0 || position < 0 || static_cast<uint64_t>(position) + static_cast<uint64_t>(length) > log_.size())
      return false;
    char* end = buffer + length;
    std::memcpy(buffer, log_.data() + position, static_cast<size_t>(length));
    for (char* nul = buffer; (nul = static_cast<char*>(std::memchr(nul, 0, static_cast<size_t>(end - nul))));)
      *nul++ = ' ';  // a NUL reads as a space
    *end = 0;
    return true;
  }
  int64_t logSize() override { return static_cast<int64_t>(log_.size()); }
  const std::string& log() const { return log_; }

 private:
  std::string log_;
};

}  // namespace mime
