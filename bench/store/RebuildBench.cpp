// Writes a mail log of about 100 MB (ordinary mails, folded Japanese
// subjects, multipart mails with base64 attachments), then times
// rebuildIndex over it. Usage: bench_store_rebuild [megabytes] [folder]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/File.h"
#include "platform/Text.h"
#include "store/MailStore.h"

namespace {

std::string mail(int n) {
  std::string m = "Received: from mx.example.jp by pop.example.jp; Sun, 7 Dec 2008 09:05:03 +0900\r\n"
                  "From: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= <sender" + std::to_string(n) + "@example.jp>\r\n"
                  "To: user@example.jp\r\n"
                  "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= " +
                  std::to_string(n) + "\r\nDate: Sun, 7 Dec 2008 09:05:03 +0900\r\nX-Mailer: Bench 1.0\r\nX-Priority: 3\r\n"
                  "MIME-Version: 1.0\r\n";
  std::string line(76, 'A');
  if (n % 4 == 0) {
    m += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(n) + "\"\r\n\r\n";
    m += "--b" + std::to_string(n) + "\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\nhello\r\n";
    m += "--b" + std::to_string(n) + "\r\nContent-Type: image/jpeg; name=\"a.jpg\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n";
    for (int i = 0; i < 600 + n % 300; ++i) m += line + "\r\n";
    m += "--b" + std::to_string(n) + "--\r\n";
  } else {
    m += "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n";
    for (int i = 0; i < 20 + n % 50; ++i) m += "text line " + std::to_string(i) + " of the body, plain enough\r\n";
  }
  return m + ".\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  double megabytes = argc > 1 ? std::atof(argv[1]) : 100;
  std::string folder;
  if (argc > 2) {
    folder = platform::utf8ToCp932(argv[2]);
  } else {
    char templ[] = "/tmp/quorvel-bench-XXXXXX";
    if (!mkdtemp(templ)) return 1;
    folder = templ;
  }
  store::MailStore store;
  store.setFolder(folder.c_str());

  FILE* f = platform::openFile(store.logPath().c_str(), "wb");
  if (!f) return 1;
  size_t size = 0;
  int count = 0;
  while (size < megabytes * 1e6) {
    std::string m = mail(count++);
    std::fwrite(m.data(), 1, m.size(), f);
    size += m.size();
  }
  std::fclose(f);

  double best = 0;
  for (int run = 0; run < 3; ++run) {
    auto start = std::chrono::steady_clock::now();
    if (!store.rebuildIndex()) return 1;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double rate = size / 1e6 / seconds;
    std::printf("rebuildIndex: %d mails, %.1f MB in %.3f s: %.0f MB/s\n", count, size / 1e6, seconds, rate);
    if (rate > best) best = rate;
  }
  int64_t indexSize = platform::fileSize(store.indexPath().c_str());
  std::printf("best %.0f MB/s; index %lld bytes (%lld records)\n", best, static_cast<long long>(indexSize),
              static_cast<long long>((indexSize - store::kIndexHeaderSize) / store::kIndexRecordSize));
  platform::removeFile(store.logPath().c_str());
  platform::removeFile(store.indexPath().c_str());
  if (argc <= 2) std::remove(folder.c_str());
  return indexSize == store::kIndexHeaderSize + count * store::kIndexRecordSize ? 0 : 1;
}
