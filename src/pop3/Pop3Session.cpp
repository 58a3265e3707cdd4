#include "pop3/Pop3Session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_map>

#include "platform/Clock.h"

namespace pop3 {
namespace {

constexpr char kClosingLine[] = "POPサーバ通信を切断しました\r---------------------------";

std::string withoutLineEnd(const std::string& text);

// The base64 text of a "+ " continuation line.
std::string challengeText(const std::string& line) {
  std::string text = withoutLineEnd(line);
  size_t at = text.find_first_not_of(' ', 1);
  return at == std::string::npos ? std::string() : text.substr(at);
}

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

std::string format(const char* pattern, long number, uint64_t bytes) {
  char buf[256];
  std::snprintf(buf, sizeof buf, pattern, number, static_cast<unsigned long long>(bytes));
  return buf;
}

}  // namespace

bool isPositive(const std::string& line) {
  return line.size() >= 3 && line[0] == '+' && (line[1] == 'O' || line[1] == 'o') &&
         (line[2] == 'K' || line[2] == 'k');
}

long replyNumber(const std::string& line) {
  long value = 0;
  for (size_t i = 4; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    if (value > 0x7FFFFFFF / 10) return 0x7FFFFFFF;
    value = value * 10 + (line[i] - '0');
  }
  return value;
}

Pop3Session::Pop3Session(Pop3Host& host, const commlog::CommLog& log)
    : host_(host), log_(log), lineReader_(kMaxStatusLine) {}

Pop3Session::~Pop3Session() = default;

int Pop3Session::open(const Pop3Account& account) {
  account_ = account;
  ended_ = false;
  closed_ = false;
  setState(kAwaitGreeting);
  messageCount_ = 0;
  currentMessage_ = 1;
  lineReader_.clear();
  lastData_.clear();
  listing_.clear();
  uidlOffered_ = false;
  headerIds_ = false;
  topForUnreceivable_ = false;
  topRefused_ = false;

  net::ConnectReport failure = net::reportConnectFailure(connection_.connect(account_.server, account_.port, kGreetingTimeoutMs), "POP");
  if (failure.code != 0) {
    log_.logLine(failure.line.c_str());
    return failure.code;
  }
  connected_ = true;
  log_.logLine("POPサーバに接続しました");

  int code = 0;
  if (account_.security == net::Security::kTls && (code = startTls()) != 0) return code;
  code = readGreeting();
  if (code) return code;
  if (account_.security == net::Security::kStartTls && (code = startStls()) != 0) return code;

  if (!account_.bearerToken.empty()) {
    setState(kCapaSent);
    capaAnswered_ = false;
    saslOffered_.clear();
    code = sendCommand("CAPA", kCapaSendFailed);
  } else {
    setState(kUserSent);
    std::string user = "USER " + account_.accountName;
    code = sendCommand(user.c_str(), kUserSendFailed);
  }
  if (code) return code;
  int error = 0;
  if (!host_.requestNotifications(connection_.socket(), &error)) {
    log_.logLine(format("ERROR [%ld] AsyncSelect失敗", error).c_str());
    return kSelectFailed;
  }
  connection_.touch();
  return 0;
}

int Pop3Session::readGreeting() {
  std::string line;
  return readStatusLine(&line);
}

int Pop3Session::readStatusLine(std::string* line) {
  switch (connection_.readLine(lineReader_, line, kGreetingTimeoutMs)) {
    case 1:
      return checkStatusLine(*line);
    case -2:  // the server has closed the connection
      lastData_.clear();
      log_.logLine("応答なし");
      return kNoResponse;
    default:
      lastData_.clear();
      log_.logLine(format("SOCKET_ERRORで失敗: %ld\n", connection_.error()).c_str());
      return kReadFailed;
  }
}

int Pop3Session::startStls() {
  int code = sendCommand("STLS", kStlsRefused);
  if (code) return code;
  std::string line;
  code = readStatusLine(&line);
  if (code == 0 && !isPositive(line)) code = kRefused;
  if (code) {
    // Nothing more goes out in plaintext, not even QUIT.
    connected_ = false;
    if (code != kRefused) return code;
    log_.logLine("サーバがSTLSに対応していません (STLS refused)");
    return kStlsRefused;
  }
  // Bytes the server sent after "+OK" and before the handshake are no
  // reply of the secured session.
  if (!lineReader_.pending().empty()) {
    log_.logLine(format("STLS応答の後の平文データ%ldバイトを破棄しました", static_cast<long>(lineReader_.pending().size())).c_str());
    lineReader_.clear();
  }
  return startTls();
}

int Pop3Session::startTls() {
  net::Endpoint endpoint;
  endpoint.server = account_.server;
  endpoint.port = account_.port;
  endpoint.verifyCertificate = account_.verifyCertificate;
  endpoint.trustFile = account_.trustFile;
  if (!endpoint.verifyCertificate) log_.logLine(net::kTlsNoVerifyWarning);
  if (!connection_.startTls(endpoint, kGreetingTimeoutMs)) {
    log_.logLine(net::tlsFailureLine(*connection_.failedTls()).c_str());
    connected_ = false;  // no QUIT in plaintext
    return kTlsFailed;
  }
  log_.logLine(net::tlsConnectedLine(*connection_.tls()).c_str());
  return 0;
}

int Pop3Session::receive(bool* nothing) {
  *nothing = false;
  std::memset(receiveBuffer_, 0, sizeof receiveBuffer_);
  receivedLength_ = connection_.receive(receiveBuffer_, static_cast<int>(kReceiveBufferSize));
  if (receivedLength_ < 0) {
    int error = connection_.error();
    receivedLength_ = 0;
    if (error == net::kErrWouldBlock) {
      *nothing = true;
      return 0;
    }
    log_.logLine(format("SOCKET_ERRORで失敗: %ld\n", error).c_str());
    return kReadFailed;
  }
  lastData_ = withoutLineEnd(std::string(receiveBuffer_, receivedLength_));
  if (receivedLength_ == 0) {  // the server has closed the connection
    log_.logLine("応答なし");
    return kNoResponse;
  }
  return 0;
}

int Pop3Session::checkStatusLine(const std::string& line) {
  lastData_ = withoutLineEnd(line);
  if (line.size() < 2) {
    log_.logLine("応答なし");
    return kNoResponse;
  }
  if (line.compare(0, 4, "-ERR") == 0 && (state_ == kAuthSent || state_ == kAuthResponseSent ||
                                          state_ == kAuthErrorSent)) {
    log_.logLine(lastData_.c_str());
    log_.logLine("OAuth認証に失敗しました (アクセストークンが無効か期限切れです)");
  }
  // "-ERR" to UIDL or TOP only says that the server offers none.
  if (line.compare(0, 4, "-ERR") == 0 && state_ != kUidlSent && state_ != kTopSent) {
    log_.logLine("サーバが応答を拒否しました");
    return kRefused;
  }
  log_.logLine(lastData_.c_str());
  return 0;
}

void Pop3Session::onSocketEvent(int event) {
  if (!connection_.isOpen()) return;
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
      while (connection_.isOpen() && connection_.socket().waitReadable(0) == 1) onReadable();
      if (connection_.isOpen()) {
        log_.logLine("サーバが接続を切断しました");
        abort();
      }
      break;
    default:
      break;
  }
}

