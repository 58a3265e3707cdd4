#include "pop3/Pop3Session.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/Clock.h"

namespace pop3 {
namespace {

constexpr char kClosingLine[] = "POPサーバ通信を切断しました\r---------------------------";
// A status line longer than this is taken as it is, without its line end.
constexpr size_t kMaxStatusLine = 8192;

std::string withoutLineEnd(const std::string& text) {
  size_t n = text.size();
  if (n && text[n - 1] == '\n') --n;
  if (n && text[n - 1] == '\r') --n;
  return text.substr(0, n);
}

std::string format(const char* pattern, long value) {
  char buf[256];
  std::snprintf(buf, sizeof buf, pattern, value);
  return buf;
}

}  // namespace

bool isPositive(const std::string& line) {
  return line.size() >= 3 && line[0] == '+' && (line[1] == 'O' || line[1] == 'o') &&
         (line[2] == 'K' || line[2] == 'k');
}

std::string uniqueIdOf(const std::string& line) {
  std::string text = withoutLineEnd(line);
  size_t word = 0, pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    size_t end = pos;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
    if (end > pos && ++word == 3) return text.substr(pos, end - pos);
    pos = end;
  }
  return std::string();
}

long replyNumber(const std::string& line) {
  long value = 0;
  for (size_t i = 4; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    if (value > 0x7FFFFFFF / 10) return 0x7FFFFFFF;
    value = value * 10 + (line[i] - '0');
  }
  return value;
}

Pop3Session::Pop3Session(Pop3Host& host, const commlog::CommLog& log) : host_(host), log_(log) {}

Pop3Session::~Pop3Session() = default;

int Pop3Session::open(const Pop3Account& account) {
  account_ = account;
  ended_ = false;
  closed_ = false;
  state_ = AwaitGreeting;
  messageCount_ = 0;
  currentMessage_ = 1;
  pendingLine_.clear();
  lastData_.clear();

  int error = 0;
  if (!net::startup(&error)) {
    log_.logLine("ソケット初期化失敗");
    return kStartupFailed;
  }
  winsockStarted_ = true;
  uint32_t address = 0;
  if (!net::resolveHost(account_.server.c_str(), &address)) {
    log_.logLine("POPサーバが見つかりません");
    return kResolveFailed;
  }
  if (!socket_.create()) {
    log_.logLine("ソケットをオープンできません");
    return kSocketFailed;
  }
  if (!socket_.setReceiveTimeout(kGreetingTimeoutMs)) {
    log_.logLine("受信タイムアウト設定に失敗");
    return kTimeoutSetFailed;
  }
  if (!socket_.connect(address, account_.port)) {
    log_.logLine("POPサーバに接続できません");
    return kConnectFailed;
  }
  connected_ = true;
  log_.logLine("POPサーバに接続しました");

  int code = readGreeting();
  if (code) return code;

  state_ = UserSent;
  std::string user = "USER " + account_.accountName;
  code = sendCommand(user.c_str(), kUserSendFailed);
  if (code) return code;
  if (!host_.requestNotifications(socket_, &error)) {
    log_.logLine(format("ERROR [%ld] AsyncSelect失敗", error).c_str());
    return kSelectFailed;
  }
  lastActivityMs_ = platform::monotonicMs();
  return 0;
}

int Pop3Session::readGreeting() {
  uint64_t deadline = platform::monotonicMs() + kGreetingTimeoutMs;
  for (;;) {
    bool nothing = false;
    int code = receive(&nothing);
    if (code) return code;
    if (!nothing) {
      std::string line;
      size_t used = takeLine(receiveBuffer_, receivedLength_, &line);
      if (!line.empty()) {
        // Bytes after the greeting are kept for the next status line.
        pendingLine_.assign(receiveBuffer_ + used, receivedLength_ - used);
        return checkStatusLine(line);
      }
    }
    if (platform::monotonicMs() >= deadline) {
      log_.logLine(format("SOCKET_ERRORで失敗: %ld\n", net::kErrTimedOut).c_str());
      return kReadFailed;
    }
  }
}

int Pop3Session::receive(bool* nothing) {
  *nothing = false;
  std::memset(receiveBuffer_, 0, sizeof receiveBuffer_);
  receivedLength_ = socket_.receive(receiveBuffer_, static_cast<int>(kReceiveBufferSize));
  if (receivedLength_ < 0) {
    int error = socket_.error();
    receivedLength_ = 0;
    if (error == net::kErrWouldBlock) {
      *nothing = true;
      return 0;
    }
    log_.logLine(format("SOCKET_ERRORで失敗: %ld\n", error).c_str());
    return kReadFailed;
  }
  lastActivityMs_ = platform::monotonicMs();
  lastData_ = withoutLineEnd(std::string(receiveBuffer_, receivedLength_));
  if (receivedLength_ == 0) {  // the server has closed the connection
    log_.logLine("応答なし");
    return kNoResponse;
  }
  return 0;
}

