#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Net.h"

namespace net {
namespace {

Resolver g_resolver = nullptr;

int toWinsockError(int e) {
  switch (e) {
    case EAGAIN: return kErrTimedOut;  // SO_RCVTIMEO expired
    case EINPROGRESS: return kErrWouldBlock;
    case ETIMEDOUT: return kErrTimedOut;
    case ECONNREFUSED: return kErrConnRefused;
    case ECONNRESET: case EPIPE: return kErrConnReset;
    case ENOTCONN: return kErrNotConnected;
    case EINTR: return kErrInterrupted;
    default: return 10000 + e;
  }
}

bool systemResolve(const char* host, uint32_t* ipv4) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &result) == 0 && result) {
    *ipv4 = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(result);
    return true;
  }
  // A dotted address that has no name still names a host.
  in_addr addr{};
  if (inet_pton(AF_INET, host, &addr) == 1) {
    *ipv4 = addr.s_addr;
    return true;
  }
  return false;
}

}  // namespace

bool startup(int* error) {
  if (error) *error = 0;
  return true;
}

bool cleanup(int* error) {
  if (error) *error = 0;
  return true;
}

std::string hostName() {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return std::string();
  return buf;
}

void setResolver(Resolver resolver) { g_resolver = resolver; }

bool resolveHost(const char* host, uint32_t* ipv4) {
  if (!host || !*host) return false;
  return g_resolver ? g_resolver(host, ipv4) : systemResolve(host, ipv4);
}

TcpSocket::~TcpSocket() { close(); }

void TcpSocket::recordError() {
  int e = errno;
  // On a non-blocking socket (as WinSock's are once notifications are
  // asked for) EAGAIN means "nothing yet", not an SO_RCVTIMEO time-out.
  int flags = handle_ != kNone ? ::fcntl(static_cast<int>(handle_), F_GETFL, 0) : -1;
  error_ = e == EAGAIN && flags != -1 && (flags & O_NONBLOCK) ? kErrWouldBlock : toWinsockError(e);
}

bool TcpSocket::create() {
  close();
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    recordError();
    return false;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  handle_ = fd;
  return true;
}

bool TcpSocket::setReceiveTimeout(int milliseconds) {
  timeval tv{milliseconds / 1000, (milliseconds % 1000) * 1000};
  if (::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
    recordError();
    return false;
  }
  return true;
}

bool TcpSocket::connect(uint32_t ipv4, uint16_t port, int timeoutMs) {
  int fd = static_cast<int>(handle_);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = ipv4;
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (timeoutMs > 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (rc != 0 && errno == EINPROGRESS && timeoutMs > 0) {
    pollfd p{fd, POLLOUT, 0};
    int ready = ::poll(&p, 1, timeoutMs);
    if (ready == 0) {
      error_ = kErrTimedOut;
      ::fcntl(fd, F_SETFL, flags);
      return false;
    }
    int soError = 0;
    socklen_t len = sizeof soError;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
    errno = soError;
    rc = soError == 0 ? 0 : -1;
  }
  if (timeoutMs > 0) ::fcntl(fd, F_SETFL, flags);
  if (rc != 0) {
    recordError();
    return false;
  }
  return true;
}

int TcpSocket::waitReadable(int timeoutMs) {
  pollfd p{static_cast<int>(handle_), POLLIN, 0};
  int rc = ::poll(&p, 1, timeoutMs);
  if (rc < 0) recordError();
  return rc < 0 ? -1 : rc > 0 ? 1 : 0;
}

int TcpSocket::send(const char* data, int length) {
  ssize_t n;
  do {
    n = ::send(static_cast<int>(handle_), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) recordError();
  return static_cast<int>(n);
}

int TcpSocket::receive(char* buffer, int capacity) {
  ssize_t n;
  do {
    n = ::recv(static_cast<int>(handle_), buffer, static_cast<size_t>(capacity), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) recordError();
  return static_cast<int>(n);
}

void TcpSocket::close() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

TcpListener::~TcpListener() { close(); }

bool TcpListener::listen(uint16_t port) {
  close();
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  port_ = ntohs(sa.sin_port);
  return true;
}

int TcpListener::accept(TcpSocket* socket, int timeoutMs) {
  pollfd p{static_cast<int>(handle_), POLLIN, 0};
  int rc = ::poll(&p, 1, timeoutMs);
  if (rc <= 0) return rc < 0 ? -1 : 0;
  int fd = ::accept4(static_cast<int>(handle_), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return -1;
  socket->close();
  socket->handle_ = fd;
  return 1;
}

void TcpListener::close() {
  if (handle_ != TcpSocket::kNone) ::close(static_cast<int>(handle_));
  handle_ = TcpSocket::kNone;
  port_ = 0;
}

}  // namespace net
