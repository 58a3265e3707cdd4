// TLS records made by SChannel through SSPI (Windows). The certificate is
// checked by ServerCertCheck, not by SChannel (manual validation).
#define SECURITY_WIN32
#include <windows.h>
#include <wincrypt.h>
#include <security.h>
#include <schannel.h>
#include <sspi.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/CertCheckWin32.h"
#include "platform/TlsEngine.h"


namespace net {
namespace {

class SchannelEngine : public TlsEngine {
 public:
  ~SchannelEngine() override {
    if (haveContext_) DeleteSecurityContext(&context_);
    if (haveCredentials_) FreeCredentialsHandle(&credentials_);
  }

  TlsFailure start(const TlsOptions& options, std::string* detail) override {
    host_ = options.hostName;
    TlsFailure loaded = certCheck_.start(options, detail);
    if (loaded != TlsFailure::kNone) return loaded;
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
      *detail = "AcquireCredentialsHandle " + hexCode(rc);
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
        *detail = "InitializeSecurityContext " + hexCode(rc);
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
    TlsFailure result = certCheck_.check(cert, detail);
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

  std::string host_;
  std::string in_;
  CredHandle credentials_;
  CtxtHandle context_;
  bool haveCredentials_ = false;
  bool haveContext_ = false;
  SecPkgContext_StreamSizes sizes_ = {};
  ServerCertCheck certCheck_;
};

}  // namespace

std::unique_ptr<TlsEngine> TlsEngine::create() { return std::make_unique<SchannelEngine>(); }

}  // namespace net
