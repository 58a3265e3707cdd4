#include "check/MailboxCheck.h"

#include <cstdio>
#include <new>
#include <unordered_set>

#include "sendlib/Md5.h"

namespace check {

MailboxCheck::MailboxCheck(const config::AppSettings& settings, store::MailStore& mailStore,
                           const commlog::CommLog& log)
    : settings_(settings), store_(mailStore), log_(log) {}

void MailboxCheck::begin() {
  counts_ = CheckCounts{};
  memory_.reset();
  if (!memoryEnabled_) return;
  memory_ = std::make_unique<store::MailboxMemory>(store_.folder(), mailboxKey(settings_), log_);
  memory_->load();
  memory_->resolveStoring(
      [this](int64_t offset, uint64_t length, const std::string& digest) { return inLog(offset, length, digest); });
}

bool MailboxCheck::inLog(int64_t offset, uint64_t length, const std::string& digest) {
  if (offset < 0 || length == 0 || length > INT32_MAX || offset > INT32_MAX - static_cast<int64_t>(length) ||
      offset + static_cast<int64_t>(length) > store_.logSize())
    return false;
  std::unique_ptr<char[]> text(new (std::nothrow) char[length + 1]);
  return text && store_.readFromLog(text.get(), static_cast<int32_t>(length), static_cast<int32_t>(offset)) &&
         store::logDigest(text.get(), length) == digest;
}

pop3::MessagePlan MailboxCheck::planMessage(const pop3::ListedMessage& message) {
  using pop3::MessagePlan;
  const store::RememberedMail* known = memory_ && !message.id.empty() ? memory_->find(message.id) : nullptr;
  // Another size: the id now names another mail.
  if (!known || known->size != message.size) return MessagePlan::kFetch;
  char line[160];
  switch (known->dealt) {
    case store::Dealt::kStored:
      if (settings_.keepOnServer) return MessagePlan::kLeave;
      std::snprintf(line, sizeof line, "メール%dは受信済みです。受信せずにサーバから削除します", message.number);
      log_.logLine(line);
      return MessagePlan::kDeleteUnfetched;
    case store::Dealt::kUnreceivable:
      ++counts_.unreceivableCount;
      std::snprintf(line, sizeof line, "メール%dは受信できないメールのため受信しません(%lluバイト)", message.number,
                    static_cast<unsigned long long>(known->received));
      log_.logLine(line);
      return MessagePlan::kLeave;
    case store::Dealt::kSpamKept:
      return settings_.keepOnServer && settings_.spamFilterEnabled ? MessagePlan::kLeave : MessagePlan::kFetch;
    case store::Dealt::kGeneralKept:
      return settings_.commandMailsOnly ? MessagePlan::kLeave : MessagePlan::kFetch;
    default:
      return MessagePlan::kFetch;
  }
}

pop3::MessageAnswer MailboxCheck::onMessageComplete(const pop3::ListedMessage& message, const char* data,
                                                    size_t length) {
  return handleDownloadedMail(settings_, mail_, data, length, store_, counts_, log_, memory_.get(), message);
}

void MailboxCheck::onUnreceivable(const pop3::ListedMessage& message, uint64_t received) {
  ++counts_.unreceivableCount;
  if (!memory_ || message.id.empty()) return;
  store::RememberedMail m;
  m.dealt = store::Dealt::kUnreceivable;
  m.size = message.size;
  m.received = received;
  memory_->remember(message.id, m, false);
}

bool MailboxCheck::wantsHeaderIds() const {
  return memory_ && (settings_.keepOnServer || memory_->holdsHeaderIds());
}

std::string MailboxCheck::headerId(const char* header, size_t length) const {
  return "H:" + sendlib::toHex(sendlib::md5(header, length));
}

void MailboxCheck::onMailboxDone(const std::vector<pop3::ListedMessage>& listing, bool withIds) {
  // Without ids nothing tells which remembered mails are still there.
  if (!memory_ || (!withIds && !listing.empty())) return;
  std::unordered_set<std::string> onServer;
  onServer.reserve(listing.size());
  for (const pop3::ListedMessage& m : listing)
    if (!m.id.empty()) onServer.insert(m.id);
  memory_->keepOnly(onServer);
}

}  // namespace check
