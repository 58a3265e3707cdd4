// The server certificate check of the Windows HTTPS and TLS clients.
#include "platform/CertCheckWin32.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/File.h"
#include "platform/Text.h"

#ifndef SECURITY_FLAG_IGNORE_UNKNOWN_CA
#define SECURITY_FLAG_IGNORE_UNKNOWN_CA 0x00000100  // wininet.h
#endif

namespace net {

std::string hexCode(long code) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(code));
  return buf;
}

namespace {

bool selfIssued(PCCERT_CONTEXT cert) {
  return CertCompareCertificateName(X509_ASN_ENCODING, &cert->pCertInfo->Subject, &cert->pCertInfo->Issuer) != 0;
}

// The trusted file's certificates: every PEM block in it.
bool loadTrustFile(const std::string& path, HCERTSTORE store, std::string* detail) {
  std::string text;
  if (!platform::readWholeFile(path.c_str(), &text)) {
    *detail = path;
    return false;
  }
  static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
  static const char kEnd[] = "-----END CERTIFICATE-----";
  int added = 0;
  for (size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
    size_t end = text.find(kEnd, at);
    if (end == std::string::npos) break;
    end += sizeof kEnd - 1;
    std::string block = text.substr(at, end - at);
    at = end;
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr))
      continue;
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr))
      continue;
    if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_ALWAYS,
                                         nullptr))
      ++added;
  }
  if (added == 0) *detail = path + ": no certificate";
  return added > 0;
}

}  // namespace

ServerCertCheck::~ServerCertCheck() {
  if (trusted_) CertCloseStore(trusted_, 0);
}

TlsFailure ServerCertCheck::start(const TlsOptions& options, std::string* detail) {
  host_ = options.hostName;
  if (options.verify && !options.trustFile.empty()) {
    trusted_ = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (!trusted_ || !loadTrustFile(options.trustFile, trusted_, detail)) return TlsFailure::kTrustFile;
  }
  return TlsFailure::kNone;
}

// The SSL policy with the host name; `ignoreUnknownCa` for a root that
// the trusted file names.
DWORD ServerCertCheck::policyError(PCCERT_CHAIN_CONTEXT chain, bool ignoreUnknownCa) {
  std::wstring name = platform::toWide(host_.c_str());
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
  std::memset(&ssl, 0, sizeof ssl);
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = ignoreUnknownCa ? SECURITY_FLAG_IGNORE_UNKNOWN_CA : 0;
  ssl.pwszServerName = &name[0];
  CERT_CHAIN_POLICY_PARA para;
  std::memset(&para, 0, sizeof para);
  para.cbSize = sizeof para;
  para.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status;
  std::memset(&status, 0, sizeof status);
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &status)) return GetLastError();
  return status.dwError;
}

bool ServerCertCheck::rootIsTrustedByFile(PCCERT_CHAIN_CONTEXT chain) {
  if (!trusted_ || chain->cChain == 0) return false;
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  if (simple->cElement == 0) return false;
  PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
  if (!selfIssued(root)) return false;
  PCCERT_CONTEXT candidate = nullptr;
  while ((candidate = CertEnumCertificatesInStore(trusted_, candidate)) != nullptr) {
    if (candidate->cbCertEncoded == root->cbCertEncoded &&
        std::memcmp(candidate->pbCertEncoded, root->pbCertEncoded, root->cbCertEncoded) == 0) {
      CertFreeCertificateContext(candidate);
      return true;
    }
  }
  return false;
}

TlsFailure ServerCertCheck::check(PCCERT_CONTEXT cert, std::string* detail) {
  // The certificates the server sent, and those of the trusted file, help
  // to build the chain; only the system's roots (or the file, below) trust.
  HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
  if (extra) {
    if (cert->hCertStore) CertAddStoreToCollection(extra, cert->hCertStore, 0, 0);
    if (trusted_) CertAddStoreToCollection(extra, trusted_, 0, 0);
  }
  LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA para;
  std::memset(&para, 0, sizeof para);
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, cert, nullptr, extra, &para, 0, nullptr, &chain)) {
    DWORD e = GetLastError();
    if (extra) CertCloseStore(extra, 0);
    *detail = "CertGetCertificateChain " + hexCode(static_cast<long>(e));
    return TlsFailure::kBadCertificate;
  }
  const DWORD status = chain->TrustStatus.dwErrorStatus;
  DWORD policy = policyError(chain, false);
  TlsFailure result = TlsFailure::kNone;
  // Accepted only when the policy and the chain both find nothing (the
  // policy alone passes an incomplete chain under Wine).
  DWORD remaining = status;
  if (policy != 0 || status != 0) {
    // A root the trusted file holds, byte for byte: the rest of the checks
    // (name, validity) still apply.
    if ((status & CERT_TRUST_IS_UNTRUSTED_ROOT) && rootIsTrustedByFile(chain)) {
      remaining = status & ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
      policy = policyError(chain, true);
    }
    if (policy != 0 || remaining != 0) {
      result = failureOf(policy, remaining, cert, chain);
      *detail = "policy " + hexCode(static_cast<long>(policy)) + ", chain status " + hexCode(static_cast<long>(status));
    }
  }
  CertFreeCertificateChain(chain);
  if (extra) CertCloseStore(extra, 0);
  return result;
}

TlsFailure ServerCertCheck::failureOf(DWORD policy, DWORD status, PCCERT_CONTEXT cert, PCCERT_CHAIN_CONTEXT chain) {
  const bool alone = chain->cChain > 0 && chain->rgpChain[0]->cElement == 1 && selfIssued(cert);
  if (policy == static_cast<DWORD>(CERT_E_EXPIRED) || (status & CERT_TRUST_IS_NOT_TIME_VALID))
    return TlsFailure::kExpired;
  if ((status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) ||
      policy == static_cast<DWORD>(CERT_E_UNTRUSTEDROOT) || policy == static_cast<DWORD>(CERT_E_CHAINING))
    return alone ? TlsFailure::kSelfSigned : TlsFailure::kUntrusted;
  if (policy == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) return TlsFailure::kNameMismatch;
  return TlsFailure::kBadCertificate;
}

}  // namespace net
