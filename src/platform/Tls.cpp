#include "platform/Tls.h"

#include <cstring>

#include "platform/Clock.h"
#include "platform/TlsEngine.h"

namespace net {
namespace {

constexpr int kCipherChunk = 16 * 1024 + 512;
// A TLS-level fault after the handshake reads as a reset connection.
constexpr int kErrTls = kErrConnReset;

}  // namespace

const char* tlsFailureText(TlsFailure failure) {
  switch (failure) {
    case TlsFailure::kNone: return "";
    case TlsFailure::kUnavailable: return "TLSを初期化できません (TLS unavailable)";
    case TlsFailure::kTrustFile: return "信頼する証明書ファイルを読めません (trust file unreadable)";
    case TlsFailure::kHandshake: return "TLSハンドシェイク失敗 (handshake failure)";
    case TlsFailure::kClosed: return "TLSハンドシェイク中にサーバが切断しました (closed during handshake)";
    case TlsFailure::kTimedOut: return "TLSハンドシェイクがタイムアウトしました (handshake timed out)";
    case TlsFailure::kNameMismatch: return "サーバ証明書のホスト名が一致しません (host name mismatch)";
    case TlsFailure::kUntrusted: return "サーバ証明書の発行者が信頼されていません (untrusted issuer)";
    case TlsFailure::kExpired: return "サーバ証明書の有効期限が切れています (expired)";
    case TlsFailure::kSelfSigned: return "サーバ証明書が自己署名です (self-signed)";
    case TlsFailure::kBadCertificate: return "サーバ証明書が不正です (bad certificate)";
  }
  return "";
}

const char kTlsNoVerifyWarning[] = "警告: サーバ証明書を検証しません (certificate check off)";

std::string tlsConnectedLine(const TlsStream& tls) { return "TLS接続しました " + tls.description(); }

std::string tlsFailureLine(const TlsStream& tls) {
  std::string text = std::string("TLSエラー: ") + tlsFailureText(tls.failure());
  if (!tls.failureDetail().empty()) text += " - " + tls.failureDetail();
  return text;
}

TlsStream::TlsStream(TcpSocket& socket) : socket_(socket) {}

TlsStream::~TlsStream() = default;

bool TlsStream::fail(TlsFailure failure, const std::string& detail) {
  failure_ = failure;
  detail_ = detail;
  error_ = kErrTls;
  return false;
}

bool TlsStream::sendRaw(const std::string& bytes) {
  if (bytes.empty()) return true;
  if (!socket_.sendAll(bytes.data(), static_cast<int>(bytes.size()))) {
    error_ = socket_.error();
    return false;
  }
  return true;
}

int TlsStream::readSocket() {
  char chunk[kCipherChunk];
  int n = socket_.receive(chunk, sizeof chunk);
  if (n < 0) {
    error_ = socket_.error();
    return -1;
  }
  if (n > 0) engine_->feed(chunk, static_cast<size_t>(n));
  return n;
}

bool TlsStream::handshake(const TlsOptions& options, int timeoutMs) {
  engine_ = TlsEngine::create();
  if (!engine_) return fail(TlsFailure::kUnavailable, std::string());
  std::string detail;
  TlsFailure started = engine_->start(options, &detail);
  if (started != TlsFailure::kNone) return fail(started, detail);
  const uint64_t deadline = platform::monotonicMs() + static_cast<uint64_t>(timeoutMs);
  for (;;) {
    std::string out;
    TlsEngine::Step step = engine_->handshake(&out, &detail);
    // An alert to the server goes out even when the handshake failed.
    if (!sendRaw(out) && step != TlsEngine::Step::kFailed)
      return fail(TlsFailure::kClosed, "send failed");
    if (step == TlsEngine::Step::kFailed) return fail(TlsFailure::kHandshake, detail);
    if (step == TlsEngine::Step::kDone) break;
    uint64_t now = platform::monotonicMs();
    if (now >= deadline) return fail(TlsFailure::kTimedOut, std::string());
    int ready = socket_.waitReadable(static_cast<int>(deadline - now));
    if (ready == 0) return fail(TlsFailure::kTimedOut, std::string());
    int n = ready < 0 ? -1 : readSocket();
    if (n == 0) return fail(TlsFailure::kClosed, std::string());
    if (n < 0) {
      if (error_ == kErrWouldBlock) continue;
      return fail(TlsFailure::kClosed, "socket error " + std::to_string(error_));
    }
  }
  TlsFailure verified = engine_->verify(options, &detail);
  if (verified != TlsFailure::kNone) return fail(verified, detail);
  established_ = true;
  // Application data that came with the last handshake records.
  bool closed = false;
  if (!engine_->decrypt(&plain_, &closed)) return fail(TlsFailure::kHandshake, "bad record");
  peerClosed_ = closed;
  return true;
}

std::string TlsStream::description() const { return engine_ ? engine_->description() : std::string(); }

int TlsStream::send(const char* data, int length) {
  if (!established_) {
    error_ = kErrNotConnected;
    return -1;
  }
  std::string out;
  if (!engine_->encrypt(data, static_cast<size_t>(length), &out)) {
    error_ = kErrTls;
    return -1;
  }
  return sendRaw(out) ? length : -1;
}

int TlsStream::receive(char* buffer, int capacity) {
  if (!established_) {
    error_ = kErrNotConnected;
    return -1;
  }
  int reads = 0;
  while (plain_.size() == plainPos_) {
    plain_.clear();
    plainPos_ = 0;
    if (peerClosed_) return 0;
    if (oneReadPerCall_ && reads > 0) {
      error_ = kErrWouldBlock;
      return -1;
    }
    int n = readSocket();
    ++reads;
    if (n <= 0) return n;
    bool closed = false;
    if (!engine_->decrypt(&plain_, &closed)) {
      error_ = kErrTls;
      return -1;
    }
    peerClosed_ = closed;
  }
  size_t n = plain_.size() - plainPos_;
  if (n > static_cast<size_t>(capacity)) n = static_cast<size_t>(capacity);
  std::memcpy(buffer, plain_.data() + plainPos_, n);
  plainPos_ += n;
  return static_cast<int>(n);
}

void TlsStream::close() {
  if (established_ && socket_.isOpen()) {
    std::string out;
    engine_->shutdown(&out);
    sendRaw(out);
  }
  established_ = false;
  socket_.close();
}

}  // namespace net