size_t Pop3Session::takeLine(const char* data, size_t length, std::string* line) {
  line->clear();
  const char* lf = static_cast<const char*>(std::memchr(data, '\n', length));
  size_t used = lf ? static_cast<size_t>(lf - data) + 1 : length;
  pendingLine_.append(data, used);
  if (lf || pendingLine_.size() > kMaxStatusLine) {
    line->swap(pendingLine_);
    pendingLine_.clear();
  }
  return used;
}

int Pop3Session::checkStatusLine(const std::string& line) {
  lastData_ = withoutLineEnd(line);
  if (line.size() < 2) {
    log_.logLine("応答なし");
    return kNoResponse;
  }
  if (line.compare(0, 4, "-ERR") == 0) {
    log_.logLine("サーバが応答を拒否しました");
    return kRefused;
  }
  log_.logLine(lastData_.c_str());
  return 0;
}

void Pop3Session::onSocketEvent(int event) {
  if (!socket_.isOpen()) return;
  switch (event) {
    case kFdRead:
      onReadable();
      break;
    case kFdWrite:
      log_.logLine("FD_WRITE Event受信");
      break;
    case kFdConnect:
      log_.logLine("FD_CONNECT Event受信");
      break;
    case kFdClose:
      log_.logLine("FD_CLOSE Event受信");
      // Windows may tell of the close before all data was read.
      while (socket_.isOpen() && socket_.waitReadable(0) == 1) onReadable();
      if (socket_.isOpen()) {
        log_.logLine("サーバが接続を切断しました");
        abort();
      }
      break;
    default:
      break;
  }
}

void Pop3Session::onReadable() {
  bool nothing = false;
  int code = receive(&nothing);
  if (nothing) return;
  if (code == 0) code = process(receiveBuffer_, static_cast<size_t>(receivedLength_));
  if (code == kReadFailed || code == kNoResponse || code == kRefused) {
    log_.logLine("応答エラーでクローズ実行");
    abort();
  } else if (code) {
    log_.logPair("応答処理結果エラーでクローズ実行", std::to_string(code).c_str());
    abort();
  }
}

int Pop3Session::process(const char* data, size_t length) {
  size_t pos = 0;
  while (pos < length && !closed_) {
    if (state_ == Receiving) {
      bool complete = false;
      size_t used = 0;
      int code = collect(data + pos, length - pos, &used, &complete);
      if (code) return code;
      pos += used;
      if (complete) {
        code = finishMessage();
        if (code) return code;
      }
      continue;
    }
    std::string line;
    pos += takeLine(data + pos, length - pos, &line);
    if (line.empty()) break;
    if (state_ == UidlSent) {
      // A server without UIDL only leaves the message without an id.
      lastData_ = withoutLineEnd(line);
      log_.logLine(lastData_.c_str());
      uniqueId_ = isPositive(line) ? uniqueIdOf(line) : std::string();
      state_ = RetrSent;
      int code = sendRetrCommand();
      if (code) return code;
      continue;
    }
    int code = checkStatusLine(line);
    if (code) return code;
    code = dispatch(line);
    if (code) return code;
  }
  return 0;
}

int Pop3Session::dispatch(const std::string& line) {
  switch (state_) {
    case UserSent: {
      if (!isPositive(line)) return kNotPositive;
      state_ = PassSent;
      std::string pass = "PASS " + account_.password;
      return sendCommand(pass.c_str(), kPassSendFailed);
    }
    case PassSent:
      if (!isPositive(line)) return kNotPositive;
      state_ = StatSent;
      return sendCommand("STAT", kStatSendFailed);
    case StatSent:
      if (!isPositive(line)) return kNotPositive;
      messageCount_ = static_cast<int>(replyNumber(line));
      if (messageCount_ > 0) {
        log_.logLine(format("%ld通のメールがあります", messageCount_).c_str());
        state_ = RetrSent;
        return sendRetr();
      }
      log_.logLine("新着メールはありません");
      close();
      end();
      return 0;
    case RetrSent:
      return onRetrStatus(line);
    case DeleSent:
      if (!isPositive(line)) return kNotPositive;
      return next(true);
    default:
      return 0;
  }
}

int Pop3Session::onRetrStatus(const std::string& line) {
  if (!isPositive(line)) return kNotPositive;
  size_t size = static_cast<size_t>(replyNumber(line));
  mailBuffer_.reset();
  mailCapacity_ = size == 0 || size > kMaxMailCapacity / 2 ? kMaxMailCapacity : 2 * size;
  mailBuffer_.reset(new (std::nothrow) char[mailCapacity_]);
  if (!mailBuffer_) {
    mailCapacity_ = 0;
    return kBufferAllocFailed;
  }
  mailLength_ = 0;
  mailTruncated_ = false;
  atLineStart_ = true;
  endMatched_ = 0;
  previousByte_ = '\n';
  state_ = Receiving;
  return 0;
}

