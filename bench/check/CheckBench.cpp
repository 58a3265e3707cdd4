// bench_check: one mail check as the program runs it (session, decisions,
// mail store and mailbox memory in FOLDER), timed from connect to QUIT.
//
//   bench_check --port N --user U --password P --folder DIR [--keep] [--no-memory]
//
// Prints "seconds <s> retr <n> stored <n>" (RETR commands from the
// communication log in DIR/comm.txt).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "check/MailboxCheck.h"
#include "config/AppSettings.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "pop3/Pop3SessionLoop.h"
#include "store/MailStore.h"

int main(int argc, char** argv) {
  config::AppSettings s;
  std::memset(&s, 0, sizeof s);
  config::applyDefaults(s, ".");
  std::strcpy(s.pop3Server, "127.0.0.1");
  std::string folder = ".";
  bool memory = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--port") s.pop3Port = static_cast<uint16_t>(std::atoi(value()));
    else if (a == "--user") std::snprintf(s.accountName, sizeof s.accountName, "%s", value());
    else if (a == "--password") std::snprintf(s.password, sizeof s.password, "%s", value());
    else if (a == "--folder") folder = value();
    else if (a == "--keep") s.keepOnServer = 1;
    else if (a == "--no-memory") memory = false;
  }
  commlog::CommLog log(folder + "/comm.txt");
  platform::removeFile(log.path().c_str());
  store::MailStore mailStore(log);
  mailStore.setFolder(folder.c_str());
  for (bool load = mailStore.openStore(); load; load = mailStore.loadIndex()) {
  }
  check::PolledCheck check(s, mailStore, log);
  check.mailbox().setMemoryEnabled(memory);

  uint64_t start = platform::monotonicMs();
  check.mailbox().begin();
  pop3::Pop3Session session(check, log);
  int code = pop3::runSession(session, check::pop3Account(s));
  double seconds = (platform::monotonicMs() - start) / 1000.0;

  std::string text;
  platform::readWholeFile(log.path().c_str(), &text);
  int retr = 0;
  for (size_t at = 0; (at = text.find("> RETR ", at)) != std::string::npos; ++at) ++retr;
  std::printf("seconds %.3f retr %d stored %d\n", seconds, retr, check.mailbox().counts().newMailCount);
  return code == 0 && check.failures() == 0 ? 0 : 1;
}
