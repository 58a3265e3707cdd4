// The mails of the store while the program runs: one record per mail of the
// mail log, in log order, each with its index entry (offsets into the log)
// and its MailId. The one source of truth for the mail list, the preview,
// the exit rewrite and the command processing.
#pragma once
#include <vector>

#include "mime/ArrivalMark.h"
#include "mime/MailId.h"
#include "mime/MailIndexEntry.h"

namespace store {

// What the mail list is told when the model changes. The Windows mail panel
// draws the rows from the model (owner data); tests record the calls.
class MailModelView {
 public:
  virtual ~MailModelView() = default;
  // Every row may have changed; the model holds `count` rows.
  virtual void rowsReset(int count) = 0;
  // A row was added at the end.
  virtual void rowAdded(int row) = 0;
  virtual void rowChanged(int row) = 0;
  // Row `row` was removed; the rows after it moved up by one.
  virtual void rowRemoved(int row) = 0;
  // Empties the preview and the attachment display.
  virtual void clearPreview() = 0;
};

struct MailRecord {
  mime::MailId id = mime::kNoMail;
  mime::MailIndexEntry entry{};
};

class MailModel {
 public:
  void setView(MailModelView* view);

  // --- Reading (rows are 0-based, in log order) ---
  int count() const { return static_cast<int>(records_.size()); }
  const MailRecord& at(int row) const { return records_[static_cast<size_t>(row)]; }
  const mime::MailIndexEntry& entryAt(int row) const { return at(row).entry; }
  mime::MailId idAt(int row) const { return at(row).id; }
  // The current row of a mail; -1 when it is no longer in the model.
  int rowOf(mime::MailId id) const;
  // The record of a mail; nullptr when it is no longer in the model.
  const mime::MailIndexEntry* find(mime::MailId id) const;

  // --- Changes ---

  // The status column of a mail (a command's outcome). False when the mail
  // is no longer in the model.
  bool setArrivalMark(mime::MailId id, mime::ArrivalMark mark);

  // For the store: the model follows the log.
  mime::MailId add(const mime::MailIndexEntry& entry);
  void clear();
  void removeRow(int row);
  // The first `count` mails were cut off the front of the log, which now
  // begins at what was offset `newStart`.
  void dropFront(int count, int32_t newStart);
  // The log was rewritten with exactly the model's mails, in row order:
  // offsets follow one another from 0 and mails are numbered from 0.
  void packOffsets();
  void clearPreview();

 private:
  std::vector<MailRecord> records_;  // ids ascending
  mime::MailId nextId_ = 1;
  MailModelView* view_ = nullptr;
};

}  // namespace store
