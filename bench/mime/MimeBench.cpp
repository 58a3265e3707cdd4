// Throughput of the MIME code over a corpus generated at run time (fixed
// seed): 1,480 mails, about 100 MB, as the mail log holds them. Per kind and
// overall, two works per mail:
//   parse:  parseMail and bodyCharset, as at download;
//   decode: the above, then showMail (body decoding, attachment list) and
//           decodeTransfer of every attachment, as showing and saving do.
// Figures: MB/s (10^6 bytes of raw mail) and mails/s.
//
//   bench_mime [--write-corpus FILE] [benchmark flags]
// --write-corpus writes the log and, in FILE.index, one line per mail
// ("offset size kind") for run_bench.py, which runs Python on the same mails.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "mime/Decoders.h"
#include "mime/MailLogReader.h"
#include "mime/MimeMessage.h"
#include "platform/Base64.h"

namespace {

enum Kind { kSmallJis, kMultipart, kQuotedUtf8, kManyRecipients, kKinds };
const char* const kKindNames[kKinds] = {"small_jis", "multipart_base64", "qp_utf8", "to_2000"};

constexpr int kMailCount = 1480;
constexpr uint64_t kSeed = 0x51ED2008;

// A small generator of our own, so that the corpus is the same with every
// standard library.
class Random {
 public:
  explicit Random(uint64_t seed) : s_(seed) {}
  uint64_t next() {
    s_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = s_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int range(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<uint64_t>(hi - lo + 1)); }

