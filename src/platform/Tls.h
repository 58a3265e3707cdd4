// TLS as a net::Stream over a connected TcpSocket. The handshake blocks
// (bounded by a deadline); afterwards the stream reads either as the socket
// would block, or one socket read per call (for sessions driven by socket
// notifications), keeping decrypted bytes for the next calls (pending()).
// Natively the records are made by OpenSSL, on Windows by SChannel.
#pragma once
#include <memory>
#include <string>

#include "platform/Net.h"

namespace net {

enum class TlsFailure {
  kNone,
  kUnavailable,    // the TLS library could not be set up
  kTrustFile,      // the trusted-certificate file cannot be read
  kHandshake,      // the handshake failed (protocol error or alert)
  kClosed,         // the server closed the connection during the handshake
  kTimedOut,       // the handshake did not finish in time
  kNameMismatch,   // the certificate does not name the server
  kUntrusted,      // the certificate's issuer is not trusted
  kExpired,        // the certificate has expired (or is not yet valid)
  kSelfSigned,     // the certificate signs itself and is not trusted
  kBadCertificate, // any other certificate fault
};

struct TlsOptions {
  std::string hostName;   // the server as the user named it (SNI, name check)
  bool verify = true;     // check the chain and the host name
  std::string trustFile;  // PEM certificates trusted besides the system's
};

class TlsEngine;

class TlsStream : public Stream {
 public:
  explicit TlsStream(TcpSocket& socket);
  ~TlsStream() override;
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // Runs the handshake and checks the certificate; false with failure() set.
  bool handshake(const TlsOptions& options, int timeoutMs);
  TlsFailure failure() const { return failure_; }
  // The TLS library's own words on the failure (may be empty).
  const std::string& failureDetail() const { return detail_; }
  // Protocol and cipher, e.g. "TLSv1.3 TLS_AES_256_GCM_SHA384".
  std::string description() const;

  // true: receive() reads the socket at most once and fails with
  // kErrWouldBlock when no whole record has arrived.
  void setOneReadPerCall(bool on) { oneReadPerCall_ = on; }

  int send(const char* data, int length) override;
  int receive(char* buffer, int capacity) override;
  int error() const override { return error_; }
  int pending() const override { return static_cast<int>(plain_.size() - plainPos_); }
  // Sends close_notify (best effort) and closes the socket.
  void close() override;

 private:
  bool fail(TlsFailure failure, const std::string& detail);
  bool sendRaw(const std::string& bytes);
  // One socket read fed to the engine: >0 bytes, 0 closed, -1 error.
  int readSocket();

  TcpSocket& socket_;
  std::unique_ptr<TlsEngine> engine_;
  TlsFailure failure_ = TlsFailure::kNone;
  std::string detail_;
  std::string plain_;
  size_t plainPos_ = 0;
  bool established_ = false;
  bool peerClosed_ = false;
  bool oneReadPerCall_ = false;
  int error_ = 0;
};

// The communication-log text of a failure, naming the reason.
const char* tlsFailureText(TlsFailure failure);

// The log lines of a secured session: the warning when the certificate is
// not checked, the connection made, and the failure with the library's words.
extern const char kTlsNoVerifyWarning[];
std::string tlsConnectedLine(const TlsStream& tls);
std::string tlsFailureLine(const TlsStream& tls);

}  // namespace net
