#include "store/MailboxMemory.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "platform/File.h"
#include "sendlib/Md5.h"

namespace store {

const char kMailboxFilePrefix[] = "QuorvelMailbox-";
const char kMailboxFileSuffix[] = ".dat";

namespace {

constexpr char kMagic[] = "QuorvelMailbox 1 ";
constexpr size_t kCheckLength = 8;
// Longer than any record we write (an id of 70, four numbers, a digest).
constexpr size_t kMaxLineLength = 256;

std::string md5Hex(std::string_view text) { return sendlib::toHex(sendlib::md5(text.data(), text.size())); }

// The line with its checksum and line end.
std::string checked(const std::string& text) { return text + " " + md5Hex(text).substr(0, kCheckLength) + "\n"; }

bool readNumber(std::string_view s, uint64_t* value) {
  if (s.empty() || s.size() > 19) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = v;
  return true;
}

bool isHexDigest(std::string_view s) {
  if (s.size() != 32) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  while (pos <= line.size()) {
    size_t space = line.find(' ', pos);
    if (space == std::string_view::npos) space = line.size();
    out.push_back(line.substr(pos, space - pos));
    pos = space + 1;
  }
  return out;
}

std::string lowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string keyText(const MailboxKey& key) {
  return lowerAscii(key.server) + "\n" + std::to_string(key.port) + "\n" + key.account + "\n" + key.folder;
}

}  // namespace

bool isMailId(std::string_view id) {
  if (id.empty() || id.size() > kMaxMailIdLength) return false;
  for (char c : id)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

std::string logDigest(const char* text, size_t size) {
  sendlib::Md5 md5;
  const char* end = text + size;
  for (const char* p = text; p < end;) {
    const char* nul = static_cast<const char*>(std::memchr(p, 0, static_cast<size_t>(end - p)));
    const char* stop = nul ? nul : end;
    md5.update(p, static_cast<size_t>(stop - p));
    if (nul) md5.update(" ", 1);
    p = nul ? nul + 1 : end;
  }
  return sendlib::toHex(md5.finish());
}

MailboxMemory::MailboxMemory(const std::string& logFolder, const MailboxKey& key, const commlog::CommLog& log)
    : log_(log), keyDigest_(md5Hex(keyText(key))), path_(logFolder + "\\" + fileName(key)) {}

std::string MailboxMemory::fileName(const MailboxKey& key) {
  return kMailboxFilePrefix + md5Hex(keyText(key)).substr(0, 16) + kMailboxFileSuffix;
}

std::string MailboxMemory::header() const { return checked(kMagic + keyDigest_); }

std::string MailboxMemory::record(const std::string& id, const RememberedMail& m) {
  std::string text(1, static_cast<char>(m.dealt));
  text += " " + id + " " + std::to_string(m.size);
  if (m.dealt == Dealt::kUnreceivable) text += " " + std::to_string(m.received);
  if (m.dealt == Dealt::kStoring)
    text += " " + std::to_string(m.logOffset) + " " + std::to_string(m.logLength) + " " + m.digest;
  return checked(text);
}

bool MailboxMemory::parse(const std::string& data) {
  std::string headerLine = header();
  if (data.compare(0, headerLine.size(), headerLine) != 0) return false;
  size_t pos = headerLine.size();
  size_t records = 0;
  while (pos < data.size()) {
    size_t end = data.find('\n', pos);
    if (end == std::string::npos) {  // an append cut short: written anew before the next one
      torn_ = true;
      break;
    }
    std::string_view line(data.data() + pos, end - pos);
    pos = end + 1;
    ++records;
    if (line.size() > kMaxLineLength || line.size() < kCheckLength + 3) return false;
    std::string_view text = line.substr(0, line.size() - kCheckLength - 1);
    if (line[text.size()] != ' ' || md5Hex(text).compare(0, kCheckLength, line.substr(text.size() + 1)) != 0)
      return false;
    std::vector<std::string_view> f = fields(text);
    if (f[0].size() != 1 || f.size() < 2 || !isMailId(f[1])) return false;
    std::string id(f[1]);
    RememberedMail m;
    m.dealt = static_cast<Dealt>(f[0][0]);
    uint64_t offset = 0;
    bool ok;
    switch (m.dealt) {
      case Dealt::kStored:
      case Dealt::kSpamKept:
      case Dealt::kGeneralKept:
        ok = f.size() == 3 && readNumber(f[2], &m.size);
        break;
      case Dealt::kUnreceivable:
        ok = f.size() == 4 && readNumber(f[2], &m.size) && readNumber(f[3], &m.received);
        break;
      case Dealt::kStoring:
        ok = f.size() == 6 && readNumber(f[2], &m.size) && readNumber(f[3], &offset) &&
             readNumber(f[4], &m.logLength) && isHexDigest(f[5]);
        m.logOffset = static_cast<int64_t>(offset);
        if (ok) m.digest = std::string(f[5]);
        break;
      default:
        if (f[0] != "D" || f.size() != 2) return false;
        entries_.erase(id);
        continue;
    }
    if (!ok) return false;
    entries_[std::move(id)] = std::move(m);
  }
  compact_ = records == entries_.size();
  return true;
}

bool MailboxMemory::load() {
  entries_.clear();
  rewriteFirst_ = true;
  torn_ = false;
  const char* name = path_.c_str() + path_.rfind('\\') + 1;
  int64_t size = platform::fileSize(path_.c_str());
  if (size < 0) {
    log_.logLine((std::string("受信済みメールの記録がありません(") + name + ")。記録なしで受信します").c_str());
    return false;
  }
  std::string data;
  bool ok = size <= kMaxMailboxFileSize && platform::readWholeFile(path_.c_str(), &data);
  try {
    ok = ok && parse(data);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok) {
    entries_.clear();
    log_.logLine((std::string("受信済みメールの記録(") + name + ")が壊れています。記録なしで受信します").c_str());
    return false;
  }
  rewriteFirst_ = torn_;
  return true;
}

void MailboxMemory::resolveStoring(const std::function<bool(int64_t, uint64_t, const std::string&)>& inLog) {
  std::vector<std::string> stored, lost;
  for (auto& [id, m] : entries_)
    if (m.dealt == Dealt::kStoring) (inLog(m.logOffset, m.logLength, m.digest) ? stored : lost).push_back(id);
  for (const std::string& id : stored) {
    RememberedMail m;
    m.size = entries_[id].size;
    remember(id, m, false);
  }
  for (const std::string& id : lost) forget(id);
}

const RememberedMail* MailboxMemory::find(const std::string& id) const {
  auto found = entries_.find(id);
  return found == entries_.end() ? nullptr : &found->second;
}

bool MailboxMemory::holdsHeaderIds() const {
  for (const auto& entry : entries_)
    if (entry.first.compare(0, 2, "H:") == 0) return true;
  return false;
}

bool MailboxMemory::remember(const std::string& id, const RememberedMail& mail, bool durable) {
  if (!isMailId(id)) return false;
  entries_[id] = mail;
  return rewriteFirst_ ? rewrite() : append(record(id, mail), durable);
}

bool MailboxMemory::forget(const std::string& id) {
  if (entries_.erase(id) == 0) return true;
  return rewriteFirst_ ? rewrite() : append(checked("D " + id), false);
}

bool MailboxMemory::keepOnly(const std::unordered_set<std::string>& onServer) {
  size_t before = entries_.size();
  for (auto it = entries_.begin(); it != entries_.end();)
    it = onServer.count(it->first) ? std::next(it) : entries_.erase(it);
  // A file that already holds one line per entry stays as it is.
  if (entries_.size() == before && compact_ && !rewriteFirst_) return true;
  return rewrite();
}

bool MailboxMemory::append(const std::string& line, bool durable) {
  platform::UniqueFile f = platform::openUniqueFile(path_.c_str(), "ab");
  bool ok = f && std::fwrite(line.data(), 1, line.size(), f.get()) == line.size();
  ok = f && (durable ? platform::flushToDisk(f.get()) : std::fflush(f.get()) == 0) && ok;
  ok = f && platform::closeFile(f) && ok;
  compact_ = false;
  if (!ok) writeFailed();
  return ok;
}

// The whole file under a temporary name, durable, then in the file's place.
bool MailboxMemory::rewrite() {
  std::string data = header();
  for (const auto& [id, m] : entries_) data += record(id, m);
  std::string temporary = path_ + ".new";
  platform::UniqueFile f = platform::openUniqueFile(temporary.c_str(), "wb");
  bool ok = f && std::fwrite(data.data(), 1, data.size(), f.get()) == data.size();
  ok = f && platform::flushToDisk(f.get()) && ok;
  ok = f && platform::closeFile(f) && ok;
  ok = ok && platform::replaceFile(temporary.c_str(), path_.c_str());
  if (!ok) {
    platform::removeFile(temporary.c_str());
    writeFailed();
    return false;
  }
  rewriteFirst_ = false;
  compact_ = true;
  return true;
}

void MailboxMemory::writeFailed() {
  if (writeFailureLogged_) return;
  writeFailureLogged_ = true;
  log_.logLine("受信済みメールの記録に書き込めません");
}

}  // namespace store
