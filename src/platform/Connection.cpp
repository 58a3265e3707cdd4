#include "platform/Connection.h"

#include <cstring>

#include "platform/Clock.h"

namespace net {

ConnectReport reportConnectFailure(ConnectFailure failure, const char* serverKind) {
  switch (failure) {
    case ConnectFailure::kNone: return {};
    case ConnectFailure::kStartup: return {11, "ソケット初期化失敗"};
    case ConnectFailure::kResolve: return {12, std::string(serverKind) + "サーバが見つかりません"};
    case ConnectFailure::kSocket: return {13, "ソケットをオープンできません"};
    case ConnectFailure::kConnect: return {14, std::string(serverKind) + "サーバに接続できません"};
    case ConnectFailure::kTimeoutSet: return {16, "受信タイムアウト設定に失敗"};
  }
  return {};
}

size_t LineReader::take(const char* data, size_t length, std::string* line) {
  line->clear();
  if (overlong_) {
    pending_.clear();
    overlong_ = false;
  }
  const char* lf = static_cast<const char*>(std::memchr(data, '\n', length));
  size_t used = lf ? static_cast<size_t>(lf - data) + 1 : length;
  if (pending_.size() + used > maxLength_) {
    used = maxLength_ - pending_.size();
    lf = nullptr;
  }
  pending_.append(data, used);
  if (lf) {
    line->swap(pending_);
    pending_.clear();
  } else if (pending_.size() >= maxLength_) {
    overlong_ = true;
    line->swap(pending_);
    pending_.clear();
  }
  return used;
}

Connection::~Connection() { drop(); }

ConnectFailure Connection::connect(const std::string& server, uint16_t port, int receiveTimeoutMs,
                                   int connectTimeoutMs) {
  tls_.reset();
  failedTls_.reset();
  if (!started_) {
    if (!startup(&error_)) return ConnectFailure::kStartup;
    started_ = true;
  }
  uint32_t address = 0;
  if (!resolveHost(server.c_str(), &address)) return ConnectFailure::kResolve;
  if (!socket_.create()) return ConnectFailure::kSocket;
  if (!socket_.setReceiveTimeout(receiveTimeoutMs)) return ConnectFailure::kTimeoutSet;
  if (!socket_.connect(address, port, connectTimeoutMs)) {
    error_ = socket_.error();
    return ConnectFailure::kConnect;
  }
  touch();
  return ConnectFailure::kNone;
}

bool Connection::startTls(const Endpoint& endpoint, int timeoutMs, bool oneReadPerCall) {
  TlsOptions options;
  options.hostName = endpoint.server;
  options.verify = endpoint.verifyCertificate;
  options.trustFile = endpoint.trustFile;
  auto tls = std::make_unique<TlsStream>(socket_);
  if (!tls->handshake(options, timeoutMs)) {
    failedTls_ = std::move(tls);
    return false;
  }
  tls->setOneReadPerCall(oneReadPerCall);
  tls_ = std::move(tls);
  touch();
  return true;
}

int Connection::receive(char* buffer, int capacity) {
  int n = stream().receive(buffer, capacity);
  if (n < 0) {
    error_ = stream().error();
    return -1;
  }
  touch();
  return n;
}

bool Connection::send(const std::string& text) {
  int sent = stream().send(text.data(), static_cast<int>(text.size()));
  if (sent != static_cast<int>(text.size())) {
    error_ = stream().error();
    return false;
  }
  touch();
  return true;
}

int Connection::readLine(LineReader& reader, std::string* line, int timeoutMs) {
  std::string& pending = reader.pending();
  size_t lf = pending.find('\n');
  if (lf != std::string::npos) {  // it came with the previous line
    *line = pending.substr(0, lf + 1);
    pending.erase(0, lf + 1);
    return 1;
  }
  uint64_t deadline = platform::monotonicMs() + static_cast<uint64_t>(timeoutMs);
  char buffer[1024];
  for (;;) {
    int n = receive(buffer, sizeof buffer);
    if (n == 0) return -2;
    if (n < 0 && error_ != kErrWouldBlock) return -1;
    if (n > 0) {
      size_t used = reader.take(buffer, static_cast<size_t>(n), line);
      if (!line->empty()) {
        // Bytes after the line are kept for the next one.
        reader.pending().assign(buffer + used, static_cast<size_t>(n) - used);
        return 1;
      }
    }
    if (platform::monotonicMs() >= deadline) {
      error_ = kErrTimedOut;
      return 0;
    }
  }
}

void Connection::touch() { lastActivityMs_ = platform::monotonicMs(); }

bool Connection::silentFor(uint64_t nowMs, int limitMs) const {
  return nowMs >= lastActivityMs_ && nowMs - lastActivityMs_ >= static_cast<uint64_t>(limitMs);
}

bool Connection::close() {
  if (tls_) tls_->close();  // close_notify, then the socket
  tls_.reset();
  socket_.close();
  if (started_) {
    started_ = false;
    if (!cleanup(&error_)) return false;
  }
  return true;
}

void Connection::drop() {
  tls_.reset();
  if (socket_.isOpen()) socket_.close();
  if (started_) {
    started_ = false;
    int error = 0;
    cleanup(&error);
  }
}

}  // namespace net
