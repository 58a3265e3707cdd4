// The account shared by the native POP3 session tests (and the log reading).
#pragma once
#include <cstdint>

#include "pop3/Pop3Session.h"
#include "support/CommLogLines.h"

namespace testsupport {

inline pop3::Pop3Account testAccount(uint16_t port) {
  pop3::Pop3Account a;
  a.server = "127.0.0.1";
  a.port = port;
  a.accountName = "taro";
  a.password = "himitsu";
  return a;
}

}  // namespace testsupport
