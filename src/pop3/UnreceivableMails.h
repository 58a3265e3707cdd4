// Mails that did not fit the message buffer: remembered for the program's
// run, so that later checks leave them on the server instead of
// downloading them again. A mail is known by its UIDL when the server
// offers UIDL, else by its message number and its LIST size.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace pop3 {

struct UnreceivableMail {
  std::string uidl;       // empty when the server offers no UIDL
  int number = 0;         // with size, the key when there is no UIDL
  uint64_t size = 0;      // LIST size
  uint64_t received = 0;  // bytes that arrived when it did not fit
  bool seen = false;      // found in the current session
};

class UnreceivableMails {
 public:
  enum class Uidl { kUnknown, kOffered, kRefused };

  // A session for `account` begins: another account's mails are forgotten,
  // the rest count as not yet seen.
  void beginSession(const std::string& account);
  // Some remembered mail has not been found in this session yet, so the
  // next message has to be identified before its RETR.
  bool anyUnseen() const;
  // The remembered mail with this identity, marked seen; nullptr if none.
  const UnreceivableMail* find(const std::string& uidl, int number, uint64_t size);
  void add(UnreceivableMail mail);
  // The session went through the whole mailbox: mails not seen have left
  // the server and are forgotten; the numbers of the others move down past
  // the messages deleted in it.
  void endSession(const std::vector<int>& deleted);

  Uidl uidl() const { return uidl_; }
  void setUidl(Uidl uidl) { uidl_ = uidl; }
  size_t size() const { return mails_.size(); }

 private:
  std::string account_;
  Uidl uidl_ = Uidl::kUnknown;
  std::vector<UnreceivableMail> mails_;
};

// The program's own list, kept for its run.
UnreceivableMails& unreceivableMails();

}  // namespace pop3