size_t Pop3Session::scanForEnd(const char* data, size_t length, bool* complete) {
  static const char kEnd[] = ".\r\n";
  size_t i = 0;
  while (i < length) {
    if (atLineStart_) {
      if (data[i] == kEnd[endMatched_]) {
        previousByte_ = data[i++];
        if (++endMatched_ == 3) {
          *complete = true;
          return i;
        }
        continue;
      }
      atLineStart_ = false;
      endMatched_ = 0;
    }
    const char* lf = static_cast<const char*>(std::memchr(data + i, '\n', length - i));
    if (!lf) {
      previousByte_ = data[length - 1];
      return length;
    }
    size_t at = static_cast<size_t>(lf - data);
    char before = at > i ? data[at - 1] : previousByte_;
    atLineStart_ = before == '\r';
    previousByte_ = '\n';
    i = at + 1;
  }
  return length;
}

int Pop3Session::collect(const char* data, size_t length, size_t* used, bool* complete) {
  *complete = false;
  *used = length;
  if (!mailBuffer_) {
    log_.logLine("メールバッファなし");
    return kNoBuffer;
  }
  size_t take = scanForEnd(data, length, complete);
  *used = take;
  if (take > mailCapacity_ - mailLength_) {
    log_.logLine("メモリバッファオーバー発生");
    take = mailCapacity_ - mailLength_;
    mailTruncated_ = true;
  }
  std::memcpy(mailBuffer_.get() + mailLength_, data, take);
  mailLength_ += take;
  return 0;
}

int Pop3Session::finishMessage() {
  log_.logLine("ダウンロード完了");
  MessageAnswer answer = host_.onMessageComplete(mailBuffer_.get(), mailLength_);
  if (answer == MessageAnswer::Delete && mailTruncated_) {
    // Only part of it is stored: the whole mail stays on the server.
    log_.logLine("メールが大きすぎるためサーバから削除しません");
    answer = MessageAnswer::Keep;
  }
  if (answer == MessageAnswer::Delete) {
    state_ = DeleSent;
    std::string dele = "DELE " + std::to_string(currentMessage_);
    return sendCommand(dele.c_str(), kDeleSendFailed);
  }
  return next(false);
}

int Pop3Session::next(bool afterDelete) {
  if (currentMessage_ >= messageCount_) {
    close();
    if (afterDelete && messageCount_ != host_.newMailCount())
      log_.logLine(format("新着メール%ldのダウンロード完了", messageCount_).c_str());
    end();
    return 0;
  }
  ++currentMessage_;
  state_ = RetrSent;
  return sendRetr();
}

int Pop3Session::sendRetr() {
  uniqueId_.clear();
  if (host_.wantsUniqueIds()) {
    state_ = UidlSent;
    std::string uidl = "UIDL " + std::to_string(currentMessage_);
    return sendCommand(uidl.c_str(), kUidlSendFailed);
  }
  return sendRetrCommand();
}

int Pop3Session::sendRetrCommand() {
  std::string retr = "RETR " + std::to_string(currentMessage_);
  return sendCommand(retr.c_str(), kRetrSendFailed);
}

int Pop3Session::sendCommand(const char* command, int failureCode) {
  if (std::strncmp(command, "PASS ", 5) == 0)
    log_.logLine("> PASS ********");
  else
    log_.logPair(">", command);
  std::string line = command;
  line += "\r\n";
  int sent = socket_.send(line.data(), static_cast<int>(line.size()));
  if (sent != static_cast<int>(line.size())) {
    closeQuietly();
    log_.logLine("受信障害がありました");
    return failureCode;
  }
  lastActivityMs_ = platform::monotonicMs();
  return 0;
}

void Pop3Session::onIdleCheck(uint64_t nowMs) {
  if (!socket_.isOpen() || closed_ || state_ == AwaitGreeting) return;
  if (nowMs - lastActivityMs_ < static_cast<uint64_t>(silenceLimitMs_)) return;
  log_.logLine(format("サーバから%ld秒間応答がありません", (silenceLimitMs_ + 999) / 1000).c_str());
  abort();
}

void Pop3Session::abort() {
  host_.onSessionFailed();
  log_.logLine("異常データ受信");
  log_.logLine(lastData_.c_str());
  close();
  end();
}

void Pop3Session::closeQuietly() {
  int error = 0;
  if (socket_.isOpen()) {
    host_.cancelNotifications(socket_, &error);
    socket_.close();
  }
  if (winsockStarted_) net::cleanup(&error);
  winsockStarted_ = false;
  connected_ = false;
  closed_ = true;
}

void Pop3Session::close() {
  if (closed_) return;
  closed_ = true;
  int error = 0;
  if (socket_.isOpen()) {
    if (connected_) {
      log_.logPair(">", "QUIT");
      socket_.send("QUIT\r\n", 6);
    }
    if (!host_.cancelNotifications(socket_, &error))
      log_.logLine(format("ERROR [%ld] ソケット非ブロッキング失敗", error).c_str());
    socket_.close();
  }
  connected_ = false;
  if (winsockStarted_) {
    winsockStarted_ = false;
    if (!net::cleanup(&error)) {
      log_.logLine(format("ERROR [%ld] Cleanup 失敗", error).c_str());
      return;
    }
  }
  log_.logLine(kClosingLine);
}

void Pop3Session::end() {
  if (ended_) return;
  ended_ = true;
  host_.onSessionEnded();
}

}  // namespace pop3
