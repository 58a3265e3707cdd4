// The mail store on Windows paths (run under Wine by test_store_wine.py):
// a folder with a Japanese name, crash recovery by truncation, the exit
// rewrite by replacement, a folder move, the recycle bin. Prints one line
// per check, "ok name" or "FAIL name: detail"; the argument is the base
// folder, as hex of its Shift_JIS bytes.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/FileOps.h"
#include "platform/Hooks.h"
#include "store/MailStore.h"

namespace {

int g_failures = 0;

void check(bool ok, const char* name, const std::string& detail = "") {
  if (!ok) ++g_failures;
  std::printf(ok ? "ok %s\n" : "FAIL %s: %s\n", name, detail.c_str());
}

std::string mail(int n) {
  std::string m = "From: a" + std::to_string(n) + "@example.jp\r\nTo: user@example.jp\r\nSubject: 件名" +
                  std::to_string(n) + "\r\nDate: Sun, 7 Dec 2008 09:05:03 +0900\r\n\r\n";
  for (int i = 0; i < 30; ++i) m += "本文の行です " + std::to_string(i) + "\r\n";
  return m + ".\r\n";
}

std::string slurp(const std::string& path) {
  std::string s;
  platform::readWholeFile(path.c_str(), &s);
  return s;
}

struct Store {
  store::MailStore store;
  explicit Store(const std::string& folder) { store.setFolder(folder.c_str()); }
  void start() {
    for (bool load = store.openStore(); load; load = store.loadIndex()) {
    }
  }
  int rows() const { return store.model().count(); }
  void add(int n) {
    std::string m = mail(n);
    mime::MimeMessage msg;
    msg.parseMail(m.data(), m.size(), static_cast<int32_t>(store.mailLogSize()), store.storedMailCount());
    msg.arrivalMark = mime::kMarkGeneral;
    store.appendMail(msg, m.data(), m.size());
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string base;
  for (const char* h = argv[1]; h[0] && h[1]; h += 2) base += static_cast<char>(std::stoi(std::string(h, 2), nullptr, 16));
  platform::setMessageBoxHook([](const char*, const char*, unsigned) -> int { return platform::kIdYes; });

  std::string folder = base + "\\メール保存";
  platform::makeDirectory(folder.c_str());
  std::string all;
  {
    Store s(folder);
    s.start();
    for (int i = 0; i < 5; ++i) {
      s.add(i);
      all += mail(i);
    }
  }
  std::string logPath = folder + "\\QuorvelMail.log";
  check(slurp(logPath) == all, "append");

  // Killed in the middle of the fifth mail.
  std::string four = all.substr(0, all.size() - mail(4).size());
  platform::writeWholeFile(logPath.c_str(), all.substr(0, all.size() - 40));
  {
    Store s(folder);
    s.start();
    check(s.rows() == 4 && slurp(logPath) == four, "cut mail", std::to_string(s.rows()) + " rows");

    // Exit with mail 1 deleted, keeping 2.
    s.store.deleteMail(1);
    check(s.store.compactStore(), "compact");
    std::string compacted = mail(0) + mail(2) + mail(3);
    check(slurp(logPath) == compacted, "compacted log");
  }
  {
    Store s(folder);
    s.start();
    check(s.rows() == 3, "rebuilt after compaction");
    check(s.store.trimStore(2) && slurp(logPath) == mail(2) + mail(3), "trim");
  }
  {
    // Move to another folder (an existing log there is replaced: Yes).
    std::string other = base + "\\移動先";
    platform::makeDirectory(other.c_str());
    platform::writeWholeFile((other + "\\QuorvelMail.log").c_str(), "old");
    Store s(folder);
    s.start();
    check(s.store.moveStoreFolder(other.c_str()) == store::MailStore::MoveResult::kMoved, "move");
    check(!platform::fileExists(logPath.c_str()) &&
              slurp(other + "\\QuorvelMail.log") == mail(2) + mail(3) &&
              platform::fileExists((other + "\\QuorvelMail.idx").c_str()),
          "moved files",
          std::to_string(platform::fileExists(logPath.c_str())) + " " +
              std::to_string(slurp(other + "\\QuorvelMail.log").size()) + " " +
              std::to_string(platform::fileExists((other + "\\QuorvelMail.idx").c_str())));

    // Spam to the recycle bin.
    std::string spam = mail(9);
    mime::MimeMessage msg;
    msg.parseMail(spam.data(), spam.size(), 0, 0);
    check(s.store.recycleSpam(msg, spam.data(), spam.size()), "recycle");
    std::string error;
    check(!platform::deleteFileExplained((other + "\\none.txt").c_str(), &error) && !error.empty(),
          "deletion error text");
    std::printf("error text: %s\n", error.c_str());
  }
  return g_failures ? 1 : 0;
}
