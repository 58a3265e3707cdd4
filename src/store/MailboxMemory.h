// The mailbox memory: which messages of one mailbox the program has dealt
// with (stored, left on the server as spam or as a general mail, too large
// to receive), known by the server's unique ids, so that each mail is
// stored once. One file per mailbox beside the mail log.
//
// The file is lines of text, each ending with a checksum; records are
// appended and the last one for an id counts:
//   QuorvelMailbox 1 <md5 of the mailbox key>
//   P <id> <size> <log offset> <length> <md5 of the text>   about to be stored
//   S|K|G <id> <size>                                       stored / spam kept / general kept
//   U <id> <size> <bytes received>                          too large to receive
//   D <id>                                                  forgotten
// A store is announced (P) and made durable before the mail goes into the
// log, and confirmed (S) after: a crash between the two leaves a P that the
// next check resolves by looking into the log. A last line without its line
// end (an append cut short) is ignored; anything else that does not read
// back exactly makes the whole file untrusted: it remembers nothing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "commlog/CommLog.h"

namespace store {

// Which mailbox a memory belongs to.
struct MailboxKey {
  std::string server;  // without regard to ASCII case
  uint16_t port = 0;
  std::string account;
  std::string folder;  // the server's folder (IMAP); empty for POP3
};

// What the program did with a message.
enum class Dealt : char {
  kStoring = 'P',
  kStored = 'S',
  kSpamKept = 'K',
  kGeneralKept = 'G',
  kUnreceivable = 'U',
};

struct RememberedMail {
  Dealt dealt = Dealt::kStored;
  uint64_t size = 0;       // the server's size of the message
  uint64_t received = 0;   // kUnreceivable: the bytes that arrived
  int64_t logOffset = 0;   // kStoring: where the text goes in the mail log
  uint64_t logLength = 0;  // kStoring: its length
  std::string digest;      // kStoring: logDigest of the text
};

extern const char kMailboxFilePrefix[];  // "QuorvelMailbox-"
extern const char kMailboxFileSuffix[];  // ".dat"
constexpr size_t kMaxMailIdLength = 70;
// A file larger than this is not read (it cannot be a memory of ours).
constexpr int64_t kMaxMailboxFileSize = 256LL << 20;

// 1 to 70 printable ASCII characters (RFC 1939's unique-id).
bool isMailId(std::string_view id);
// MD5 (hex) of a mail's text as the mail log reads it back (NUL as space).
std::string logDigest(const char* text, size_t size);

class MailboxMemory {
 public:
  MailboxMemory(const std::string& logFolder, const MailboxKey& key,
                const commlog::CommLog& log = commlog::commLog());

  // "QuorvelMailbox-<16 hex digits>.dat" of the mailbox.
  static std::string fileName(const MailboxKey& key);
  const std::string& path() const { return path_; }

  // Reads the file. A missing or damaged file leaves the memory empty and
  // writes one line to the communication log; false then.
  bool load();
  // Turns every announced store into stored when `inLog(offset, length,
  // digest)` finds the text in the mail log, and forgets it otherwise.
  void resolveStoring(const std::function<bool(int64_t, uint64_t, const std::string&)>& inLog);

  const RememberedMail* find(const std::string& id) const;
  // Adds or replaces the entry of `id`; `durable`: on disk before it returns.
  // False when it could not be written (logged once per memory).
  bool remember(const std::string& id, const RememberedMail& mail, bool durable);
  bool forget(const std::string& id);
  // Keeps only the entries whose ids are in `onServer` and writes the file
  // anew, as small as the mailbox. False when it could not be written.
  bool keepOnly(const std::unordered_set<std::string>& onServer);

  size_t size() const { return entries_.size(); }
  // Some entry is known by a fingerprint of its header block ("H:...").
  bool holdsHeaderIds() const;

 private:
  std::string header() const;
  static std::string record(const std::string& id, const RememberedMail& mail);
  bool parse(const std::string& data);
  bool append(const std::string& line, bool durable);
  bool rewrite();
  void writeFailed();

  const commlog::CommLog& log_;
  std::string keyDigest_;
  std::string path_;
  std::unordered_map<std::string, RememberedMail> entries_;
  bool rewriteFirst_ = true;  // the file is missing or not ours: write it whole
  bool compact_ = false;      // the file holds exactly one line per entry
  bool torn_ = false;         // its last line was cut short
  bool writeFailureLogged_ = false;
};

}  // namespace store
