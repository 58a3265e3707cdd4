// TCP sockets for the POP3 and SMTP clients. Protocol code talks to a
// Stream, so a TLS stream (Tls.h) can wrap a TcpSocket without touching it.
#pragma once
#include <cstdint>
#include <string>

namespace net {

// Error numbers are WinSock's on every platform.
enum : int {
  kErrInterrupted = 10004,
  kErrWouldBlock = 10035,
  kErrNotConnected = 10057,
  kErrConnReset = 10054,
  kErrTimedOut = 10060,
  kErrConnRefused = 10061,
  kErrHostNotFound = 11001,
};

// WSAStartup(2.0) and WSACleanup; no-ops that succeed on POSIX.
bool startup(int* error);
bool cleanup(int* error);

// This computer's host name as the socket layer reports it (gethostname;
// on Windows after startup); empty when it cannot be read.
std::string hostName();

// Resolves a host name, else a dotted IPv4 address (looked up by address).
// The address is in network byte order.
bool resolveHost(const char* host, uint32_t* ipv4);
// Tests replace name resolution so that no query leaves the machine.
using Resolver = bool (*)(const char* host, uint32_t* ipv4);
void setResolver(Resolver resolver);

class Stream {
 public:
  virtual ~Stream() = default;
  // Bytes sent (possibly fewer than length), or -1 on error.
  virtual int send(const char* data, int length) = 0;
  // Bytes received, 0 when the peer has closed, -1 on error (see error()).
  virtual int receive(char* buffer, int capacity) = 0;
  virtual int error() const = 0;
  virtual void close() = 0;
  // Bytes already received and decoded that the next receive() returns
  // without reading the socket (a TLS stream's decrypted records).
  virtual int pending() const { return 0; }

  // Sends every byte, looping over partial sends; false on error.
  bool sendAll(const char* data, int length);
};

class TcpSocket : public Stream {
 public:
  TcpSocket() = default;
  ~TcpSocket() override;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  bool create();
  bool isOpen() const { return handle_ != kNone; }
  bool setReceiveTimeout(int milliseconds);
  // Connects; timeoutMs <= 0 waits as long as the platform does.
  bool connect(uint32_t ipv4, uint16_t port, int timeoutMs = 0);
  // 1 when data (or a close) can be read, 0 on time-out, -1 on error.
  int waitReadable(int timeoutMs);

  int send(const char* data, int length) override;
  int receive(char* buffer, int capacity) override;
  int error() const override { return error_; }
  void close() override;

  intptr_t handle() const { return handle_; }

 private:
  friend class TcpListener;
  static constexpr intptr_t kNone = -1;
  void recordError();
  intptr_t handle_ = kNone;
  int error_ = 0;
};

// A listening socket on 127.0.0.1 (the sign-in's redirect from the browser).
class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Listens on 127.0.0.1:port (0: a free port the system picks).
  bool listen(uint16_t port = 0);
  uint16_t port() const { return port_; }
  // Waits up to timeoutMs for a connection: 1 accepted into *socket, 0 on
  // time-out, -1 on error.
  int accept(TcpSocket* socket, int timeoutMs);
  void close();

 private:
  intptr_t handle_ = TcpSocket::kNone;
  uint16_t port_ = 0;
};

}  // namespace net
