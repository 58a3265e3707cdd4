#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/Net.h"

namespace {

// A listening socket on 127.0.0.1 with a kernel-chosen port.
struct Listener {
  int fd = -1;
  uint16_t port = 0;
  Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(fd, 4);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
  }
  ~Listener() { ::close(fd); }
};

TEST(Net, ResolvesLoopbackByNameAndByAddress) {
  uint32_t a = 0, b = 0;
  ASSERT_TRUE(net::resolveHost("localhost", &a));
  ASSERT_TRUE(net::resolveHost("127.0.0.1", &b));
  EXPECT_EQ(b, htonl(INADDR_LOOPBACK));
  EXPECT_FALSE(net::resolveHost("", &a));
}

TEST(Net, ResolverCanBeReplaced) {
  net::setResolver([](const char* host, uint32_t* addr) {
    *addr = 0x0100007f;
    return std::strcmp(host, "mail.example") == 0;
  });
  uint32_t a = 0;
  EXPECT_TRUE(net::resolveHost("mail.example", &a));
  EXPECT_EQ(a, 0x0100007fu);
  EXPECT_FALSE(net::resolveHost("other.example", &a));
  net::setResolver(nullptr);
}

TEST(Net, ConnectsSendsReceivesAndTimesOut) {
  Listener l;
  net::TcpSocket s;
  ASSERT_TRUE(s.create());
  ASSERT_TRUE(s.connect(htonl(INADDR_LOOPBACK), l.port, 2000));
  int peer = ::accept(l.fd, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  EXPECT_TRUE(s.sendAll("hello", 5));
  char buf[16] = {};
  EXPECT_EQ(::recv(peer, buf, sizeof buf, 0), 5);
  EXPECT_EQ(s.waitReadable(50), 0);
  ASSERT_TRUE(s.setReceiveTimeout(100));
  EXPECT_EQ(s.receive(buf, sizeof buf), -1);
  EXPECT_EQ(s.error(), net::kErrTimedOut);
  ::send(peer, "+OK", 3, 0);
  EXPECT_EQ(s.waitReadable(1000), 1);
  EXPECT_EQ(s.receive(buf, sizeof buf), 3);
  ::close(peer);
  EXPECT_EQ(s.receive(buf, sizeof buf), 0);
}

TEST(Net, RefusedConnectionReportsError) {
  uint16_t port;
  {
    Listener l;
    port = l.port;
  }
  net::TcpSocket s;
  ASSERT_TRUE(s.create());
  EXPECT_FALSE(s.connect(htonl(INADDR_LOOPBACK), port, 2000));
  EXPECT_EQ(s.error(), net::kErrConnRefused);
}

}  // namespace
