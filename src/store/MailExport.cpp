// Export of a stored mail as an .eml file.
#include <cstdio>
#include <memory>
#include <new>

#include "platform/File.h"
#include "platform/Hooks.h"
#include "store/MailStore.h"

namespace store {
namespace {

constexpr unsigned kOkBox = platform::kMbOk;
constexpr size_t kMaxPath = 259;
// Tries of the next millisecond for a name already taken.
constexpr int kNameTries = 1000;

void nextMillisecond(platform::LocalTime& t) {
  if (++t.milliseconds < 1000) return;
  t.milliseconds = 0;
  if (++t.second < 60) return;
  t.second = 0;
  if (++t.minute < 60) return;
  t.minute = 0;
  t.hour = (t.hour + 1) % 24;
}

}  // namespace

bool MailStore::exportMail(const mime::MailIndexEntry& entry, const std::string& folder) {
  return exportMail(entry, folder, platform::localTime());
}

bool MailStore::exportMail(const mime::MailIndexEntry& entry, const std::string& folder, platform::LocalTime now) {
  std::string name = mailFileName(entry, now);
  if (folder.size() + name.size() > kMaxPath) {
    fault("エクスポート先のパス名が大き過ぎます。", "Quorvel", kOkBox);
    return false;
  }
  std::string path = folder + "\\" + name + ".eml";
  for (int i = 0; platform::fileExists(path.c_str()) || platform::isDirectory(path.c_str()); ++i) {
    if (i == kNameTries) break;
    nextMillisecond(now);
    path = folder + "\\" + mailFileName(entry, now) + ".eml";
  }
  WriteResult result = platform::fileExists(path.c_str()) ? WriteResult::kFailed : writeMailFile(entry, path);
  if (result == WriteResult::kNoMemory)
    fault("メモリー不足でエクスポート失敗。", "Quorvel", kOkBox);
  else if (result == WriteResult::kFailed)
    fault("エクスポートファイルの作成に失敗しました。", "Quorvel", kOkBox);
  return result == WriteResult::kWritten;
}

MailStore::WriteResult MailStore::writeMailFile(const mime::MailIndexEntry& entry, const std::string& path) {
  if (entry.mailEnd < 0 || entry.logOffset < 0 ||
      static_cast<int64_t>(entry.logOffset) + entry.mailEnd > platform::fileSize(logPath_.c_str()))
    return WriteResult::kFailed;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[static_cast<size_t>(entry.mailEnd) + 1]);
  if (!buffer) return WriteResult::kNoMemory;
  if (!readFromLog(buffer.get(), entry.mailEnd, entry.logOffset)) return WriteResult::kFailed;
  platform::UniqueFile file = platform::openUniqueFile(path.c_str(), "wb");
  if (!file) return WriteResult::kFailed;
  bool written = std::fwrite(buffer.get(), 1, static_cast<size_t>(entry.mailEnd), file.get()) ==
                 static_cast<size_t>(entry.mailEnd);
  written = platform::closeFile(file) && written;
  if (!written) platform::removeFile(path.c_str());
  return written ? WriteResult::kWritten : WriteResult::kFailed;
}

}  // namespace store
