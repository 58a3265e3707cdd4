// pop3check: runs one POP3 session the way Quorvel's mail check does and
// writes each downloaded message to a folder.
//
//   pop3check --server HOST --port N --user NAME --password PW
//             [--out DIR] [--log FILE] [--delete] [--silence-limit-ms N]
//             [--security none|stls|tls] [--trust FILE] [--no-verify]
//             [--bearer-file FILE [--mechanism xoauth2|oauthbearer]]
//
// --security stls asks for STLS on the plain port, tls speaks TLS from the
// first byte (port 995); --trust adds a PEM file of trusted certificates to
// the system's; --no-verify skips the certificate check (logged).
// --bearer-file logs in with the OAuth 2.0 access token in FILE (SASL AUTH)
// instead of the password. The password may also come from the environment variable POP3CHECK_PASSWORD.
// Exit code: 0 when the session ended without failure, 1 on failure, 2 on usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "oauth/TokenStore.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "pop3/Pop3SessionLoop.h"

namespace {

struct Options {
  pop3::Pop3Account account;
  std::string outDir;
  std::string logPath = "pop3check.log";
  bool deleteMessages = false;
  int silenceLimitMs = pop3::kSilenceLimitMs;
};

class FolderHost : public pop3::Pop3Host {
 public:
  explicit FolderHost(const Options& o) : options_(o) {}
  pop3::MessageAnswer onMessageComplete(const pop3::ListedMessage&, const char* data, size_t length) override {
    ++count_;
    bytes_ += length;
    if (!options_.outDir.empty()) {
      std::string path = options_.outDir + "/" + std::to_string(count_) + ".eml";
      if (!platform::writeWholeFile(path.c_str(), std::string(data, length)))
        std::fprintf(stderr, "pop3check: cannot write %s\n", path.c_str());
    }
    return options_.deleteMessages ? pop3::MessageAnswer::kDelete : pop3::MessageAnswer::kKeep;
  }
  void onSessionFailed() override { ++failures_; }
  void onSessionEnded() override {}
  int newMailCount() const override { return count_; }
  bool requestNotifications(net::TcpSocket&, int*) override { return true; }
  bool cancelNotifications(net::TcpSocket&, int*) override { return true; }

  int count() const { return count_; }
  int failures() const { return failures_; }
  size_t bytes() const { return bytes_; }

 private:
  const Options& options_;
  int count_ = 0;
  int failures_ = 0;
  size_t bytes_ = 0;
};

int usage() {
  std::fprintf(stderr,
               "usage: pop3check --server HOST --port N --user NAME --password PW\n"
               "                 [--out DIR] [--log FILE] [--delete] [--silence-limit-ms N]\n"
               "                 [--security none|stls|tls] [--trust FILE] [--no-verify]\n"
               "                 [--bearer-file FILE [--mechanism xoauth2|oauthbearer]]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const char* pw = std::getenv("POP3CHECK_PASSWORD")) o.account.password = pw;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (a == "--server") o.account.server = value();
    else if (a == "--port") o.account.port = static_cast<uint16_t>(std::atoi(value().c_str()));
    else if (a == "--user") o.account.accountName = value();
    else if (a == "--password") o.account.password = value();
    else if (a == "--out") o.outDir = value();
    else if (a == "--log") o.logPath = value();
    else if (a == "--delete") o.deleteMessages = true;
    else if (a == "--silence-limit-ms") o.silenceLimitMs = std::atoi(value().c_str());
    else if (a == "--trust") o.account.trustFile = value();
    else if (a == "--no-verify") o.account.verifyCertificate = false;
    else if (a == "--bearer-file") {
      if (!oauth::readBearerFile(value().c_str(), &o.account.bearerToken)) {
        std::fprintf(stderr, "pop3check: no access token in the bearer file\n");
        return 2;
      }
    } else if (a == "--mechanism") {
      if (!oauth::parseMechanism(value(), &o.account.mechanism)) return usage();
    }
    else if (a == "--security") {
      std::string mode = value();
      if (mode == "none") o.account.security = pop3::Pop3Security::kPlain;
      else if (mode == "stls") o.account.security = pop3::Pop3Security::kStls;
      else if (mode == "tls") o.account.security = pop3::Pop3Security::kTls;
      else return usage();
    }
    else return usage();
  }
  if (o.account.server.empty() || o.account.port == 0 || o.account.accountName.empty())
    return usage();
  // Paths on the command line are the system's (UTF-8); the program's are Shift_JIS.
  o.outDir = platform::utf8ToCp932(o.outDir);
  FolderHost host(o);
  commlog::CommLog log(platform::utf8ToCp932(o.logPath));
  pop3::Pop3Session session(host, log);
  session.setSilenceLimitMs(o.silenceLimitMs);
  int code = pop3::runSession(session, o.account);
  if (code) {
    host.onSessionFailed();
    log.logLine("メール受信前初期化でエラー");
    session.abort();
    std::fprintf(stderr, "pop3check: the session could not start (code %d)\n", code);
  }
  std::printf("%d messages, %zu bytes, %d failures\n", host.count(), host.bytes(), host.failures());
  return host.failures() ? 1 : 0;
}
