// A POP3 peer on 127.0.0.1 that follows a script: for each step it reads
// one command line (unless the step expects none) and answers with the
// given chunks, pausing between them so the client reads them separately.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct ScriptStep {
  std::string expect;               // prefix of the command; empty: none
  std::vector<std::string> chunks;  // written one at a time
};

class ScriptedServer {
 public:
  enum class Ending { kClose, kStall };

  explicit ScriptedServer(std::vector<ScriptStep> script, Ending ending = Ending::kClose)
      : script_(std::move(script)), ending_(ending) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(listener_, 1);
    socklen_t len = sizeof sa;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }

  uint16_t port() const { return port_; }
  // Commands received, without line ends; waits for the client to close.
  const std::vector<std::string>& commands() {
    if (ending_ == Ending::kClose && thread_.joinable()) thread_.join();
    return commands_;
  }
  bool mismatch() {
    commands();
    return mismatch_;
  }

 private:
  void serve() {
    int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    std::string pending;
    for (const ScriptStep& step : script_) {
      if (!step.expect.empty()) {
        std::string line;
        if (!readLine(fd, &pending, &line)) break;
        commands_.push_back(line);
        if (line.compare(0, step.expect.size(), step.expect) != 0) mismatch_ = true;
      }
      for (size_t i = 0; i < step.chunks.size(); ++i) {
        if (i) std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ::send(fd, step.chunks[i].data(), step.chunks[i].size(), MSG_NOSIGNAL);
      }
    }
    if (ending_ == Ending::kStall) {
      while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else {
      // Collect what the client still sends (QUIT) before closing.
      std::string line;
      timeval tv{0, 300000};
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      while (readLine(fd, &pending, &line)) commands_.push_back(line);
    }
    ::close(fd);
  }

  static bool readLine(int fd, std::string* pending, std::string* line) {
    for (;;) {
      size_t lf = pending->find("\r\n");
      if (lf != std::string::npos) {
        *line = pending->substr(0, lf);
        pending->erase(0, lf + 2);
        return true;
      }
      char buf[512];
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return false;
      pending->append(buf, static_cast<size_t>(n));
    }
  }

  std::vector<ScriptStep> script_;
  Ending ending_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  std::vector<std::string> commands_;
  bool mismatch_ = false;
  volatile bool stop_ = false;
};

}  // namespace testsupport