void Pop3Session::onReadable() {
  // TLS may hold decrypted bytes beyond one buffer; no notification comes
  // for those, so they are taken here.
  do {
    bool nothing = false;
    int code = receive(&nothing);
    if (nothing) return;
    if (code == 0) code = process(receiveBuffer_, static_cast<size_t>(receivedLength_));
    if (code == kReadFailed || code == kNoResponse || code == kRefused) {
      log_.logLine("応答エラーでクローズ実行");
      abort();
      return;
    } else if (code) {
      log_.logPair("応答処理結果エラーでクローズ実行", std::to_string(code).c_str());
      abort();
      return;
    }
  } while (!closed_ && connection_.isOpen() && connection_.pending() > 0);
}

int Pop3Session::process(const char* data, size_t length) {
  size_t pos = 0;
  while (pos < length && !closed_) {
    if (state_ == kReceiving) {
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
    if (state_ == kListingData) {
      bool complete = false;
      size_t used = scanForEnd(data + pos, length - pos, &complete);
      size_t room = listingLimit_ - listingData_.size();
      if (used > room) listingCut_ = true;
      listingData_.append(data + pos, used > room ? room : used);
      pos += used;
      if (complete) {
        int code = finishListingData();
        if (code) return code;
      }
      continue;
    }
    std::string line;
    pos += takeLine(data + pos, length - pos, &line);
    if (line.empty()) break;
    if (state_ == kCapaSent) {
      int code = onCapaLine(line);
      if (code) return code;
      continue;
    }
    int code = checkStatusLine(line);
    if (code) return code;
    if (state_ == kAuthSent || state_ == kAuthResponseSent || state_ == kAuthErrorSent) {
      code = onAuthLine(line);
      if (code) return code;
      continue;
    }
    code = dispatch(line);
    if (code) return code;
  }
  return 0;
}

int Pop3Session::dispatch(const std::string& line) {
  switch (state_) {
    case kUserSent: {
      if (!isPositive(line)) return kNotPositive;
      setState(kPassSent);
      std::string pass = "PASS " + account_.password;
      return sendCommand(pass.c_str(), kPassSendFailed);
    }
    case kPassSent:
      if (!isPositive(line)) return kNotPositive;
      setState(kStatSent);
      return sendCommand("STAT", kStatSendFailed);
    case kStatSent:
      if (!isPositive(line)) return kNotPositive;
      messageCount_ = static_cast<int>(replyNumber(line));
      if (messageCount_ > 0) {
        log_.logLine(format("%ld通のメールがあります", messageCount_).c_str());
        listing_.resize(static_cast<size_t>(messageCount_));
        for (int n = 1; n <= messageCount_; ++n) listing_[n - 1].number = n;
        setState(kUidlSent);
        return sendCommand("UIDL", kUidlSendFailed);
      }
      log_.logLine("新着メールはありません");
      mailboxDone(true);
      close();
      end();
      return 0;
    case kRetrSent:
      return onRetrStatus(line);
    case kDeleSent:
      if (!isPositive(line)) return kNotPositive;
      return next(true);
    case kUidlSent:
      if (isPositive(line)) {
        uidlOffered_ = true;
        beginListingData();
        return 0;
      }
      if (line.compare(0, 4, "-ERR") != 0) return kNotPositive;
      setState(kListSent);
      return sendCommand("LIST", kListSendFailed);
    case kListSent:
      if (!isPositive(line)) return kNotPositive;
      beginListingData();
      return 0;
    case kTopSent:
      if (isPositive(line)) {
        beginListingData();
        return 0;
      }
      if (line.compare(0, 4, "-ERR") != 0) return kNotPositive;
      log_.logLine("サーバがTOPに対応していないため、メールをヘッダで見分けられません");
      for (ListedMessage& m : listing_) m.id.clear();
      headerIds_ = false;
      topRefused_ = true;
      if (topForUnreceivable_) {
        topForUnreceivable_ = false;
        host_.onUnreceivable(listing_[currentMessage_ - 1], messageBytes_);
        return next(false);
      }
      currentMessage_ = 1;
      return planCurrent();
    default:
      return 0;
  }
}

int Pop3Session::onRetrStatus(const std::string& line) {
  if (!isPositive(line)) return kNotPositive;
  size_t size = static_cast<size_t>(replyNumber(line));
  mailBuffer_.reset();
  mailCapacity_ = size == 0                       ? kNoSizeMailCapacity
                  : size > kMailCapacityLimit / 2 ? kMailCapacityLimit
                                                  : 2 * size;
  mailBuffer_.reset(new (std::nothrow) char[mailCapacity_]);
  if (!mailBuffer_) {
    mailCapacity_ = 0;
    return kBufferAllocFailed;
  }
  mailLength_ = 0;
  messageBytes_ = 0;
  mailTruncated_ = false;
  atLineStart_ = true;
  endMatched_ = 0;
  previousByte_ = '\n';
  setState(kReceiving);
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
  messageBytes_ += take;
  if (take > mailCapacity_ - mailLength_) {
    // Once per message: a mail far too large would flood the log.
    if (!mailTruncated_) log_.logLine("メモリバッファオーバー発生");
    take = mailCapacity_ - mailLength_;
    mailTruncated_ = true;
  }
  std::memcpy(mailBuffer_.get() + mailLength_, data, take);
  mailLength_ += take;
  return 0;
}

int Pop3Session::finishMessage() {
  ListedMessage& message = listing_[currentMessage_ - 1];
  if (mailTruncated_) {
    // Not handed on: it stays on the server and the host remembers it, so
    // that later checks do not download it again. Without UIDL it is known
    // by its header block.
    log_.logLine(format("メール%ldは大きすぎて受信できません(%lluバイト)。サーバに残します", currentMessage_,
                        messageBytes_)
                     .c_str());
    if (message.id.empty() && !uidlOffered_ && !topRefused_) {
      topForUnreceivable_ = true;
      return sendTop();
    }
    host_.onUnreceivable(message, messageBytes_);
    return next(false);
  }
  log_.logLine("ダウンロード完了");
  MessageAnswer answer = host_.onMessageComplete(message, mailBuffer_.get(), mailLength_);
  if (answer == MessageAnswer::kDelete) {
    setState(kDeleSent);
    return sendNumbered("DELE ", kDeleSendFailed);
  }
  return next(false);
}

void Pop3Session::beginListingData() {
  listingKind_ = state_;
  setState(kListingData);
  listingData_.clear();
  listingLimit_ = listingKind_ == kTopSent ? kMaxHeaderBlock : kMaxListing;
  listingCut_ = false;
  atLineStart_ = true;
  endMatched_ = 0;
  previousByte_ = '\n';
}

namespace {

// The lines of a multi-line reply without the final "." line, dot-stuffing
// undone, each without its line end.
template <typename Each>
void eachListingLine(const std::string& data, Each each) {
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find('\n', pos);
    if (end == std::string::npos) end = data.size();
    std::string_view line(data.data() + pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line == ".") break;
    if (!line.empty() && line.front() == '.') line.remove_prefix(1);
    each(line);
  }
}

// "n word": the message number and the word; false when the line is not so.
bool numberAndWord(std::string_view line, long* number, std::string_view* word) {
  size_t space = line.find(' ');
  if (space == 0 || space == std::string_view::npos || space > 9) return false;
  long n = 0;
  for (size_t i = 0; i < space; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
    n = n * 10 + (line[i] - '0');
  }
  std::string_view rest = line.substr(space + 1);
  *word = rest.substr(0, rest.find(' '));
  *number = n;
  return true;
}

// RFC 1939: 1 to 70 characters from 0x21 to 0x7E.
bool isUniqueId(std::string_view id) {
  if (id.empty() || id.size() > 70) return false;
  for (char c : id)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

}  // namespace

int Pop3Session::finishListingData() {
  setState(listingKind_);
  switch (listingKind_) {
    case kUidlSent:
      eachListingLine(listingData_, [&](std::string_view line) {
        long n;
        std::string_view id;
        if (numberAndWord(line, &n, &id) && n >= 1 && n <= messageCount_ && isUniqueId(id))
          listing_[static_cast<size_t>(n - 1)].id.assign(id);
      });
      setState(kListSent);
      return sendCommand("LIST", kListSendFailed);
    case kListSent:
      eachListingLine(listingData_, [&](std::string_view line) {
        long n;
        std::string_view size;
        if (numberAndWord(line, &n, &size) && n >= 1 && n <= messageCount_)
          listing_[static_cast<size_t>(n - 1)].size = std::strtoull(std::string(size).c_str(), nullptr, 10);
      });
      if (!uidlOffered_) {
        headerIds_ = host_.wantsHeaderIds();
        log_.logLine(headerIds_ ? "サーバがUIDLに対応していないため、メールをヘッダの指紋で見分けます"
                                : "サーバがUIDLに対応していないため、受信済みのメールを見分けられません");
        if (headerIds_) {
          currentMessage_ = 1;
          return sendTop();
        }
      }
      dropRepeatedIds();
      currentMessage_ = 1;
      return planCurrent();
    default: {  // kTopSent
      std::string header;
      header.swap(listingData_);
      if (header.size() >= 3 && !listingCut_) header.resize(header.size() - 3);  // the "." line
      return onHeaderBlock(header);
    }
  }
}

int Pop3Session::sendTop() {
  setState(kTopSent);
  return sendNumbered("TOP ", kTopSendFailed, " 0");
}

int Pop3Session::onHeaderBlock(const std::string& header) {
  ListedMessage& message = listing_[currentMessage_ - 1];
  message.id = host_.headerId(header.data(), header.size());
  if (topForUnreceivable_) {
    topForUnreceivable_ = false;
    host_.onUnreceivable(message, messageBytes_);
    return next(false);
  }
  if (currentMessage_ < messageCount_) {
    ++currentMessage_;
    return sendTop();
  }
  dropRepeatedIds();
  currentMessage_ = 1;
  return planCurrent();
}

void Pop3Session::dropRepeatedIds() {
  std::unordered_map<std::string, int> uses;
  uses.reserve(listing_.size());
  for (const ListedMessage& m : listing_)
    if (!m.id.empty()) ++uses[m.id];
  long repeated = 0;
  for (ListedMessage& m : listing_)
    if (!m.id.empty() && uses[m.id] > 1) {
      m.id.clear();
      ++repeated;
    }
  if (repeated)
    log_.logLine(format(uidlOffered_ ? "同じUIDLを持つメールが%ld通あります。これらは受信済みか見分けられません"
                                     : "同じヘッダのメールが%ld通あります。これらは受信済みか見分けられません",
                        repeated)
                     .c_str());
}

int Pop3Session::planCurrent() {
  for (;;) {
    switch (host_.planMessage(listing_[currentMessage_ - 1])) {
      case MessagePlan::kFetch:
        setState(kRetrSent);
        return sendNumbered("RETR ", kRetrSendFailed);
      case MessagePlan::kDeleteUnfetched:
        setState(kDeleSent);
        return sendNumbered("DELE ", kDeleSendFailed);
      case MessagePlan::kLeave:
        break;
    }
    if (currentMessage_ >= messageCount_) return next(false);
    ++currentMessage_;
  }
}

void Pop3Session::mailboxDone(bool withIds) { host_.onMailboxDone(listing_, withIds); }

int Pop3Session::next(bool afterDelete) {
  if (currentMessage_ >= messageCount_) {
    mailboxDone(uidlOffered_ || headerIds_);
    close();
    if (afterDelete && messageCount_ != host_.newMailCount())
      log_.logLine(format("新着メール%ldのダウンロード完了", messageCount_).c_str());
    end();
    return 0;
  }
  ++currentMessage_;
  return planCurrent();
}

int Pop3Session::sendNumbered(const char* command, int failureCode, const char* suffix) {
  std::string line = command + std::to_string(currentMessage_) + suffix;
  return sendCommand(line.c_str(), failureCode);
}

int Pop3Session::onCapaLine(const std::string& line) {
  lastData_ = withoutLineEnd(line);
  if (!capaAnswered_) {
    capaAnswered_ = true;
    log_.logLine(lastData_.c_str());
    // A server without CAPA is asked for the preferred mechanism all the same.
    return isPositive(line) ? 0 : startAuth();
  }
  if (lastData_ == ".") return startAuth();
  if (lastData_.compare(0, 5, "SASL ") == 0) {
    saslOffered_ = lastData_.substr(5);
    log_.logLine(lastData_.c_str());
  }
  return 0;
}

int Pop3Session::startAuth() {
  if (!oauth::chooseMechanism(saslOffered_, account_.mechanism, &mechanism_)) mechanism_ = account_.mechanism;
  setState(kAuthSent);
  // Tokens are too long for an initial response within 255 octets: the
  // token follows the server's "+".
  std::string auth = std::string("AUTH ") + oauth::mechanismName(mechanism_);
  return sendCommand(auth.c_str(), kAuthSendFailed);
}

int Pop3Session::onAuthLine(const std::string& line) {
  const bool challenge = !line.empty() && line[0] == '+' && !isPositive(line);
  switch (state_) {
    case kAuthSent: {
      if (!challenge) return kNotPositive;
      setState(kAuthResponseSent);
      std::string response =
          oauth::saslInitialResponse(mechanism_, account_.accountName, account_.bearerToken, account_.server,
                                     account_.port);
      return sendCommand(response.c_str(), kAuthSendFailed, "********");
    }
    case kAuthResponseSent:
      if (isPositive(line)) {
        setState(kStatSent);
        return sendCommand("STAT", kStatSendFailed);
      }
      if (!challenge) return kNotPositive;
      {
        std::string status = oauth::challengeStatus(challengeText(line));
        log_.logLine(("OAuth認証エラー (status " + (status.empty() ? std::string("?") : status) + ")").c_str());
      }
      setState(kAuthErrorSent);
      return sendCommand(oauth::saslErrorResponse(mechanism_).c_str(), kAuthSendFailed);
    default:  // kAuthErrorSent: only -ERR may follow (handled before)
      return kNotPositive;
  }
}

int Pop3Session::sendCommand(const char* command, int failureCode, const char* logged) {
  if (logged)
    log_.logPair(">", logged);
  else if (std::strncmp(command, "PASS ", 5) == 0)
    log_.logLine("> PASS ********");
  else
    log_.logPair(">", command);
  std::string line = command;
  line += "\r\n";
  if (!connection_.send(line)) {
    closeQuietly();
    log_.logLine("受信障害がありました");
    return failureCode;
  }
  return 0;
}

void Pop3Session::onIdleCheck(uint64_t nowMs) {
  if (!connection_.isOpen() || closed_ || state_ == kAwaitGreeting) return;
  if (!connection_.silentFor(nowMs, silenceLimitMs_)) return;
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
  if (connection_.isOpen()) host_.cancelNotifications(connection_.socket(), &error);
  connection_.drop();
  connected_ = false;
  closed_ = true;
}

void Pop3Session::close() {
  if (closed_) return;
  closed_ = true;
  int error = 0;
  if (connection_.isOpen()) {
    if (connected_) {
      log_.logPair(">", "QUIT");
      connection_.send("QUIT\r\n");
    }
    if (!host_.cancelNotifications(connection_.socket(), &error))
      log_.logLine(format("ERROR [%ld] ソケット非ブロッキング失敗", error).c_str());
  }
  connected_ = false;
  if (!connection_.close()) {
    log_.logLine(format("ERROR [%ld] Cleanup 失敗", connection_.error()).c_str());
    return;
  }
  log_.logLine(kClosingLine);
}

void Pop3Session::end() {
  if (ended_) return;
  ended_ = true;
  host_.onSessionEnded();
}

}  // namespace pop3
