// TLS records made by OpenSSL through memory BIOs (native builds).
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <cstdlib>

#include "platform/TlsEngine.h"

namespace net {
namespace {

std::string errorQueueText() {
  std::string text;
  while (unsigned long e = ERR_get_error()) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    if (!text.empty()) text += "; ";
    text += buf;
  }
  return text;
}

// The system's store: its folder looked up by hash (/etc/ssl/certs, or
// SSL_CERT_DIR), so only the certificates a chain needs are read rather
// than the whole bundle (tens of milliseconds a session, and about 1 MB
// that OpenSSL's decoders keep); a bundle file only where SSL_CERT_FILE
// names one.
void addSystemStore(X509_STORE* store) {
  if (X509_LOOKUP* folder = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir()))
    X509_LOOKUP_add_dir(folder, nullptr, X509_FILETYPE_DEFAULT);
  if (std::getenv(X509_get_default_cert_file_env())) {
    if (X509_LOOKUP* file = X509_STORE_add_lookup(store, X509_LOOKUP_file()))
      X509_LOOKUP_load_file(file, nullptr, X509_FILETYPE_DEFAULT);
  }
  ERR_clear_error();
}

bool isIpAddress(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

TlsFailure failureOfVerifyResult(long result) {
  switch (result) {
    case X509_V_OK: return TlsFailure::kNone;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return TlsFailure::kNameMismatch;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID: return TlsFailure::kExpired;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT: return TlsFailure::kSelfSigned;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED: return TlsFailure::kUntrusted;
    default: return TlsFailure::kBadCertificate;
  }
}

class OpenSslEngine : public TlsEngine {
 public:
  ~OpenSslEngine() override {
    if (ssl_) SSL_free(ssl_);  // frees both BIOs
    if (ctx_) SSL_CTX_free(ctx_);
  }

  TlsFailure start(const TlsOptions& options, std::string* detail) override {
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) return unavailable(detail);
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // The chain and the name are checked after the handshake (verify()),
    // so that the failure can be named; nothing is sent before that.
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    if (options.verify) {
      // With a trusted file the system's store is asked only if that file
      // alone does not verify the server (verify()).
      if (options.trustFile.empty()) {
        addSystemStore(SSL_CTX_get_cert_store(ctx_));
        systemStoreLoaded_ = true;
      } else if (SSL_CTX_load_verify_locations(ctx_, options.trustFile.c_str(), nullptr) != 1) {
        *detail = options.trustFile + ": " + errorQueueText();
        return TlsFailure::kTrustFile;
      }
    }
    ssl_ = SSL_new(ctx_);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    if (!ssl_ || !in || !out) {
      BIO_free(in);
      BIO_free(out);
      return unavailable(detail);
    }
    in_ = in;
    out_ = out;
    SSL_set_bio(ssl_, in, out);
    SSL_set_connect_state(ssl_);
    const bool ip = isIpAddress(options.hostName);
    if (!ip) SSL_set_tlsext_host_name(ssl_, options.hostName.c_str());
    if (options.verify) {
      X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
      X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      int ok = ip ? X509_VERIFY_PARAM_set1_ip_asc(param, options.hostName.c_str())
                  : X509_VERIFY_PARAM_set1_host(param, options.hostName.c_str(), 0);
      if (ok != 1) {
        *detail = "host name " + options.hostName;
        return TlsFailure::kNameMismatch;
      }
    }
    return TlsFailure::kNone;
  }

  void feed(const char* data, size_t length) override {
    BIO_write(in_, data, static_cast<int>(length));
  }

  Step handshake(std::string* out, std::string* detail) override {
    int rc = SSL_do_handshake(ssl_);
    drain(out);
    if (rc == 1) return Step::kDone;
    int e = SSL_get_error(ssl_, rc);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return Step::kNeedInput;
    *detail = errorQueueText();
    return Step::kFailed;
  }

  TlsFailure verify(const TlsOptions& options, std::string* detail) override {
    if (!options.verify) return TlsFailure::kNone;
    X509* cert = SSL_get1_peer_certificate(ssl_);
    if (!cert) {
      *detail = "no certificate";
      return TlsFailure::kBadCertificate;
    }
    X509_free(cert);
    long result = SSL_get_verify_result(ssl_);
    if (result != X509_V_OK && !systemStoreLoaded_) result = verifyWithSystemStore();
    if (result != X509_V_OK) *detail = X509_verify_cert_error_string(result);
    return failureOfVerifyResult(result);
  }

  bool decrypt(std::string* plain, bool* closed) override {
    *closed = false;
    char buf[16384];
    for (;;) {
      int n = SSL_read(ssl_, buf, sizeof buf);
      if (n > 0) {
        plain->append(buf, static_cast<size_t>(n));
        continue;
      }
      int e = SSL_get_error(ssl_, n);
      if (e == SSL_ERROR_WANT_READ) return true;
      if (e == SSL_ERROR_ZERO_RETURN) {
        *closed = true;
        return true;
      }
      ERR_clear_error();
      return false;
    }
  }

  bool encrypt(const char* data, size_t length, std::string* out) override {
    while (length > 0) {
      int n = SSL_write(ssl_, data, static_cast<int>(length));
      if (n <= 0) {
        ERR_clear_error();
        return false;
      }
      data += n;
      length -= static_cast<size_t>(n);
    }
    drain(out);
    return true;
  }

  void shutdown(std::string* out) override {
    SSL_shutdown(ssl_);
    ERR_clear_error();
    drain(out);
  }

  std::string description() const override {
    if (!ssl_) return std::string();
    return std::string(SSL_get_version(ssl_)) + " " + SSL_CIPHER_get_name(SSL_get_current_cipher(ssl_));
  }

 private:
  TlsFailure unavailable(std::string* detail) {
    *detail = errorQueueText();
    return TlsFailure::kUnavailable;
  }

  // The server's chain checked again as the handshake did, now against the
  // trusted file and the system's store together.
  long verifyWithSystemStore() {
    X509_STORE* store = SSL_CTX_get_cert_store(ctx_);
    addSystemStore(store);
    systemStoreLoaded_ = true;
    X509_STORE_CTX* check = X509_STORE_CTX_new();
    long result = X509_V_ERR_UNSPECIFIED;
    if (check &&
        X509_STORE_CTX_init(check, store, SSL_get0_peer_certificate(ssl_), SSL_get_peer_cert_chain(ssl_)) == 1) {
      X509_STORE_CTX_set_default(check, "ssl_server");
      X509_VERIFY_PARAM_set1(X509_STORE_CTX_get0_param(check), SSL_get0_param(ssl_));
      result = X509_verify_cert(check) == 1 ? X509_V_OK : X509_STORE_CTX_get_error(check);
    }
    X509_STORE_CTX_free(check);
    ERR_clear_error();
    return result;
  }

  void drain(std::string* out) {
    char buf[16384];
    int n;
    while ((n = BIO_read(out_, buf, sizeof buf)) > 0) out->append(buf, static_cast<size_t>(n));
  }

  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  BIO* in_ = nullptr;
  BIO* out_ = nullptr;
  bool systemStoreLoaded_ = false;
};

}  // namespace

std::unique_ptr<TlsEngine> TlsEngine::create() { return std::make_unique<OpenSslEngine>(); }

}  // namespace net
