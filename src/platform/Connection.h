// The connection under the mail protocols (POP3, IMAP): connect, TLS from
// the first byte or after STLS/STARTTLS with the certificate checked, a
// line reader, and the silence timer. The protocols bring their own state
// machines and log texts; this layer reports which step failed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Net.h"
#include "platform/Tls.h"

namespace net {

// How a session is secured: plaintext, STLS/STARTTLS on the plain port, or
// TLS from the first byte (POP3S, IMAPS).
enum class Security { kPlain = 0, kStartTls = 1, kTls = 2 };

struct Endpoint {
  std::string server;
  uint16_t port = 0;
  Security security = Security::kPlain;
  bool verifyCertificate = true;
  std::string trustFile;  // PEM, besides the system's trusted certificates
};

// How often a session's silence is looked at while it awaits a reply.
constexpr uint64_t kSilenceCheckMs = 1000;

// The step of connect() that failed.
enum class ConnectFailure { kNone, kStartup, kResolve, kSocket, kTimeoutSet, kConnect };

// A failed connect as the mail sessions report it: the step code they
// share (11 startup, 12 resolve, 13 socket, 14 connect, 16 time-out set;
// 0 for kNone) and the log line, naming the server kind ("POP", "IMAP").
struct ConnectReport {
  int code = 0;
  std::string line;
};
ConnectReport reportConnectFailure(ConnectFailure failure, const char* serverKind);

// Collects a line across reads: bytes up to and including LF.
class LineReader {
 public:
  explicit LineReader(size_t maxLength) : maxLength_(maxLength) {}
  // Moves bytes up to and including the next LF into the pending line and
  // returns how many were used. *line receives the line once it is
  // complete, or once it has grown beyond the limit without a line end
  // (then overlong() is true until the next line).
  size_t take(const char* data, size_t length, std::string* line);
  bool overlong() const { return overlong_; }
  // Bytes of a line still waiting for its end (or kept after a line).
  std::string& pending() { return pending_; }
  void clear() { pending_.clear(); overlong_ = false; }

 private:
  size_t maxLength_;
  std::string pending_;
  bool overlong_ = false;
};

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Starts the socket layer, resolves the server, connects (waiting at most
  // `connectTimeoutMs`; 0: as long as the platform does). Reads block at
  // most `receiveTimeoutMs` until the session runs on notifications.
  ConnectFailure connect(const std::string& server, uint16_t port, int receiveTimeoutMs, int connectTimeoutMs = 0);
  // The TLS handshake and certificate check over the connected socket
  // (before the greeting, or after the server granted STLS/STARTTLS).
  // false with the stream kept for tlsFailureLine(); the socket stays open.
  // Sessions on notifications read one socket read per call (see
  // TlsStream::setOneReadPerCall); a blocking dialogue (SMTP) does not.
  bool startTls(const Endpoint& endpoint, int timeoutMs, bool oneReadPerCall = true);
  const TlsStream* tls() const { return tls_.get(); }
  // The TLS stream of a failed handshake, for its log line.
  const TlsStream* failedTls() const { return failedTls_.get(); }

  bool isOpen() const { return socket_.isOpen(); }
  TcpSocket& socket() { return socket_; }
  // The stream the protocol runs on: the socket, or TLS over it.
  Stream& stream() { return tls_ ? static_cast<Stream&>(*tls_) : socket_; }
  // One read (one socket read under TLS): >0 bytes, 0 when the server has
  // closed, -1 on error (error(); kErrWouldBlock when nothing had come).
  int receive(char* buffer, int capacity);
  int error() const { return error_; }
  // Decrypted bytes waiting (no socket notification comes for those).
  int pending() { return stream().pending(); }
  // Sends the whole text; false on error.
  bool send(const std::string& text);

  // Reads synchronously until `reader` yields a line (greeting, the reply
  // to STLS/STARTTLS): 1 with *line, 0 on time-out, -1 on error, -2 when
  // the server closed. Bytes after the line stay in the reader.
  int readLine(LineReader& reader, std::string* line, int timeoutMs);

  // The silence timer: every read and send counts as activity.
  void touch();
  bool silentFor(uint64_t nowMs, int limitMs) const;

  // Sends close_notify under TLS, closes the socket and the socket layer.
  // false when the socket layer could not be cleaned up (error()).
  bool close();
  // Closes without close_notify (a stream that cannot be trusted any more).
  void drop();

 private:
  TcpSocket socket_;
  std::unique_ptr<TlsStream> tls_;
  std::unique_ptr<TlsStream> failedTls_;
  bool started_ = false;
  int error_ = 0;
  uint64_t lastActivityMs_ = 0;
};

}  // namespace net
