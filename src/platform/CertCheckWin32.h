// The server certificate check of the Windows clients (SChannel sessions,
// WinHTTP): the chain with the system's chain engine, the host name with
// the SSL chain policy, and a private CA from the trusted file by comparing
// the chain's root with it byte for byte.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "platform/Tls.h"

namespace net {

// An error code as 0x%08X, for failure details.
std::string hexCode(long code);

class ServerCertCheck {
 public:
  ServerCertCheck() = default;
  ~ServerCertCheck();
  ServerCertCheck(const ServerCertCheck&) = delete;
  ServerCertCheck& operator=(const ServerCertCheck&) = delete;

  // Takes the host name and reads the trusted file (when verifying).
  TlsFailure start(const TlsOptions& options, std::string* detail);
  // kNone when the certificate is good for the host.
  TlsFailure check(PCCERT_CONTEXT cert, std::string* detail);

 private:
  DWORD policyError(PCCERT_CHAIN_CONTEXT chain, bool ignoreUnknownCa);
  bool rootIsTrustedByFile(PCCERT_CHAIN_CONTEXT chain);
  TlsFailure failureOf(DWORD policy, DWORD status, PCCERT_CONTEXT cert, PCCERT_CHAIN_CONTEXT chain);

  std::string host_;
  HCERTSTORE trusted_ = nullptr;
};

}  // namespace net
