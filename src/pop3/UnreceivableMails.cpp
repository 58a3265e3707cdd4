#include "pop3/UnreceivableMails.h"

#include <algorithm>

namespace pop3 {

void UnreceivableMails::beginSession(const std::string& account) {
  if (account != account_) {
    account_ = account;
    uidl_ = Uidl::kUnknown;
    mails_.clear();
  }
  for (UnreceivableMail& m : mails_) m.seen = false;
}

bool UnreceivableMails::anyUnseen() const {
  return std::any_of(mails_.begin(), mails_.end(), [](const UnreceivableMail& m) { return !m.seen; });
}

const UnreceivableMail* UnreceivableMails::find(const std::string& uidl, int number, uint64_t size) {
  for (UnreceivableMail& m : mails_) {
    bool same = uidl.empty() ? m.uidl.empty() && m.number == number && m.size == size : m.uidl == uidl;
    if (same && !m.seen) {
      m.seen = true;
      return &m;
    }
  }
  return nullptr;
}

void UnreceivableMails::add(UnreceivableMail mail) {
  mail.seen = true;
  mails_.push_back(std::move(mail));
}

void UnreceivableMails::endSession(const std::vector<int>& deleted) {
  mails_.erase(std::remove_if(mails_.begin(), mails_.end(), [](const UnreceivableMail& m) { return !m.seen; }),
               mails_.end());
  for (UnreceivableMail& m : mails_)
    m.number -= static_cast<int>(std::count_if(deleted.begin(), deleted.end(), [&](int n) { return n < m.number; }));
}

UnreceivableMails& unreceivableMails() {
  static UnreceivableMails mails;
  return mails;
}

}  // namespace pop3
