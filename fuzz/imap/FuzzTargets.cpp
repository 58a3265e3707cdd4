#include "FuzzTargets.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>

#include "imap/ImapSession.h"

namespace imapfuzz {
namespace {

struct Wire : imap::ImapWire {
  std::string sent;
  bool send(const std::string& bytes) override {
    sent += bytes;
    return true;
  }
  bool startTls() override { return true; }
  void close() override {}
};

struct Host : imap::ImapHost {
  std::set<uint32_t> handed;
  int ended = 0;
  imap::MessageAnswer onMessage(const imap::MailRef& mail, const char*, size_t) override {
    handed.insert(mail.uid);
    return imap::MessageAnswer::kDelete;
  }
  void onBatchEnded() override {}
  void onSessionFailed(imap::ImapFailure) override {}
  void onSessionEnded() override { ++ended; }
};

const commlog::CommLog& nullLog() {
  static commlog::CommLog log("/dev/null");
  return log;
}

}  // namespace

void session(const uint8_t* data, size_t size) {
  if (size == 0) return;
  size_t piece = (data[0] & 0x3F) + 1;
  Host host;
  Wire wire;
  imap::ImapSession s(host, wire, nullLog());
  imap::ImapAccount account;
  account.user = "u";
  account.password = "p";
  account.stayConnected = (data[0] & 0x40) != 0;
  account.endpoint.security = (data[0] & 0x80) ? net::Security::kStartTls : net::Security::kPlain;
  s.begin(account, 0);
  const char* text = reinterpret_cast<const char*>(data + 1);
  size_t length = size - 1;
  for (size_t at = 0; at < length && !s.ended(); at += piece)
    s.feed(text + at, std::min(piece, length - at));
  s.tick(imap::kIdleReissueMs);
  s.checkNow();
  s.stop();
  s.onClosed();
  if (host.ended != 1) __builtin_trap();
  // Nothing is marked deleted that was not handed on.
  for (size_t at = 0; (at = wire.sent.find("UID STORE ", at)) != std::string::npos; at += 10) {
    unsigned long uid = std::strtoul(wire.sent.c_str() + at + 10, nullptr, 10);
    if (!host.handed.count(static_cast<uint32_t>(uid))) __builtin_trap();
  }
}

}  // namespace imapfuzz
