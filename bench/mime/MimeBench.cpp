// Throughput of the MIME code on the mails of a folder (QUORVEL_MIME_CORPUS):
// parseMail and bodyCharset as at download, then what showing the mail does
// (body decoding, attachment list) and the decoding of every attachment.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mime/MailLogReader.h"
#include "mime/MimeMessage.h"

namespace {

struct Corpus {
  std::string log;                   // every mail, one after another
  std::vector<std::pair<size_t, size_t>> mails;  // offset, size
};

const Corpus& corpus() {
  static Corpus c = [] {
    Corpus c;
    const char* dir = std::getenv("QUORVEL_MIME_CORPUS");
    if (!dir) return c;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
      if (e.path().extension() == ".eml") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      c.mails.emplace_back(c.log.size(), text.size());
      c.log += text;
    }
    return c;
  }();
  return c;
}

void BM_ParseAndDecode(benchmark::State& state) {
  const Corpus& c = corpus();
  if (c.mails.empty()) {
    state.SkipWithError("set QUORVEL_MIME_CORPUS to a folder of .eml files");
    return;
  }
  mime::MemoryLogReader log(c.log);
  mime::MimeMessage m;
  m.onAttachmentFound = [](const mime::AttachmentEntry&) {};
  std::vector<char> part;
  for (auto _ : state) {
    for (const auto& [offset, size] : c.mails) {
      m.parseMail(c.log.data() + offset, size, static_cast<int32_t>(offset), 0);
      benchmark::DoNotOptimize(m.bodyCharset(c.log.data() + offset, size));
      mime::MailIndexEntry entry = m.entry();
      m.showMail(entry, log);
      for (const mime::AttachmentEntry& a : m.attachments) {
        part.resize(static_cast<size_t>(a.length) + 1);
        log.readFromLog(part.data(), a.length, a.position);
        benchmark::DoNotOptimize(mime::decodeTransfer(part.data(), a.length, a.transferEncoding, a.charset));
      }
      benchmark::DoNotOptimize(m.body.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(c.log.size()));
  state.counters["mails"] = static_cast<double>(c.mails.size());
}
BENCHMARK(BM_ParseAndDecode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
