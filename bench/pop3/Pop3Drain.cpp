// The fastest POP3 download we know how to write, to show what a server can
// deliver: all RETR commands in one write, 256 KB reads, the data counted and
// dropped. --serial sends each RETR after the previous mail has arrived, as a
// session without pipelining does. With --tls CA it runs over implicit TLS
// (OpenSSL, certificate and host name checked against CA).
//
//   pop3drain HOST PORT USER PASSWORD COUNT [--serial] [--tls CA]
//   prints: "pop3drain BYTES bytes in SECONDS s"
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "pop3drain: %s\n", what);
  ERR_print_errors_fp(stderr);
  std::exit(1);
}

int connectTo(const char* host, const char* port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, port, &hints, &found) != 0) fail("host not found");
  int fd = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  if (fd < 0 || connect(fd, found->ai_addr, found->ai_addrlen) != 0) fail("connect failed");
  freeaddrinfo(found);
  return fd;
}

// A plain or TLS connection with blocking reads and writes.
class Connection {
 public:
  Connection(const char* host, const char* port, const char* caFile) : fd_(connectTo(host, port)) {
    if (!caFile) return;
    context_ = SSL_CTX_new(TLS_client_method());
    if (!context_ || SSL_CTX_load_verify_locations(context_, caFile, nullptr) != 1) fail("CA file");
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    ssl_ = SSL_new(context_);
    SSL_set_fd(ssl_, fd_);
    SSL_set_tlsext_host_name(ssl_, host);
    SSL_set1_host(ssl_, host);
    if (SSL_connect(ssl_) != 1) fail("TLS handshake failed");
  }
  ~Connection() {
    if (ssl_) SSL_free(ssl_);
    if (context_) SSL_CTX_free(context_);
    close(fd_);
  }

  void write(const std::string& data) {
    int n = ssl_ ? SSL_write(ssl_, data.data(), static_cast<int>(data.size()))
                 : static_cast<int>(send(fd_, data.data(), data.size(), 0));
    if (n != static_cast<int>(data.size())) fail("write failed");
  }
  size_t read(char* buffer, size_t capacity) {
    long n = ssl_ ? SSL_read(ssl_, buffer, static_cast<int>(capacity)) : recv(fd_, buffer, capacity, 0);
    if (n <= 0) fail("the server closed the connection");
    return static_cast<size_t>(n);
  }

 private:
  int fd_;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
};

// Counts occurrences of `pattern` in a stream that arrives in pieces.
class PatternCounter {
 public:
  explicit PatternCounter(std::string pattern) : pattern_(std::move(pattern)) {}
  size_t feed(const char* data, size_t length) {
    size_t found = 0;
    // Matches that straddle the previous piece: search its tail joined to our head.
    std::string seam = tail_ + std::string(data, std::min(length, pattern_.size() - 1));
    for (size_t at = seam.find(pattern_); at != std::string::npos; at = seam.find(pattern_, at + 1)) {
      if (at < tail_.size()) ++found;
    }
    const char* end = data + length;
    for (const char* p = data; p < end;) {
      const void* hit = memmem(p, static_cast<size_t>(end - p), pattern_.data(), pattern_.size());
      if (!hit) break;
      ++found;
      p = static_cast<const char*>(hit) + 1;
    }
    size_t keep = pattern_.size() - 1;
    if (length >= keep) {
      tail_.assign(end - keep, keep);
    } else {
      tail_.append(data, length);
      if (tail_.size() > keep) tail_.erase(0, tail_.size() - keep);
    }
    return found;
  }

 private:
  std::string pattern_;
  std::string tail_;
};

}  // namespace

int main(int argc, char** argv) {
  bool serial = false;
  const char* caFile = nullptr;
  for (int i = 6; i < argc; ++i) {
    if (std::strcmp(argv[i], "--serial") == 0) {
      serial = true;
    } else if (std::strcmp(argv[i], "--tls") == 0 && i + 1 < argc) {
      caFile = argv[++i];
    } else {
      argc = 0;
    }
  }
  if (argc < 6) {
    std::fprintf(stderr, "usage: pop3drain HOST PORT USER PASSWORD COUNT [--serial] [--tls CA]\n");
    return 2;
  }
  const int count = std::atoi(argv[5]);
  auto start = std::chrono::steady_clock::now();
  Connection server(argv[1], argv[2], caFile);

  // Greeting, USER and PASS: three status lines, the last one must be +OK.
  std::string commands = std::string("USER ") + argv[3] + "\r\nPASS " + argv[4] + "\r\n";
  server.write(commands);
  std::string status;
  std::vector<char> buffer(256 * 1024);
  PatternCounter lineEnds("\r\n");
  size_t lines = 0;
  while (lines < 3) {
    size_t n = server.read(buffer.data(), 512);
    status.append(buffer.data(), n);
    lines += lineEnds.feed(buffer.data(), n);
  }
  size_t passReply = status.find("\r\n", status.find("\r\n") + 2) + 2;
  if (status.compare(passReply, 3, "+OK") != 0) fail("login refused");

  auto retr = [](int mail) { return "RETR " + std::to_string(mail) + "\r\n"; };
  commands.clear();
  for (int i = 1; i <= (serial ? 1 : count); ++i) commands += retr(i);
  server.write(commands);
  PatternCounter mailEnds("\r\n.\r\n");
  size_t total = 0;
  for (int done = 0; done < count;) {
    size_t n = server.read(buffer.data(), buffer.size());
    total += n;
    size_t ended = mailEnds.feed(buffer.data(), n);
    done += static_cast<int>(ended);
    if (serial && ended && done < count) server.write(retr(done + 1));
  }
  server.write("QUIT\r\n");
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("pop3drain %zu bytes in %.4f s\n", total, seconds);
  return 0;
}
