#include "store/MailModel.h"

#include <algorithm>

namespace store {

void MailModel::setView(MailModelView* view) {
  view_ = view;
  if (view_) view_->rowsReset(count());
}

int MailModel::rowOf(mime::MailId id) const {
  // Ids are given in ascending order and rows never change their order.
  auto it = std::lower_bound(records_.begin(), records_.end(), id,
                             [](const MailRecord& r, mime::MailId wanted) { return r.id < wanted; });
  return it != records_.end() && it->id == id ? static_cast<int>(it - records_.begin()) : -1;
}

const mime::MailIndexEntry* MailModel::find(mime::MailId id) const {
  int row = rowOf(id);
  return row < 0 ? nullptr : &records_[static_cast<size_t>(row)].entry;
}

bool MailModel::setArrivalMark(mime::MailId id, mime::ArrivalMark mark) {
  int row = rowOf(id);
  if (row < 0) return false;
  records_[static_cast<size_t>(row)].entry.arrivalMark = mark;
  if (view_) view_->rowChanged(row);
  return true;
}

mime::MailId MailModel::add(const mime::MailIndexEntry& entry) {
  MailRecord record;
  record.id = nextId_++;
  record.entry = entry;
  records_.push_back(record);
  if (view_) view_->rowAdded(count() - 1);
  return record.id;
}

void MailModel::clear() {
  if (records_.empty()) return;
  records_.clear();
  if (view_) view_->rowsReset(0);
}

void MailModel::removeRow(int row) {
  if (row < 0 || row >= count()) return;
  records_.erase(records_.begin() + row);
  if (view_) view_->rowRemoved(row);
}

void MailModel::dropFront(int count, int32_t newStart) {
  count = std::clamp(count, 0, this->count());
  records_.erase(records_.begin(), records_.begin() + count);
  for (MailRecord& r : records_) r.entry.logOffset -= newStart;
  if (view_) view_->rowsReset(this->count());
}

void MailModel::packOffsets() {
  int32_t offset = 0, number = 0;
  for (MailRecord& r : records_) {
    r.entry.logOffset = offset;
    r.entry.mailNumber = number++;
    offset += r.entry.mailEnd + 3;
  }
  if (view_) view_->rowsReset(count());
}

void MailModel::clearPreview() {
  if (view_) view_->clearPreview();
}

}  // namespace store
