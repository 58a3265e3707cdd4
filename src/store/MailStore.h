// The mail store: the mail log QuorvelMail.log (the raw mails one after
// another, each ending with the line "."), its index QuorvelMail.idx (a
// 24-byte header, then one 1572-byte MailIndexEntry per mail, in log
// order) and every operation on them, kept in step with the mail model.
// The store asks no questions and posts no window messages: the program
// asks before it calls, and failures go to the fault reporter.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "mime/ArrivalMark.h"
#include "mime/MailId.h"
#include "mime/MailIndexEntry.h"
#include "mime/MailLogReader.h"
#include "mime/MimeMessage.h"
#include "platform/Clock.h"
#include "platform/Hooks.h"
#include "commlog/CommLog.h"
#include "store/MailModel.h"

namespace store {

extern const char kLogFileName[];      // "QuorvelMail.log"
extern const char kIndexFileName[];    // "QuorvelMail.idx"
extern const char kTempLogFileName[];  // "TempQuorvelMail.log"
extern const char kIndexMagic[];       // "ZKPOPIDX_HEADER"

#pragma pack(push, 1)
struct IndexHeader {
  char magic[16];  // kIndexMagic and its NUL
  int32_t reserved1;
  int32_t reserved2;
};
#pragma pack(pop)
static_assert(sizeof(IndexHeader) == 24, "index header size");
static_assert(offsetof(IndexHeader, magic) == 0);
static_assert(offsetof(IndexHeader, reserved1) == 16);
static_assert(offsetof(IndexHeader, reserved2) == 20);

constexpr int64_t kIndexHeaderSize = sizeof(IndexHeader);
constexpr int64_t kIndexRecordSize = sizeof(mime::MailIndexEntry);
// A log shorter than this is damaged, even when it holds a complete mail.
constexpr int64_t kMinimumLogSize = 500;

// A failure the store reports: a text for the user, the caption of its
// box (nullptr: none) and the message-box flags it would be shown with.
struct StoreFault {
  const char* text;
  const char* caption;
  unsigned flags;
};
// Shows or records a fault. Without one the text goes to the
// communication log (nothing waits for a click).
using StoreFaultReporter = std::function<void(const StoreFault& fault)>;

class MailStore : public mime::MailLogReader {
 public:
  explicit MailStore(const commlog::CommLog& log = commlog::commLog());

  // The mails of the store: the list draws them, commands find them by id.
  MailModel& model() { return model_; }
  const MailModel& model() const { return model_; }
  void setFaultReporter(StoreFaultReporter reporter) { reportFault_ = std::move(reporter); }

  // The mail-log folder (Shift_JIS); the file paths are "%s\\%s" of it.
  void setFolder(const char* folder);
  const std::string& folder() const { return folder_; }
  const std::string& logPath() const { return logPath_; }
  const std::string& indexPath() const { return indexPath_; }
  // The window that owns the recycle-bin operation (the main window).
  void setOwnerWindow(void* owner) { owner_ = owner; }

  // --- Start-up and the index ---

  // Checks both files at start-up: an empty store gets a header-only index;
  // a valid log gets its index rebuilt when it has no records; a damaged
  // log is deleted. A log whose last mail was cut short (a crash during its
  // append) is first cut back to the end of its last complete mail. True
  // when loadIndex is to follow (the program posts WM_USER+4 for it).
  bool openStore();
  // WM_USER+4: reads the index into the model and checks it against the
  // log; rebuilds it once per run when they disagree. True when the
  // rebuilt index is to be loaded again.
  bool loadIndex();
  // Writes an index that holds only the header.
  bool createIndex(const char* path);
  bool createIndex() { return createIndex(indexPath_.c_str()); }
  // Writes a new index from the log. False when it could not be written.
  bool rebuildIndex();

  // --- Operations ---

