// The mail list as the mail store sees it: one entry per stored mail, in
// log order. The Windows mail panel implements it with its list rows and
// preview; MemoryMailList keeps the entries in a vector.
#pragma once
#include <vector>

#include "mime/MailIndexEntry.h"

namespace store {

class MailList {
 public:
  virtual ~MailList() = default;
  // Adds an entry at the end of the list.
  virtual void addEntry(const mime::MailIndexEntry& entry) = 0;
  // Removes every entry.
  virtual void clearEntries() = 0;
  virtual int entryCount() const = 0;
  // Entry `index` (0 ≤ index < entryCount()) in list order.
  virtual mime::MailIndexEntry entryAt(int index) const = 0;
  // Empties the preview and the attachment display.
  virtual void clearPreview() = 0;
};

class MemoryMailList : public MailList {
 public:
  void addEntry(const mime::MailIndexEntry& entry) override { entries.push_back(entry); }
  void clearEntries() override { entries.clear(); }
  int entryCount() const override { return static_cast<int>(entries.size()); }
  mime::MailIndexEntry entryAt(int index) const override { return entries[static_cast<size_t>(index)]; }
  void clearPreview() override { ++previewClears; }

  std::vector<mime::MailIndexEntry> entries;
  int previewClears = 0;
};

}  // namespace store
