// A stream that plays scripted replies and records what is sent, and a send
// log kept in memory: the dialogue without a network.
#pragma once
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/Net.h"
#include "sendlib/SendLog.h"

namespace sendlib {

const char kError[] = "<error>";

// Hands out scripted pieces, one per receive ("" = the peer closed), and
// records what is sent; sends fail once `sendLimit` bytes have gone.
class ScriptedStream : public net::Stream {
 public:
  explicit ScriptedStream(std::deque<std::string> pieces) : pieces_(std::move(pieces)) {}
  int send(const char* data, int length) override {
    if (sent.size() + static_cast<size_t>(length) > sendLimit) return -1;
    sent.append(data, static_cast<size_t>(length));
    return length;
  }
  int receive(char* buffer, int capacity) override {
    if (pieces_.empty()) return 0;
    std::string& p = pieces_.front();
    if (p == kError) {
      pieces_.pop_front();
      return -1;
    }
    size_t n = p.size() < static_cast<size_t>(capacity) ? p.size() : static_cast<size_t>(capacity);
    std::memcpy(buffer, p.data(), n);
    p.erase(0, n);
    if (p.empty()) pieces_.pop_front();
    return static_cast<int>(n);
  }
  int error() const override { return 10060; }
  void close() override {}

  std::string sent;
  size_t sendLimit = ~size_t{0};

 private:
  std::deque<std::string> pieces_;
};

class MemoryLog : public SendLog {
 public:
  using SendLog::write;
  void write(const char* data, size_t length) override { entries.emplace_back(data, length); }
  std::vector<std::string> entries;
};

}  // namespace sendlib