  // Stores one mail: its raw text (ending with CR LF "." CR LF) at the end
  // of the log, then its index record and its record in the model. `mail`
  // was parsed with logOffset = mailLogSize() and mailNumber =
  // storedMailCount(), and carries its arrivalMark. The new mail's id;
  // kNoMail when the log could not take it: then nothing was added (no
  // record, no row, the counters unchanged).
  mime::MailId appendMail(const mime::MailIndexEntry& mail, const char* text, size_t size);
  // WM_USER+22: stores a dropped mail file as an ordinary mail. True when
  // an entry was added (the caller counts a new mail and shows the newest
  // row), false when the file was ignored or could not be stored.
  bool importMailFile(const char* path);
  // Reads `length` bytes of the log at `position` into `buffer` (length + 1
  // bytes): NUL bytes become spaces, a NUL follows. False when it failed.
  bool readFromLog(char* buffer, int32_t length, int32_t position) override;
  // The log's size in bytes, -1 when there is none (readers check their
  // spans against it before they allocate).
  int64_t logSize() override;
  // The source view of the selected mail (none: nullptr): true with the
  // text for the preview (the raw mail and the dot of its last line);
  // false when nothing is shown (the failure was reported).
  bool showSource(const mime::MailIndexEntry* selected, std::string* text);
  // Erases the store (the program has asked). True when erased (the caller
  // resets its count of new mails and the session's current message to 1).
  bool clearStore();
  // Saves a spam mail as .eml in the mail-log folder and moves it to the
  // recycle bin; the outcome goes to the communication log. True when moved.
  bool recycleSpam(const mime::MailIndexEntry& mail, const char* text, size_t size);
  // True when `folder` already holds a mail log (the program then asks
  // what moveStoreFolder is to do with it).
  bool hasLogIn(const char* folder) const;
  // What to do with a mail log already in the new folder.
  enum class ExistingLog { kReplace, kSwitchTo };
  enum class MoveResult { kMoved, kSwitched, kFailed };
  // Moves the store to another folder, with the mailbox memories and the
  // companion files beside the log (kMoved; the caller records the new
  // folder in the settings), or switches to the log already there
  // (kSwitched: the caller also reloads the store, WM_USER+17). kFailed:
  // the folder is unchanged (the failure was reported).
  MoveResult moveStoreFolder(const char* newFolder, ExistingLog existing = ExistingLog::kReplace);
  // Files of other rooms kept beside the log that move with it (the
  // command guard's record).
  void setCompanionFiles(std::vector<std::string> names) { companions_ = std::move(names); }
  // WM_USER+17: empties the model and reopens the store from the current
  // folder, rebuilding its index. The caller resets its count of new mails
  // and the session's current message to 1. True when loadIndex is to
  // follow, as for openStore.
  bool reloadStore();
  // Removes a mail from the model (the user deleted its row); its text
  // leaves the log at the next compactStore.
  void deleteMail(int row);
  // When mails were deleted: rewrites the log with the model's mails in
  // row order and the index from the model; every offset of the model
  // follows the new log. False when the log was left as it was.
  bool compactStore();
  // After compactStore (and compacting first when mails were deleted):
  // keeps the newest `keepCount` mails (0: deletes the store). The model
  // and the index follow the trimmed log, so mails can still be stored
  // and read when the program goes on. False when the log was left as it
  // was.
  bool trimStore(int keepCount);

  // Writes the mail's raw text (without its final "." line) to
  // folder\<mailFileName>.eml. A name already taken gets the next
  // millisecond's suffix, so no file is ever replaced; a file that could
  // not be written completely is removed. False after a message box.
  bool exportMail(const mime::MailIndexEntry& entry, const std::string& folder);
  bool exportMail(const mime::MailIndexEntry& entry, const std::string& folder, platform::LocalTime now);
  // Writes the mail's raw text (without its final "." line) to `path`,
  // replacing a file of that name; a partly written file is removed. No
  // message is shown.
  enum class WriteResult { kWritten, kNoMemory, kFailed };
  WriteResult writeMailFile(const mime::MailIndexEntry& entry, const std::string& path);

  // --- State ---
  int32_t storedMailCount() const { return storedMailCount_; }
  int64_t mailLogSize() const { return mailLogSize_; }
  bool rebuildTried() const { return rebuildTried_; }
  int deletedCount() const { return deletedCount_; }

 private:
  void fault(const char* text, const char* caption, unsigned flags);
  void storeFault(const char* text);
  void emptyStore();
  // The mailbox memories and companion files that exist in `folder`.
  std::vector<std::string> companionFiles(const std::string& folder) const;
  // Writes the index from the model (the log holds exactly its mails);
  // without a complete index the next start rebuilds it.
  void writeIndexFromModel();
  bool writeLogText(const char* text, size_t size);
  int64_t lastCompleteMailEnd(int64_t logSize);
  bool logEndsWithMail(int64_t logSize);
  // Writes the temporary log through `copy`, then puts it in the log's place.
  bool rewriteLog(const std::function<bool(FILE* log, FILE* temp)>& copy);

  MailModel model_;
  const commlog::CommLog& log_;
  StoreFaultReporter reportFault_;
  std::string folder_, logPath_, indexPath_, tempLogPath_;
  std::vector<std::string> companions_;
  void* owner_ = nullptr;
  int32_t storedMailCount_ = 0;
  int64_t mailLogSize_ = 0;
  bool rebuildTried_ = false;
  int deletedCount_ = 0;
  mime::MimeMessage parser_;  // for the rebuild and imports
};

// The file name (without extension) for a mail saved as .eml: its Subject,
// else its From, at most 80 bytes without the characters a file name cannot
// hold, followed by "(hhmmssmmm)"; without both, the 17 digits of the local
// date and time.
std::string mailFileName(const mime::MailIndexEntry& entry);
std::string mailFileName(const mime::MailIndexEntry& entry, const platform::LocalTime& now);

// "%s\\%s" of a folder and a file name.
std::string joinPath(const std::string& folder, const char* name);

}  // namespace store
