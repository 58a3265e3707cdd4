// imapcheck: runs one IMAP session the way Quorvel's mail check does and
// writes each downloaded message to a folder.
//
//   imapcheck --server HOST --port N --user NAME --password PW
//             [--out DIR] [--log FILE] [--delete] [--silence-limit-ms N]
//             [--security none|starttls|tls] [--trust FILE] [--no-verify]
//             [--folder NAME] [--idle SECONDS]
//
// --security starttls asks for STARTTLS on the plain port (143), tls speaks
// TLS from the first byte (993); --folder names the mailbox (UTF-8; default
// INBOX); --idle stays connected that long after the first batch (IDLE, or a
// NOOP poll) and prints one line per message as it arrives: UID, size and
// the local time. The password may also come from IMAPCHECK_PASSWORD.
// Exit code: 0 when the session ended without failure, 1 on failure, 2 on usage.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "imap/ImapClient.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Text.h"

namespace {

struct Options {
  imap::ImapAccount account;
  std::string outDir;
  std::string logPath = "imapcheck.log";
  bool deleteMessages = false;
  int silenceLimitMs = imap::kSilenceLimitMs;
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
  std::fprintf(stderr,
               "usage: imapcheck --server HOST --port N --user NAME --password PW\n"
               "                 [--out DIR] [--log FILE] [--delete] [--silence-limit-ms N]\n"
               "                 [--security none|starttls|tls] [--trust FILE] [--no-verify]\n"
               "                 [--folder NAME] [--idle SECONDS]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  o.account.endpoint.port = 143;
  if (const char* pw = std::getenv("IMAPCHECK_PASSWORD")) o.account.password = pw;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (a == "--server") o.account.endpoint.server = value();
    else if (a == "--port") o.account.endpoint.port = static_cast<uint16_t>(std::atoi(value().c_str()));
    else if (a == "--user") o.account.user = value();
    else if (a == "--password") o.account.password = value();
    else if (a == "--out") o.outDir = value();
    else if (a == "--log") o.logPath = value();
    else if (a == "--delete") o.deleteMessages = true;
    else if (a == "--silence-limit-ms") o.silenceLimitMs = std::atoi(value().c_str());
    else if (a == "--trust") o.account.endpoint.trustFile = value();
    else if (a == "--no-verify") o.account.endpoint.verifyCertificate = false;
    else if (a == "--folder") o.account.folder = platform::utf8ToCp932(value());
    else if (a == "--idle") o.idleSeconds = std::atoi(value().c_str());
    else if (a == "--security") {
      std::string mode = value();
      if (mode == "none") o.account.endpoint.security = net::Security::kPlain;
      else if (mode == "starttls" || mode == "stls") o.account.endpoint.security = net::Security::kStartTls;
      else if (mode == "tls") o.account.endpoint.security = net::Security::kTls;
      else return usage();
    }
    else return usage();
  }
  if (o.account.endpoint.server.empty() || o.account.endpoint.port == 0 || o.account.user.empty())
    return usage();
  o.account.stayConnected = o.idleSeconds >= 0;
  // Paths on the command line are the system's (UTF-8); the program's are Shift_JIS.
  o.outDir = platform::utf8ToCp932(o.outDir);
  FolderHost host(o);
  commlog::CommLog log(platform::utf8ToCp932(o.logPath));
  imap::ImapClient client(host, log);
  client.setSilenceLimitMs(o.silenceLimitMs);
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
