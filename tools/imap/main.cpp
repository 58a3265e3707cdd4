// imapcheck: runs one IMAP session the way Quorvel's mail check does and
// writes each downloaded message to a folder.
//
//   imapcheck --server HOST --port N --user NAME --password PW
//             [--out DIR] [--log FILE] [--delete] [--silence-limit-ms N]
//             [--security none|starttls|tls] [--trust FILE] [--no-verify]
//             [--folder NAME] [--idle SECONDS]
//             [--bearer-file FILE [--mechanism xoauth2|oauthbearer]]
//
// --security starttls asks for STARTTLS on the plain port (143), tls speaks
// TLS from the first byte (993); --folder names the mailbox (UTF-8; default
// INBOX); --idle stays connected that long after the first batch (IDLE, or a
// NOOP poll) and prints one line per message as it arrives: UID, size and
// the local time. --bearer-file logs in with the OAuth 2.0 access token in
// FILE (AUTHENTICATE) instead of the password. The password may also come
// from IMAPCHECK_PASSWORD. The shared flags are in SessionFlags.h.
// Exit code: 0 when the session ended without failure, 1 on failure, 2 on usage.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "SessionFlags.h"
#include "imap/ImapClient.h"
#include "imap/Sasl.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Text.h"

namespace {

struct Options {
  imap::ImapAccount account;
  std::string outDir;
  bool deleteMessages = false;
  int idleSeconds = -1;
};

class FolderHost : public imap::ImapHost {
 public:
  explicit FolderHost(const Options& o) : options_(o) {}
  imap::MessageAnswer onMessage(const imap::MailRef& mail, const char* data, size_t length) override {
    ++count_;
    bytes_ += length;
    if (!options_.outDir.empty()) {
      std::string path = options_.outDir + "/" + std::to_string(count_) + ".eml";
      if (!platform::writeWholeFile(path.c_str(), std::string(data, length)))
        std::fprintf(stderr, "imapcheck: cannot write %s\n", path.c_str());
    }
    if (options_.idleSeconds >= 0) {
      platform::LocalTime t = platform::localTime();
      std::printf("%u %zu %02d:%02d:%02d.%03d\n", mail.uid, length, t.hour, t.minute, t.second, t.milliseconds);
      std::fflush(stdout);
    }
    return options_.deleteMessages ? imap::MessageAnswer::kDelete : imap::MessageAnswer::kKeep;
  }
  void onBatchEnded() override {}
  void onSessionFailed(imap::ImapFailure) override { ++failures_; }
  void onSessionEnded() override {}

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
  std::fprintf(stderr, "usage: imapcheck\n%s                 [--folder NAME] [--idle SECONDS]\n",
               toolflags::sessionFlagsUsage(true));
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  toolflags::SessionFlags flags;
  flags.port = 143;
  flags.logPath = "imapcheck.log";
  flags.silenceLimitMs = imap::kSilenceLimitMs;
  Options o;
  if (const char* pw = std::getenv("IMAPCHECK_PASSWORD")) flags.password = pw;
  for (int i = 1; i < argc; ++i) {
    toolflags::Flag shared = toolflags::parseSessionFlag(argc, argv, &i, true, "imapcheck", &flags);
    if (shared == toolflags::Flag::kTaken) continue;
    if (shared == toolflags::Flag::kBad || i + 1 >= argc) return usage();
    std::string a = argv[i];
    if (a == "--folder") o.account.folder = platform::utf8ToCp932(argv[++i]);
    else if (a == "--idle") o.idleSeconds = std::atoi(argv[++i]);
    else return usage();
  }
  if (flags.server.empty() || flags.port == 0 || flags.user.empty()) return usage();
  o.account.endpoint.server = flags.server;
  o.account.endpoint.port = flags.port;
  o.account.endpoint.security = flags.security;
  o.account.endpoint.verifyCertificate = flags.verifyCertificate;
  o.account.endpoint.trustFile = flags.trustFile;
  o.account.user = flags.user;
  o.account.password = flags.password;
  o.account.stayConnected = o.idleSeconds >= 0;
  // Paths on the command line are the system's (UTF-8); the program's are Shift_JIS.
  o.outDir = platform::utf8ToCp932(flags.outDir);
  o.deleteMessages = flags.deleteMessages;
  FolderHost host(o);
  commlog::CommLog log(platform::utf8ToCp932(flags.logPath));
  imap::ImapClient client(host, log);
  client.setSilenceLimitMs(flags.silenceLimitMs);
  if (!flags.bearerToken.empty())
    client.session().setMechanism(imap::makeSaslBearer(flags.mechanism, flags.user, flags.bearerToken,
                                                       flags.server, flags.port));
  const uint64_t until = platform::monotonicMs() + static_cast<uint64_t>(o.idleSeconds < 0 ? 0 : o.idleSeconds) * 1000;
  std::function<bool()> keepGoing;
  if (o.idleSeconds >= 0) keepGoing = [&] { return platform::monotonicMs() < until; };
  int code = imap::runClient(client, o.account, keepGoing);
  if (code) {
    host.onSessionFailed(imap::ImapFailure::kClosed);
    std::fprintf(stderr, "imapcheck: the session could not start (code %d)\n", code);
  }
  std::printf("%d messages, %zu bytes, %d failures\n", host.count(), host.bytes(), host.failures());
  return host.failures() ? 1 : 0;
}