 private:
  uint64_t s_;
};

// Kana and kanji rows of JIS X 0208 as two-byte JIS.
std::string jisWords(Random& rng, int pairs) {
  std::string s = "\x1B$B";
  for (int i = 0; i < pairs; ++i) {
    int row = rng.range(0, 3);
    unsigned char hi = row == 0 ? 0x24 : row == 1 ? 0x25 : static_cast<unsigned char>(rng.range(0x30, 0x4F));
    unsigned char lo = static_cast<unsigned char>(row < 2 ? rng.range(0x21, 0x73) : rng.range(0x21, 0x7E));
    s += static_cast<char>(hi);
    s += static_cast<char>(lo);
  }
  return s + "\x1B(B";
}

std::string jisBody(Random& rng, int lines) {
  std::string body;
  for (int i = 0; i < lines; ++i) {
    if (rng.range(0, 9) == 0) body += "..";  // a dot-stuffed line
    body += jisWords(rng, rng.range(5, 30));
    body += rng.range(0, 1) ? " No." + std::to_string(rng.range(1, 999)) : std::string();
    body += "\r\n";
  }
  return body;
}

// "あいう…" and ASCII in UTF-8, quoted-printable with soft line breaks.
std::string quotedUtf8Body(Random& rng, size_t bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  size_t column = 0;
  auto put = [&](const std::string& token) {
    if (column + token.size() > 75) {
      out += "=\r\n";
      column = 0;
    }
    out += token;
    column += token.size();
  };
  while (out.size() < bytes) {
    if (rng.range(0, 3) == 0) {
      const char* word = rng.range(0, 1) ? "Quorvel" : "camera";
      for (const char* p = word; *p; ++p) put(std::string(1, *p));
      put(" ");
    } else {
      unsigned cp = 0x3041 + static_cast<unsigned>(rng.range(0, 0x52));
      unsigned char b[3] = {static_cast<unsigned char>(0xE0 | cp >> 12),
                            static_cast<unsigned char>(0x80 | (cp >> 6 & 0x3F)),
                            static_cast<unsigned char>(0x80 | (cp & 0x3F))};
      std::string token;
      for (unsigned char c : b) token += {'=', kHex[c >> 4], kHex[c & 15]};
      put(token);
    }
    if (rng.range(0, 40) == 0) {
      out += "\r\n";
      column = 0;
    }
  }
  return out + "\r\n";
}

std::string commonHeader(Random& rng, int n, const std::string& to) {
  char date[64];
  std::snprintf(date, sizeof date, "Date: Mon, %d Sep 2008 %02d:%02d:00 +0900\r\n", rng.range(1, 28),
                rng.range(0, 23), rng.range(0, 59));
  std::string jisName = jisWords(rng, rng.range(2, 5));
  std::string subject = jisWords(rng, rng.range(4, 16));
  return "Return-Path: <sender" + std::to_string(n) + "@example.jp>\r\n" +
         "Received: from mx.example.jp (mx.example.jp [192.0.2.1])\r\n\tby pop.example.jp; " + (date + 6) +
         "Message-ID: <" + std::to_string(n) + ".bench@example.jp>\r\n" + date + "From: =?ISO-2022-JP?B?" +
         platform::base64Encode(jisName) + "?= <sender" + std::to_string(n) + "@example.jp>\r\n" + "To: " + to +
         "\r\n" +
         "Subject: =?ISO-2022-JP?B?" + platform::base64Encode(subject) + "?=\r\nMIME-Version: 1.0\r\n";
}

std::string makeMail(Random& rng, Kind kind, int n) {
  std::string mail;
  switch (kind) {
    case kSmallJis:
      mail = commonHeader(rng, n, "user@example.jp") +
             "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" +
             jisBody(rng, rng.range(3, 40));
      break;
    case kMultipart: {
      std::string boundary = "----=_Part_" + std::to_string(n) + "_bench";
      std::string attachment(static_cast<size_t>(rng.range(50 * 1024, 300 * 1024)), '\0');
      for (size_t i = 0; i < attachment.size(); i += 8) {
        uint64_t v = rng.next();
        std::memcpy(&attachment[i], &v, std::min<size_t>(8, attachment.size() - i));
      }
      mail = commonHeader(rng, n, "user@example.jp") + "Content-Type: multipart/mixed; boundary=\"" + boundary +
             "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n--" + boundary +
             "\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" +
             jisBody(rng, rng.range(2, 10)) + "\r\n--" + boundary +
             "\r\nContent-Type: image/jpeg; name=\"snap" + std::to_string(n) +
             ".jpg\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"snap" +
             std::to_string(n) + ".jpg\"\r\n\r\n" + platform::base64EncodeLines(attachment, 76) + "\r\n\r\n--" +
             boundary + "--\r\n";
      break;
    }
    case kQuotedUtf8:
      mail = commonHeader(rng, n, "user@example.jp") +
             "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
             quotedUtf8Body(rng, static_cast<size_t>(rng.range(2000, 16000)));
      break;
    case kManyRecipients: {
      std::string to;
      for (int i = 0; i < 2000; ++i) {
        if (i) to += ",\r\n ";
        to += "member" + std::to_string(i) + "@list" + std::to_string(rng.range(1, 9)) + ".example.jp";
      }
      mail = commonHeader(rng, n, to) +
             "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" +
             jisBody(rng, rng.range(3, 20));
      break;
    }
    default:
      break;
  }
  return mail + ".\r\n";
}

struct Corpus {
  std::string log;
  struct Mail {
    size_t offset;
    size_t size;
    Kind kind;
  };
  std::vector<Mail> mails;
  size_t bytes[kKinds + 1] = {};
  size_t count[kKinds + 1] = {};
  std::unique_ptr<mime::MemoryLogReader> reader;
};

const Corpus& corpus() {
  static Corpus c = [] {
    Corpus c;
    Random rng(kSeed);
    // The mix, shuffled: 60 % small ISO-2022-JP, 25 % multipart, 10 % quoted-printable UTF-8, 5 % large To.
    std::vector<Kind> kinds;
    const int share[kKinds] = {60, 25, 10, 5};
    for (int k = 0; k < kKinds; ++k)
      kinds.insert(kinds.end(), static_cast<size_t>(kMailCount * share[k] / 100), static_cast<Kind>(k));
    for (size_t i = kinds.size(); i > 1; --i) std::swap(kinds[i - 1], kinds[rng.next() % i]);
    for (size_t i = 0; i < kinds.size(); ++i) {
      std::string mail = makeMail(rng, kinds[i], static_cast<int>(i));
      c.mails.push_back({c.log.size(), mail.size(), kinds[i]});
      c.log += mail;
      c.bytes[kinds[i]] += mail.size();
      c.bytes[kKinds] += mail.size();
      ++c.count[kinds[i]];
      ++c.count[kKinds];
    }
    c.reader = std::make_unique<mime::MemoryLogReader>(c.log);
    return c;
  }();
  return c;
}

void run(benchmark::State& state, int kind, bool decode) {
  const Corpus& c = corpus();
  mime::MemoryLogReader& log = *c.reader;
  mime::MimeMessage m;
  m.onAttachmentFound = [](const mime::AttachmentEntry&) {};
  // The attachment buffer, as saving reads a part: grown when needed, never cleared.
  std::unique_ptr<char[]> part;
  size_t partSize = 0;
  for (auto _ : state) {
    for (const Corpus::Mail& mail : c.mails) {
      if (kind != kKinds && mail.kind != kind) continue;
      const char* text = c.log.data() + mail.offset;
      m.parseMail(text, mail.size, static_cast<int32_t>(mail.offset), 0);
      benchmark::DoNotOptimize(m.bodyCharset(text, mail.size));
      if (!decode) continue;
      mime::MailIndexEntry entry = m.entry();
      m.showMail(entry, log);
      for (const mime::AttachmentEntry& a : m.attachments) {
        if (static_cast<size_t>(a.length) + 1 > partSize) {
          partSize = static_cast<size_t>(a.length) + 1;
          part.reset(new char[partSize]);
        }
        log.readFromLog(part.get(), a.length, a.position);
        benchmark::DoNotOptimize(mime::decodeTransfer(part.get(), a.length, a.transferEncoding, a.charset));
      }
      benchmark::DoNotOptimize(m.body.data());
    }
  }
  using benchmark::Counter;
  state.counters["MB/s"] = Counter(static_cast<double>(c.bytes[kind]) / 1e6, Counter::kIsIterationInvariantRate);
  state.counters["mails/s"] = Counter(static_cast<double>(c.count[kind]), Counter::kIsIterationInvariantRate);
  state.counters["MB"] = static_cast<double>(c.bytes[kind]) / 1e6;
  state.counters["mails"] = static_cast<double>(c.count[kind]);
}

void registerAll() {
  for (int decode = 0; decode < 2; ++decode)
    for (int kind = 0; kind <= kKinds; ++kind) {
      std::string name = std::string(decode ? "decode/" : "parse/") + (kind == kKinds ? "all" : kKindNames[kind]);
      benchmark::RegisterBenchmark(name.c_str(), [kind, decode](benchmark::State& s) { run(s, kind, decode); })
          ->Unit(benchmark::kMillisecond);
    }
}

bool writeCorpus(const char* path) {
  const Corpus& c = corpus();
  std::ofstream log(path, std::ios::binary);
  log.write(c.log.data(), static_cast<std::streamsize>(c.log.size()));
  std::ofstream index(std::string(path) + ".index");
  for (const Corpus::Mail& mail : c.mails) index << mail.offset << ' ' << mail.size << ' ' << kKindNames[mail.kind] << '\n';
  return log.good() && index.good();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--write-corpus") == 0 && i + 1 < argc) {
      if (!writeCorpus(argv[++i])) return 1;
      continue;
    }
    args.push_back(argv[i]);
  }
  if (args.size() == 1 && static_cast<int>(args.size()) != argc) return 0;  // only the corpus was asked for
  int n = static_cast<int>(args.size());
  registerAll();
  benchmark::Initialize(&n, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
