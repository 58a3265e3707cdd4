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
// instead of the password. The password may also come from the environment
// variable POP3CHECK_PASSWORD. The flags are the session tools' (SessionFlags.h).
// Exit code: 0 when the session ended without failure, 1 on failure, 2 on usage.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SessionFlags.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "pop3/Pop3SessionLoop.h"

namespace {

struct Options {
  pop3::Pop3Account account;
  std::string outDir;
  bool deleteMessages = false;
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
  std::fprintf(stderr, "usage: pop3check\n%s", toolflags::sessionFlagsUsage(true));
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  toolflags::SessionFlags flags;
  flags.port = 110;
  flags.logPath = "pop3check.log";
  flags.silenceLimitMs = pop3::kSilenceLimitMs;
  if (const char* pw = std::getenv("POP3CHECK_PASSWORD")) flags.password = pw;
  for (int i = 1; i < argc; ++i)
    if (toolflags::parseSessionFlag(argc, argv, &i, true, "pop3check", &flags) != toolflags::Flag::kTaken)
      return usage();
  if (flags.server.empty() || flags.port == 0 || flags.user.empty()) return usage();
  Options o;
  o.account.server = flags.server;
  o.account.port = flags.port;
  o.account.accountName = flags.user;
  o.account.password = flags.password;
  o.account.security = flags.security;
  o.account.verifyCertificate = flags.verifyCertificate;
  o.account.trustFile = flags.trustFile;
  o.account.bearerToken = flags.bearerToken;
  o.account.mechanism = flags.mechanism;
  // Paths on the command line are the system's (UTF-8); the program's are Shift_JIS.
  o.outDir = platform::utf8ToCp932(flags.outDir);
  o.deleteMessages = flags.deleteMessages;
  FolderHost host(o);
  commlog::CommLog log(platform::utf8ToCp932(flags.logPath));
  pop3::Pop3Session session(host, log);
  session.setSilenceLimitMs(flags.silenceLimitMs);
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
