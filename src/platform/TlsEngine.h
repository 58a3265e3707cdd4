// The part of TLS that differs by platform: records in, records out. The
// engine never touches the socket; TlsStream moves the bytes.
#pragma once
#include <memory>
#include <string>

#include "platform/Tls.h"

namespace net {

class TlsEngine {
 public:
  enum class Step { kDone, kNeedInput, kFailed };

  static std::unique_ptr<TlsEngine> create();
  virtual ~TlsEngine() = default;

  // Prepares a client for `options`; false (with *detail) when it cannot.
  virtual TlsFailure start(const TlsOptions& options, std::string* detail) = 0;
  // Bytes received from the server; kept until used.
  virtual void feed(const char* data, size_t length) = 0;
  // Advances the handshake; bytes to send are appended to *out.
  virtual Step handshake(std::string* out, std::string* detail) = 0;
  // After the handshake: checks the certificate as `options` asks.
  virtual TlsFailure verify(const TlsOptions& options, std::string* detail) = 0;
  // Appends the plaintext of every whole record fed so far to *plain.
  // false on a fault; *closed when the server sent close_notify.
  virtual bool decrypt(std::string* plain, bool* closed) = 0;
  virtual bool encrypt(const char* data, size_t length, std::string* out) = 0;
  // close_notify, appended to *out (may append nothing).
  virtual void shutdown(std::string* out) = 0;
  virtual std::string description() const = 0;
};

}  // namespace net
