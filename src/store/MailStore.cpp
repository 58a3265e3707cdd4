#include "store/MailStore.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "mime/MailEnd.h"
#include "platform/File.h"
#include "platform/FileOps.h"
#include "platform/Sjis.h"
#include "store/MailboxMemory.h"

namespace store {

const char kLogFileName[] = "QuorvelMail.log";
const char kIndexFileName[] = "QuorvelMail.idx";
const char kTempLogFileName[] = "TempQuorvelMail.log";
const char kIndexMagic[] = "ZKPOPIDX_HEADER";

namespace {

using platform::kMbIconExclamation;
using platform::kMbJapanese;

constexpr char kFaultCaption[] = "障害報告";
constexpr char kMailEnd[] = "\r\n.\r\n";  // the last five bytes of every mail
constexpr size_t kBlockSize = 1 << 20;

bool seekTo(FILE* f, int64_t position) {
  return position >= 0 && position <= LONG_MAX && std::fseek(f, static_cast<long>(position), SEEK_SET) == 0;
}

// Reads `length` bytes at `position` of an open log; NUL bytes become
// spaces and a NUL follows the data.
bool readLogBytes(FILE* f, char* buffer, size_t length, int64_t position) {
  if (!seekTo(f, position)) return false;
  size_t n = std::fread(buffer, 1, length, f);
  char* end = buffer + n;
  for (char* p = buffer; (p = static_cast<char*>(std::memchr(p, 0, static_cast<size_t>(end - p)))) != nullptr;)
    *p++ = ' ';
  *end = 0;
  return n == length;
}

void upperAscii(std::string& s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

// Folder names compared as Windows does: either separator, no trailing
// one, ASCII letters without case.
std::string folderKey(const std::string& folder) {
  std::string key = folder;
  for (char& c : key)
    if (c == '/') c = '\\';
  while (key.size() > 1 && key.back() == '\\') key.pop_back();
  upperAscii(key);
  return key;
}

}  // namespace

std::string joinPath(const std::string& folder, const char* name) { return folder + "\\" + name; }

MailStore::MailStore(const commlog::CommLog& log) : log_(log) {}

void MailStore::fault(const char* text, const char* caption, unsigned flags) {
  if (reportFault_)
    reportFault_(StoreFault{text, caption, flags});
  else
    log_.logLine(text);
}

void MailStore::storeFault(const char* text) { fault(text, kFaultCaption, kMbIconExclamation | kMbJapanese); }

void MailStore::setFolder(const char* folder) {
  folder_ = folder ? folder : "";
  logPath_ = joinPath(folder_, kLogFileName);
  indexPath_ = joinPath(folder_, kIndexFileName);
  tempLogPath_ = joinPath(folder_, kTempLogFileName);
}

// ---------------------------------------------------------------------------
// Start-up and the index

bool MailStore::logEndsWithMail(int64_t logSize) {
  if (logSize < 5) return false;
  platform::UniqueFile f = platform::openUniqueFile(logPath_.c_str(), "rb");
  char tail[5];
  return f && seekTo(f.get(), logSize - 5) && std::fread(tail, 1, 5, f.get()) == 5 &&
         std::memcmp(tail, kMailEnd, 5) == 0;
}

// The end of the last complete mail: just after the last CR LF "." CR LF,
// searched backwards from the end of the log. 0 when there is none.
int64_t MailStore::lastCompleteMailEnd(int64_t logSize) {
  platform::UniqueFile f = platform::openUniqueFile(logPath_.c_str(), "rb");
  if (!f) return 0;
  std::vector<char> block(65536 + 4);
  int64_t end = logSize;  // the search covers [0, end)
  int64_t found = 0;
  while (end >= 5 && found == 0) {
    int64_t start = std::max<int64_t>(0, end - 65536 - 4);
    size_t n = static_cast<size_t>(end - start);
    if (!seekTo(f.get(), start) || std::fread(block.data(), 1, n, f.get()) != n) break;
    for (size_t i = n - 5 + 1; i-- > 0;)
      if (std::memcmp(block.data() + i, kMailEnd, 5) == 0) {
        found = start + static_cast<int64_t>(i) + 5;
        break;
      }
    if (start == 0) break;
    end = start + 4;  // overlap so that no match across blocks is missed
  }
  return found;
}

bool MailStore::openStore() {
  if (platform::fileExists(tempLogPath_.c_str())) platform::removeFile(tempLogPath_.c_str());
  int64_t logSize = std::max<int64_t>(0, platform::fileSize(logPath_.c_str()));
  int64_t indexSize = std::max<int64_t>(0, platform::fileSize(indexPath_.c_str()));
  mailLogSize_ = logSize;
  if (logSize == 0) {
    createIndex();
    return false;
  }
  // A log that cannot be read now is not taken for damaged.
  if (!platform::openUniqueFile(logPath_.c_str(), "rb")) return false;
  if (!logEndsWithMail(logSize)) {
    // The last mail was cut short while it was appended: keep the complete
    // mails before it. The cut mail was never deleted from the server.
    int64_t end = lastCompleteMailEnd(logSize);
    if (end > 0 && !platform::truncateFile(logPath_.c_str(), end)) return false;  // leave both files for a later start
    logSize = end;
  }
  if (logSize >= kMinimumLogSize) {
    mailLogSize_ = logSize;
    // An index that could not be written (reported once) is not loaded:
    // the log stays for the next start.
    return indexSize > kIndexHeaderSize || rebuildIndex();
  }
  mailLogSize_ = 0;
  platform::removeFile(logPath_.c_str());
  createIndex();
  return false;
}

bool MailStore::loadIndex() {
  platform::UniqueFile f = platform::openUniqueFile(indexPath_.c_str(), "rb");
  if (!f) return false;
  IndexHeader header;
  bool haveHeader = std::fread(&header, 1, sizeof header, f.get()) == sizeof header;
  if (haveHeader && std::strncmp(header.magic, kIndexMagic, sizeof header.magic) != 0) {
    f.reset();
    fault("メールIDXファイルのバージョンが異なっています。\nメールIDXファイル(QuorvelMail.idx)を削除して再起動してください。",
          kFaultCaption, platform::kMbOk);
    return false;
  }
  // A second load replaces the first instead of adding every mail again.
  model_.clear();
  storedMailCount_ = 0;
  bool haveLast = false;
  mime::MailIndexEntry last{};
  if (haveHeader) {
    std::vector<mime::MailIndexEntry> records(256);
    size_t n;
    while ((n = std::fread(records.data(), sizeof(mime::MailIndexEntry), records.size(), f.get())) > 0) {
      for (size_t i = 0; i < n; ++i) {
        records[i].arrivalMark = mime::kMarkNone;
        model_.add(records[i]);
        ++storedMailCount_;
      }
      last = records[n - 1];
      haveLast = true;
      if (n < records.size()) break;
    }
  }
  f.reset();

  int64_t logSize = platform::fileSize(logPath_.c_str());
  if (logSize <= 0) {
    fault("SYSERROR:0001 メールLOGファイルなし。", nullptr, kMbIconExclamation | kMbJapanese);
    return false;
  }
  if (haveLast && logSize == static_cast<int64_t>(last.logOffset) + last.mailEnd + 3) return false;
  if (rebuildTried_) {
    storeFault("メールログがデータ異常でロードできません。このメールログは消去されます。");
    platform::removeFile(logPath_.c_str());
    rebuildTried_ = false;
    mailLogSize_ = 0;
    model_.clear();  // the erased log's mails cannot be read any more
    storedMailCount_ = 0;
    createIndex();  // later mails must not follow the records of the erased log
    return false;
  }
  model_.clear();
  storedMailCount_ = 0;  // the reload counts the records again
  platform::removeFile(indexPath_.c_str());
  bool rebuilt = rebuildIndex();
  rebuildTried_ = true;
  // An index that could not be written is not reloaded: the log stays for
  // the next start instead of being taken for abnormal.
  return rebuilt;
}

bool MailStore::createIndex(const char* path) {
  platform::UniqueFile f = platform::openUniqueFile(path, "wb");
  if (!f) return false;
  IndexHeader header{};
  std::memcpy(header.magic, kIndexMagic, sizeof kIndexMagic);
  bool ok = std::fwrite(&header, 1, sizeof header, f.get()) == sizeof header;
  return platform::closeFile(f) && ok;
}

bool MailStore::rebuildIndex() {
  platform::UniqueFile index = platform::openUniqueFile(indexPath_.c_str(), "wb");
  if (!index) {
    storeFault("メールIDXファイルが作成できません。");
    return false;
  }
  IndexHeader header{};
  std::memcpy(header.magic, kIndexMagic, sizeof kIndexMagic);
  bool writeFailed = std::fwrite(&header, 1, sizeof header, index.get()) != sizeof header;
  if (platform::fileSize(logPath_.c_str()) <= 0) {
    writeFailed = !platform::closeFile(index) || writeFailed;
    if (writeFailed) storeFault("インデックス ファイル作成失敗");
    return !writeFailed;
  }
  platform::UniqueFile log = platform::openUniqueFile(logPath_.c_str(), "rb");
  if (!log) {
    storeFault("メールログがオープンできません。");
    return false;
  }

  // Mails end at the first line that is exactly "." CR LF. The log is read
  // in blocks; the bytes of each mail go through the same parse as at
  // download. buf holds the log from offset `base`; `scan` is the next byte
  // to examine, `fed` the first byte not yet given to the parse.
  std::vector<char> buf(kBlockSize + 2);
  size_t have = 0, scan = 0, fed = 0;
  int64_t base = 0, mailStart = 0;
  int32_t mailNumber = 0;
  bool lineStart = true, stop = false;
  parser_.beginParse(0, 0);
  while (!stop) {
    size_t n = std::fread(buf.data() + have, 1, buf.size() - have, log.get());
    bool eof = n == 0;
    have += n;
    while (scan < have) {
      if (lineStart) {
        if (have - scan < 3 && !eof) break;  // the next block decides
        if (have - scan >= 3 && buf[scan] == '.' && buf[scan + 1] == '\r' && buf[scan + 2] == '\n') {
          size_t end = scan + 3;
          parser_.feed(buf.data() + fed, end - fed);
          fed = scan = end;
          parser_.endParse();
          int64_t length = base + static_cast<int64_t>(end) - mailStart;
          if (mailStart + length > INT32_MAX) {
            stop = true;  // beyond what the index's offsets can hold
            break;
          }
          mime::MailIndexEntry record = parser_.entry();
          // A mail whose header never ended (no empty line) is closed by
          // its last line all the same.
          record.mailEnd = static_cast<int32_t>(length - 3);
          if (!writeFailed && std::fwrite(&record, sizeof record, 1, index.get()) != 1) {
            writeFailed = true;  // reported once, not once per mail
            storeFault("インデックス ファイル作成失敗");
          }
          mailStart += length;
          parser_.beginParse(static_cast<int32_t>(mailStart), ++mailNumber);
          continue;
        }
      }
      const char* lf = static_cast<const char*>(std::memchr(buf.data() + scan, '\n', have - scan));
      lineStart = lf != nullptr;
      scan = lf ? static_cast<size_t>(lf - buf.data()) + 1 : have;
    }
    if (eof || stop) break;
    // Give the parse what was examined; keep the undecided bytes (at most two).
    parser_.feed(buf.data() + fed, scan - fed);
    std::memmove(buf.data(), buf.data() + scan, have - scan);
    base += static_cast<int64_t>(scan);
    have -= scan;
    scan = fed = 0;
  }
  parser_.beginParse(0, 0);  // drop the parse of an unfinished mail
  if (!platform::closeFile(index) && !writeFailed) {
    writeFailed = true;
    storeFault("インデックス ファイル作成失敗");
  }
  return !writeFailed;
}

// ---------------------------------------------------------------------------
// Operations

bool MailStore::writeLogText(const char* text, size_t size) {
  if (mailLogSize_ + static_cast<int64_t>(size) > INT32_MAX) return false;
  platform::UniqueFile f = platform::openUniqueFile(logPath_.c_str(), "ab");
  if (!f) return false;
  bool ok = std::fwrite(text, 1, size, f.get()) == size;
  // On disk before the mailbox memory confirms it and the server deletes it.
  ok = platform::flushToDisk(f.get()) && ok;
  ok = platform::closeFile(f) && ok;
  if (!ok && platform::fileSize(logPath_.c_str()) > mailLogSize_)
    platform::truncateFile(logPath_.c_str(), mailLogSize_);  // no half mail before the next one
  return ok;
}

mime::MailId MailStore::appendMail(const mime::MailIndexEntry& mail, const char* text, size_t size) {
  // The text goes first: a mail the log could not take gets no record and
  // no row that would point at nothing.
  if (!text || !mime::endsWithFinalLine(text, size) || !writeLogText(text, size)) {
    log_.logLine("メールログ追記失敗");
    return mime::kNoMail;
  }
  // The record covers exactly the bytes appended, so the next mail begins
  // at logOffset + mailEnd + 3 whatever the parse found inside the text.
  mime::MailIndexEntry entry = mail;
  entry.logOffset = static_cast<int32_t>(std::min<int64_t>(mailLogSize_, INT32_MAX));
  entry.mailEnd = static_cast<int32_t>(std::min<size_t>(size - 3, INT32_MAX));
  mailLogSize_ += static_cast<int64_t>(size);
  ++storedMailCount_;

  // An index that misses the record is rebuilt from the log at the next
  // start; a missing one is not created here without its header.
  if (platform::fileExists(indexPath_.c_str()))
    if (platform::UniqueFile index = platform::openUniqueFile(indexPath_.c_str(), "ab"))
      std::fwrite(&entry, sizeof entry, 1, index.get());
  return model_.add(entry);
}

bool MailStore::importMailFile(const char* path) {
  int64_t size = platform::fileSize(path);
  if (size < kMinimumLogSize || size > INT32_MAX - 5) return false;
  std::string text;
  try {
    if (!platform::readWholeFile(path, &text) || static_cast<int64_t>(text.size()) < kMinimumLogSize) return false;
    std::string head = text.substr(0, static_cast<size_t>(kMinimumLogSize));
    upperAscii(head);
    if (head.find("RECEIVED:") == std::string::npos && head.find("DATE:") == std::string::npos &&
        head.find("FROM:") == std::string::npos && head.find("TO:") == std::string::npos)
      return false;
    if (!mime::endsWithFinalLine(text.data(), text.size())) text += kMailEnd;
  } catch (const std::bad_alloc&) {
    return false;
  }
  parser_.parseMail(text.data(), text.size(), static_cast<int32_t>(std::min<int64_t>(mailLogSize_, INT32_MAX)),
                    storedMailCount_);
  parser_.arrivalMark = mime::kMarkGeneral;
  return appendMail(parser_.entry(), text.data(), text.size()) != mime::kNoMail;
}

bool MailStore::readFromLog(char* buffer, int32_t length, int32_t position) {
  if (!buffer || length < 0 || position < 0) return false;
  platform::UniqueFile f = platform::openUniqueFile(logPath_.c_str(), "rb");
  return f && readLogBytes(f.get(), buffer, static_cast<size_t>(length), position);
}

int64_t MailStore::logSize() { return platform::fileSize(logPath_.c_str()); }

bool MailStore::showSource(const mime::MailIndexEntry* selected, std::string* text) {
  if (!selected) return false;
  int64_t length = static_cast<int64_t>(selected->mailEnd) + 1;
  if (selected->mailEnd < 0 || selected->logOffset < 0 ||
      selected->logOffset + length > platform::fileSize(logPath_.c_str())) {
    fault("SYSERROR: 0002 ソース表示範囲異常", kFaultCaption, platform::kMbOk);
    return false;
  }
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[static_cast<size_t>(length) + 1]);
  if (!buffer) {
    fault("メモリー不足です。", kFaultCaption, platform::kMbOk);
    return false;
  }
  if (!readFromLog(buffer.get(), static_cast<int32_t>(length), selected->logOffset)) return false;
  try {
    text->assign(buffer.get(), static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    fault("メモリー不足です。", kFaultCaption, platform::kMbOk);
    return false;
  }
  return true;
}

bool MailStore::clearStore() {
  std::string error;
  // A store without a log is already empty: nothing to report.
  if (platform::fileExists(logPath_.c_str()) && !platform::deleteFileExplained(logPath_.c_str(), &error)) {
    fault(error.c_str(), "Error", platform::kMbIconInformation);
    return false;
  }
  emptyStore();
  return true;
}

bool MailStore::recycleSpam(const mime::MailIndexEntry& mail, const char* text, size_t size) {
  std::string path = joinPath(folder_, mailFileName(mail).c_str());
  if (path.size() > 260) {
    // Cut to 253 bytes, not inside a double-byte character.
    path.resize(platform::sjisCutLength(path.data(), path.size(), 253));
  }
  path += ".eml";
  platform::UniqueFile f = platform::openUniqueFile(path.c_str(), "wb");
  bool written = f && std::fwrite(text, 1, size, f.get()) == size;
  written = platform::closeFile(f) && written;
  if (!written) {
    log_.logLine("スパムメール収納失敗");
    return false;
  }
  if (platform::moveToRecycleBin(path.c_str(), owner_)) {
    log_.logLine("ごみ箱に移しました");
    return true;
  }
  log_.logLine("ごみ箱への移動失敗");
  return false;
}

bool MailStore::hasLogIn(const char* folder) const {
  std::string target = folder ? folder : "";
  return folderKey(target) != folderKey(folder_) && platform::fileExists(joinPath(target, kLogFileName).c_str());
}

MailStore::MoveResult MailStore::moveStoreFolder(const char* newFolder, ExistingLog existing) {
  std::string target = newFolder ? newFolder : "";
  // The same folder under another spelling: deleting "its" log would
  // delete the current one.
  if (folderKey(target) == folderKey(folder_)) {
    setFolder(target.c_str());
    return MoveResult::kMoved;
  }
  std::string newLog = joinPath(target, kLogFileName);
  std::string newIndex = joinPath(target, kIndexFileName);
  if (platform::fileExists(newLog.c_str())) {
    if (existing == ExistingLog::kSwitchTo) {
      setFolder(target.c_str());
      return MoveResult::kSwitched;
    }
    platform::removeFile(newLog.c_str());
    platform::removeFile(newIndex.c_str());
    // What the deleted log's folder remembered goes with it.
    for (const std::string& name : companionFiles(target)) platform::removeFile(joinPath(target, name.c_str()).c_str());
  }
  if (platform::fileExists(logPath_.c_str()) && !platform::moveFileReplacing(logPath_.c_str(), newLog.c_str())) {
    fault("メールログが移動できません。\nアクセス権を確認してください。", "Quorvel", kMbIconExclamation | kMbJapanese);
    return MoveResult::kFailed;
  }
  bool indexMoved = !platform::fileExists(indexPath_.c_str()) ||
                    platform::moveFileReplacing(indexPath_.c_str(), newIndex.c_str());
  // A memory left behind only means mails fetched once more.
  for (const std::string& name : companionFiles(folder_))
    platform::moveFileReplacing(joinPath(folder_, name.c_str()).c_str(), joinPath(target, name.c_str()).c_str());
  setFolder(target.c_str());
  if (!indexMoved) rebuildIndex();  // the moved log must not go on without its index
  return MoveResult::kMoved;
}

std::vector<std::string> MailStore::companionFiles(const std::string& folder) const {
  std::vector<std::string> names = platform::filesInFolder(folder.c_str(), kMailboxFilePrefix, kMailboxFileSuffix);
  for (const std::string& name : companions_)
    if (platform::fileExists(joinPath(folder, name.c_str()).c_str())) names.push_back(name);
  return names;
}

// Empties the model, the preview and the counters, and writes a header-only index.
void MailStore::emptyStore() {
  model_.clear();
  model_.clearPreview();
  storedMailCount_ = 0;
  mailLogSize_ = 0;
  deletedCount_ = 0;
  createIndex();
}

bool MailStore::reloadStore() {
  emptyStore();
  return openStore();
}

void MailStore::deleteMail(int row) {
  if (row < 0 || row >= model_.count()) return;
  model_.removeRow(row);
  ++deletedCount_;
}

void MailStore::writeIndexFromModel() {
  platform::UniqueFile index = platform::openUniqueFile(indexPath_.c_str(), "wb");
  IndexHeader header{};
  std::memcpy(header.magic, kIndexMagic, sizeof kIndexMagic);
  bool ok = index && std::fwrite(&header, 1, sizeof header, index.get()) == sizeof header;
  for (int row = 0; ok && row < model_.count(); ++row)
    ok = std::fwrite(&model_.entryAt(row), sizeof(mime::MailIndexEntry), 1, index.get()) == 1;
  ok = platform::closeFile(index) && ok;
  if (!ok) platform::removeFile(indexPath_.c_str());
}

// The new log is written completely under the temporary name before the
// index is deleted and the log replaced in one step: a crash at any moment
// leaves either the old log or the new one, and the index is rebuilt.
bool MailStore::rewriteLog(const std::function<bool(FILE* log, FILE* temp)>& copy) {
  platform::UniqueFile in = platform::openUniqueFile(logPath_.c_str(), "rb");
  if (!in) return false;
  platform::UniqueFile out = platform::openUniqueFile(tempLogPath_.c_str(), "wb");
  if (!out) return false;
  bool ok = copy(in.get(), out.get());
  in.reset();
  ok = platform::closeFile(out) && ok;
  if (ok) {
    platform::removeFile(indexPath_.c_str());
    ok = platform::replaceFile(tempLogPath_.c_str(), logPath_.c_str());
  }
  // On failure the old log stays; without its index it is rebuilt at the next start.
  if (!ok) platform::removeFile(tempLogPath_.c_str());
  return ok;
}

bool MailStore::compactStore() {
  if (deletedCount_ <= 0) return true;
  int count = model_.count();
  if (count == 0) {
    platform::removeFile(indexPath_.c_str());
    platform::removeFile(logPath_.c_str());
    mailLogSize_ = 0;
    storedMailCount_ = 0;
    deletedCount_ = 0;
    return true;
  }
  int64_t logSize = platform::fileSize(logPath_.c_str());
  bool rewritten = rewriteLog([&](FILE* in, FILE* out) {
    std::vector<char> buffer;
    for (int i = 0; i < count; ++i) {
      const mime::MailIndexEntry& e = model_.entryAt(i);
      int64_t length = static_cast<int64_t>(e.mailEnd) + 3;
      // A record that points outside the log cannot be copied: keep the log.
      if (e.mailEnd < 0 || e.logOffset < 0 || e.logOffset + length > logSize) return false;
      try {
        buffer.resize(static_cast<size_t>(length) + 1);
      } catch (const std::bad_alloc&) {
        log_.logLine("メモリー不足で再構成失敗");
        return false;
      }
      if (!readLogBytes(in, buffer.data(), static_cast<size_t>(length), e.logOffset) ||
          std::fwrite(buffer.data(), 1, static_cast<size_t>(length), out) != static_cast<size_t>(length))
        return false;
    }
    return true;
  });
  if (!rewritten) return false;
  mailLogSize_ = std::max<int64_t>(0, platform::fileSize(logPath_.c_str()));
  model_.packOffsets();
  storedMailCount_ = count;
  deletedCount_ = 0;
  writeIndexFromModel();
  return true;
}

bool MailStore::trimStore(int keepCount) {
  if (keepCount == 0) {
    platform::removeFile(indexPath_.c_str());
    platform::removeFile(logPath_.c_str());
    mailLogSize_ = 0;
    storedMailCount_ = 0;
    deletedCount_ = 0;
    model_.clear();
    return true;
  }
  // The log must hold exactly the model's mails for the model to say where
  // the kept part begins.
  if (deletedCount_ > 0 && !compactStore()) return false;
  int count = model_.count();
  if (count <= keepCount) return true;
  int64_t logSize = std::max<int64_t>(0, platform::fileSize(logPath_.c_str()));
  if (logSize == 0) {
    platform::removeFile(indexPath_.c_str());
    return true;
  }
  // The kept part must begin where a mail begins, just after the end of
  // the one before it; a stale record would cut a mail in two.
  int64_t from = model_.entryAt(count - keepCount).logOffset;
  if (from <= 0 || from >= logSize) return false;
  bool rewritten = rewriteLog([&](FILE* in, FILE* out) {
    char before[5];
    if (from < 5 || !seekTo(in, from - 5) || std::fread(before, 1, 5, in) != 5 ||
        std::memcmp(before, kMailEnd, 5) != 0)
      return false;
    std::vector<char> block(kBlockSize);
    for (int64_t left = logSize - from; left > 0;) {
      size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(block.size())));
      if (std::fread(block.data(), 1, n, in) != n || std::fwrite(block.data(), 1, n, out) != n) return false;
      left -= static_cast<int64_t>(n);
    }
    return true;
  });
  if (!rewritten) return false;
  mailLogSize_ = logSize - from;
  model_.dropFront(count - keepCount, static_cast<int32_t>(from));
  model_.packOffsets();
  storedMailCount_ = model_.count();
  writeIndexFromModel();
  return true;
}

}  // namespace store
