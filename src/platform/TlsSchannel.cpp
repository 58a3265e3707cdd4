// TLS records made by SChannel through SSPI (Windows). The certificate is
// checked here, not by SChannel (manual validation): the chain with the
// system's chain engine, the host name with the SSL chain policy, and a
// private CA from the trusted file by comparing the chain's root with it.
#define SECURITY_WIN32
#include <windows.h>
#include <wincrypt.h>
#include <security.h>
#include <schannel.h>
#include <sspi.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/File.h"
#include "platform/TlsEngine.h"

#ifndef SECURITY_FLAG_IGNORE_UNKNOWN_CA
#define SECURITY_FLAG_IGNORE_UNKNOWN_CA 0x00000100  // wininet.h
#endif

namespace net {
namespace {

std::string hex(long code) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(code));
  return buf;
}

std::wstring wide(const std::string& text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &w[0], n);
  w.resize(wcslen(w.c_str()));
  return w;
}

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

class SchannelEngine : public TlsEngine {
 public:
  ~SchannelEngine() override {
    if (haveContext_) DeleteSecurityContext(&context_);
    if (haveCredentials_) FreeCredentialsHandle(&credentials_);
    if (trusted_) CertCloseStore(trusted_, 0);
  }

  TlsFailure start(const TlsOptions& options, std::string* detail) override {
    host_ = options.hostName;
    if (options.verify && !options.trustFile.empty()) {
      trusted_ = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
      if (!trusted_ || !loadTrustFile(options.trustFile, trusted_, detail)) return TlsFailure::kTrustFile;
    }
    SCHANNEL_CRED cred;
    std::memset(&cred, 0, sizeof cred);
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    // Always named: without them older protocols are allowed too.
    cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    SECURITY_STATUS rc = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                                   nullptr, &cred, nullptr, nullptr, &credentials_, &expiry);
    if (rc != SEC_E_OK) {
      *detail = "AcquireCredentialsHandle " + hex(rc);
      return TlsFailure::kUnavailable;
    }
    haveCredentials_ = true;
    return TlsFailure::kNone;
  }

  void feed(const char* data, size_t length) override { in_.append(data, length); }

  Step handshake(std::string* out, std::string* detail) override {
    for (;;) {
      if (haveContext_ && in_.empty()) return Step::kNeedInput;
      SecBuffer inBuffers[2];
      inBuffers[0] = {static_cast<unsigned long>(in_.size()), SECBUFFER_TOKEN, in_.empty() ? nullptr : &in_[0]};
      inBuffers[1] = {0, SECBUFFER_EMPTY, nullptr};
      SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, inBuffers};
      SecBuffer outBuffer = {0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &outBuffer};
      unsigned long attributes = 0;
      const unsigned long flags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;
      SECURITY_STATUS rc = InitializeSecurityContextA(
          &credentials_, haveContext_ ? &context_ : nullptr, const_cast<char*>(host_.c_str()), flags, 0, 0,
          haveContext_ ? &inDesc : nullptr, 0, haveContext_ ? nullptr : &context_, &outDesc, &attributes, nullptr);
      if (!haveContext_ && (rc == SEC_E_OK || rc == SEC_I_CONTINUE_NEEDED)) haveContext_ = true;
      if (outBuffer.pvBuffer) {
        if (outBuffer.cbBuffer) out->append(static_cast<const char*>(outBuffer.pvBuffer), outBuffer.cbBuffer);
        FreeContextBuffer(outBuffer.pvBuffer);
      }
      if (rc == SEC_E_INCOMPLETE_MESSAGE) return Step::kNeedInput;
      if (rc != SEC_E_OK && rc != SEC_I_CONTINUE_NEEDED && rc != SEC_I_INCOMPLETE_CREDENTIALS) {
        *detail = "InitializeSecurityContext " + hex(rc);
        return Step::kFailed;
      }
      keepExtra(inBuffers[1]);
      if (rc == SEC_E_OK) {
        if (QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
          *detail = "stream sizes";
          return Step::kFailed;
        }
        return Step::kDone;
      }
      if (in_.empty() && rc == SEC_I_CONTINUE_NEEDED) return Step::kNeedInput;
    }
  }

  TlsFailure verify(const TlsOptions& options, std::string* detail) override {
    if (!options.verify) return TlsFailure::kNone;
    PCCERT_CONTEXT cert = nullptr;
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK || !cert) {
      *detail = "no certificate";
      return TlsFailure::kBadCertificate;
    }
    TlsFailure result = checkChain(cert, detail);
    CertFreeCertificateContext(cert);
    return result;
  }

  bool decrypt(std::string* plain, bool* closed) override {
    *closed = false;
    while (!in_.empty()) {
      SecBuffer buffers[4];
      buffers[0] = {static_cast<unsigned long>(in_.size()), SECBUFFER_DATA, &in_[0]};
      for (int i = 1; i < 4; ++i) buffers[i] = {0, SECBUFFER_EMPTY, nullptr};
      SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
      SECURITY_STATUS rc = DecryptMessage(&context_, &desc, 0, nullptr);
      if (rc == SEC_E_INCOMPLETE_MESSAGE) return true;
      if (rc == SEC_I_CONTEXT_EXPIRED) {
        *closed = true;
        in_.clear();
        return true;
      }
      if (rc != SEC_E_OK && rc != SEC_I_RENEGOTIATE) return false;
      const SecBuffer* extra = nullptr;
      for (const SecBuffer& b : buffers) {
        if (b.BufferType == SECBUFFER_DATA && b.cbBuffer) plain->append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
        if (b.BufferType == SECBUFFER_EXTRA) extra = &b;
      }
      std::string rest = extra ? in_.substr(in_.size() - extra->cbBuffer) : std::string();
      in_.swap(rest);
      if (rc == SEC_I_RENEGOTIATE) {
        // A post-handshake message (a TLS 1.3 session ticket): handed to
        // the context; nothing has to be answered.
        std::string ignored, why;
        if (handshake(&ignored, &why) == Step::kFailed) return false;
      }
    }
    return true;
  }

  bool encrypt(const char* data, size_t length, std::string* out) override {
    while (length > 0) {
      size_t n = length < sizes_.cbMaximumMessage ? length : sizes_.cbMaximumMessage;
      std::string record(sizes_.cbHeader + n + sizes_.cbTrailer, '\0');
      std::memcpy(&record[sizes_.cbHeader], data, n);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, &record[0]},
          {static_cast<unsigned long>(n), SECBUFFER_DATA, &record[sizes_.cbHeader]},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, &record[sizes_.cbHeader + n]},
          {0, SECBUFFER_EMPTY, nullptr},
      };
      SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
      if (EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) return false;
      out->append(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
      data += n;
      length -= n;
    }
    return true;
  }

  void shutdown(std::string* out) override {
    if (!haveContext_) return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token = {sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc tokenDesc = {SECBUFFER_VERSION, 1, &token};
    if (ApplyControlToken(&context_, &tokenDesc) != SEC_E_OK) return;
    SecBuffer outBuffer = {0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &outBuffer};
    unsigned long attributes = 0;
    InitializeSecurityContextA(&credentials_, &context_, const_cast<char*>(host_.c_str()),
                               ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                   ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM,
                               0, 0, nullptr, 0, &context_, &outDesc, &attributes, nullptr);
    if (outBuffer.pvBuffer) {
      out->append(static_cast<const char*>(outBuffer.pvBuffer), outBuffer.cbBuffer);
      FreeContextBuffer(outBuffer.pvBuffer);
    }
  }

  std::string description() const override {
    SecPkgContext_ConnectionInfo info;
    if (QueryContextAttributesA(const_cast<CtxtHandle*>(&context_), SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK)
      return "SChannel";
    const char* name = (info.dwProtocol & SP_PROT_TLS1_3_CLIENT)   ? "TLSv1.3"
                       : (info.dwProtocol & SP_PROT_TLS1_2_CLIENT) ? "TLSv1.2"
                                                                   : "TLS (older)";
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s SChannel cipher 0x%04lX", name, static_cast<unsigned long>(info.aiCipher));
    return buf;
  }

 private:
  void keepExtra(const SecBuffer& extra) {
    if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0 && extra.cbBuffer <= in_.size())
      in_.erase(0, in_.size() - extra.cbBuffer);
    else
      in_.clear();
  }

  // The SSL policy with the host name; `ignoreUnknownCa` for a root that
  // the trusted file names.
  DWORD policyError(PCCERT_CHAIN_CONTEXT chain, bool ignoreUnknownCa) {
    std::wstring name = wide(host_);
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

  bool rootIsTrustedByFile(PCCERT_CHAIN_CONTEXT chain) {
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

  TlsFailure checkChain(PCCERT_CONTEXT cert, std::string* detail) {
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
      *detail = "CertGetCertificateChain " + hex(static_cast<long>(e));
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
        *detail = "policy " + hex(static_cast<long>(policy)) + ", chain status " + hex(static_cast<long>(status));
      }
    }
    CertFreeCertificateChain(chain);
    if (extra) CertCloseStore(extra, 0);
    return result;
  }

  TlsFailure failureOf(DWORD policy, DWORD status, PCCERT_CONTEXT cert, PCCERT_CHAIN_CONTEXT chain) {
    const bool alone = chain->cChain > 0 && chain->rgpChain[0]->cElement == 1 && selfIssued(cert);
    if (policy == static_cast<DWORD>(CERT_E_EXPIRED) || (status & CERT_TRUST_IS_NOT_TIME_VALID))
      return TlsFailure::kExpired;
    if ((status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) ||
        policy == static_cast<DWORD>(CERT_E_UNTRUSTEDROOT) || policy == static_cast<DWORD>(CERT_E_CHAINING))
      return alone ? TlsFailure::kSelfSigned : TlsFailure::kUntrusted;
    if (policy == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) return TlsFailure::kNameMismatch;
    return TlsFailure::kBadCertificate;
  }

  std::string host_;
  std::string in_;
  CredHandle credentials_;
  CtxtHandle context_;
  bool haveCredentials_ = false;
  bool haveContext_ = false;
  SecPkgContext_StreamSizes sizes_ = {};
  HCERTSTORE trusted_ = nullptr;
};

}  // namespace

std::unique_ptr<TlsEngine> TlsEngine::create() { return std::make_unique<SchannelEngine>(); }

}  // namespace net
