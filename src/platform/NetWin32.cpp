#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/Net.h"

namespace net {
namespace {
Resolver g_resolver = nullptr;

bool systemResolve(const char* host, uint32_t* ipv4) {
  hostent* h = gethostbyname(host);
  if (!h) {
    unsigned long addr = inet_addr(host);
    if (addr == INADDR_NONE) return false;
    h = gethostbyaddr(reinterpret_cast<const char*>(&addr), 4, AF_INET);
    if (!h) {
      // A dotted address without a name still names a host.
      *ipv4 = static_cast<uint32_t>(addr);
      return true;
    }
  }
  if (h->h_addrtype != AF_INET || !h->h_addr_list[0]) return false;
  memcpy(ipv4, h->h_addr_list[0], 4);
  return true;
}
}  // namespace

bool startup(int* error) {
  WSADATA data;
  int rc = WSAStartup(MAKEWORD(2, 0), &data);
  if (error) *error = rc;
  return rc == 0;
}

bool cleanup(int* error) {
  int rc = WSACleanup();
  if (error) *error = rc == 0 ? 0 : WSAGetLastError();
  return rc == 0;
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

void TcpSocket::recordError() { error_ = WSAGetLastError(); }

bool TcpSocket::create() {
  close();
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    recordError();
    return false;
  }
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  handle_ = static_cast<intptr_t>(s);
  return true;
}

bool TcpSocket::setReceiveTimeout(int milliseconds) {
  DWORD ms = static_cast<DWORD>(milliseconds);
  if (::setsockopt(static_cast<SOCKET>(handle_), SOL_SOCKET, SO_RCVTIMEO,
                   reinterpret_cast<const char*>(&ms), sizeof ms) != 0) {
    recordError();
    return false;
  }
  return true;
}

bool TcpSocket::connect(uint32_t ipv4, uint16_t port, int timeoutMs) {
  SOCKET s = static_cast<SOCKET>(handle_);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = ipv4;
  if (timeoutMs <= 0) {
    if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      recordError();
      return false;
    }
    return true;
  }
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  if (!ok && WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int ready = ::select(0, nullptr, &writable, &failed, &tv);
    if (ready == 0) {
      error_ = WSAETIMEDOUT;
    } else if (ready > 0 && FD_ISSET(s, &writable)) {
      ok = true;
    } else {
      int soError = 0;
      int len = sizeof soError;
      getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
      error_ = soError ? soError : WSAECONNREFUSED;
    }
  } else if (!ok) {
    recordError();
  }
  nonBlocking = 0;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  return ok;
}

int TcpSocket::waitReadable(int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(static_cast<SOCKET>(handle_), &readable);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  int rc = ::select(0, &readable, nullptr, nullptr, &tv);
  if (rc < 0) recordError();
  return rc < 0 ? -1 : rc > 0 ? 1 : 0;
}

int TcpSocket::send(const char* data, int length) {
  int n = ::send(static_cast<SOCKET>(handle_), data, length, 0);
  if (n == SOCKET_ERROR) {
    recordError();
    return -1;
  }
  return n;
}

int TcpSocket::receive(char* buffer, int capacity) {
  int n = ::recv(static_cast<SOCKET>(handle_), buffer, capacity, 0);
  if (n == SOCKET_ERROR) {
    recordError();
    return -1;
  }
  return n;
}

void TcpSocket::close() {
  if (handle_ != kNone) ::closesocket(static_cast<SOCKET>(handle_));
  handle_ = kNone;
}

TcpListener::~TcpListener() { close(); }

bool TcpListener::listen(uint16_t port) {
  close();
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof sa;
  BOOL exclusive = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, 4) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    ::closesocket(s);
    return false;
  }
  handle_ = static_cast<intptr_t>(s);
  port_ = ntohs(sa.sin_port);
  return true;
}

int TcpListener::accept(TcpSocket* socket, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(static_cast<SOCKET>(handle_), &readable);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  int rc = ::select(0, &readable, nullptr, nullptr, &tv);
  if (rc <= 0) return rc < 0 ? -1 : 0;
  SOCKET s = ::accept(static_cast<SOCKET>(handle_), nullptr, nullptr);
  if (s == INVALID_SOCKET) return -1;
  socket->close();
  socket->handle_ = static_cast<intptr_t>(s);
  return 1;
}

void TcpListener::close() {
  if (handle_ != TcpSocket::kNone) ::closesocket(static_cast<SOCKET>(handle_));
  handle_ = TcpSocket::kNone;
  port_ = 0;
}

}  // namespace net
