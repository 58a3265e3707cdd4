// The flags of the session tools (pop3check, imapcheck, sendcheck): the
// server and how to reach it, the login (password or OAuth 2.0 access
// token), and for the mailbox tools the folder, the log and deletion.
#pragma once
#include <cstdint>
#include <string>

#include "oauth/Sasl.h"
#include "platform/Connection.h"

namespace toolflags {

struct SessionFlags {
  std::string server;
  uint16_t port = 0;
  std::string user;
  std::string password;
  net::Security security = net::Security::kPlain;
  bool verifyCertificate = true;
  std::string trustFile;
  // Not empty: log in with this access token (--bearer-file) instead of the password.
  std::string bearerToken;
  oauth::SaslMechanism mechanism = oauth::SaslMechanism::kXoauth2;
  // The mailbox tools.
  std::string outDir;
  std::string logPath;
  bool deleteMessages = false;
  int silenceLimitMs = 0;
};

enum class Flag { kTaken, kNotShared, kBad };

// Reads argv[*i] (and its value, advancing *i) into `flags` when it is one
// of the shared flags: --server --port --user --password --security
// none|stls|starttls|tls --trust --no-verify --bearer-file
// --mechanism xoauth2|oauthbearer, and with `mailbox` --out --log --delete
// --silence-limit-ms. kBad prints why on stderr, prefixed with `tool`.
Flag parseSessionFlag(int argc, char** argv, int* i, bool mailbox, const char* tool, SessionFlags* flags);

// The usage lines of the shared flags.
const char* sessionFlagsUsage(bool mailbox);

}  // namespace toolflags
