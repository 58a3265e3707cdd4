#include "imap/ImapSession.h"

#include <algorithm>
#include <cstdio>

#include "platform/Base64.h"

namespace imap {
namespace {

constexpr char kClosingLine[] = "IMAPサーバ通信を切断しました\r---------------------------";
// Log lines are cut to this length (capability lists, long searches).
constexpr size_t kLogLineLimit = 300;
constexpr int kLoggedUntagged = 50;

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return text;
}

// The first word of a text and the rest after its space.
std::string firstWord(const std::string& text, std::string* rest = nullptr) {
  size_t space = text.find(' ');
  std::string word = upper(text.substr(0, space));
  if (rest) *rest = space == std::string::npos ? std::string() : text.substr(space + 1);
  return word;
}

std::string cut(const std::string& text) {
  return text.size() > kLogLineLimit ? text.substr(0, kLogLineLimit) + "..." : text;
}

std::string number(uint64_t value) { return std::to_string(value); }

}  // namespace

const char* stateName(ImapState state) {
  switch (state) {
    case ImapState::kGreeting: return "Greeting";
    case ImapState::kCapability: return "Capability";
    case ImapState::kStartTls: return "StartTls";
    case ImapState::kAuthenticate: return "Authenticate";
    case ImapState::kLogin: return "Login";
    case ImapState::kSelect: return "Select";
    case ImapState::kSearch: return "Search";
    case ImapState::kFetch: return "Fetch";
    case ImapState::kStore: return "Store";
    case ImapState::kExpunge: return "Expunge";
    case ImapState::kIdleRequested: return "IdleRequested";
    case ImapState::kIdling: return "Idling";
    case ImapState::kIdleDone: return "IdleDone";
    case ImapState::kPollWait: return "PollWait";
    case ImapState::kNoop: return "Noop";
    case ImapState::kLogout: return "Logout";
    case ImapState::kEnded: return "Ended";
  }
  return "";
}

bool quoted(const std::string& text, std::string* out) {
  out->assign(1, '"');
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == '\0') return false;
    if (c == '"' || c == '\\') *out += '\\';
    *out += c;
  }
  *out += '"';
  return true;
}

ImapSession::ImapSession(ImapHost& host, ImapWire& wire, const commlog::CommLog& log)
    : host_(host), wire_(wire), log_(log) {}

ImapSession::~ImapSession() = default;

void ImapSession::setState(ImapState state) {
  state_ = state;
}

void ImapSession::begin(const ImapAccount& account, uint64_t nowMs) {
  account_ = account;
  nowMs_ = nowMs;
  reader_.reset();
  failure_ = ImapFailure::kNone;
  tag_.clear();
  untagged_ = 0;
  capabilities_.clear();
  tlsDone_ = account.endpoint.security == net::Security::kTls;
  authenticated_ = false;
  selected_ = false;
  uidValidity_ = 0;
  exists_ = 0;
  recent_ = 0;
  capabilitiesInReply_ = false;
  newMail_ = false;
  stopping_ = false;
  lastUid_ = 0;
  queue_.clear();
  queuePos_ = 0;
  expungeAtEnd_ = false;
  if (!mechanism_ || mechanism_->name() == "PLAIN") mechanism_ = makeSaslPlain(account.user, account.password);
  setState(ImapState::kGreeting);
}

bool ImapSession::awaitingReply() const {
  return state_ != ImapState::kIdling && state_ != ImapState::kPollWait && state_ != ImapState::kEnded;
}

bool ImapSession::hasCapability(const std::string& name) const {
  return std::find(capabilities_.begin(), capabilities_.end(), upper(name)) != capabilities_.end();
}

void ImapSession::feed(const char* data, size_t length) {
  size_t pos = 0;
  while (pos < length && state_ != ImapState::kEnded) {
    pos += reader_.feed(data + pos, length - pos);
    if (reader_.error() != ReadError::kNone) {
      fail(ImapFailure::kMalformed, readErrorText(reader_.error()));
      return;
    }
    if (reader_.hasResponse()) {
      Response response = reader_.take();
      onResponse(response);
    }
    if (plaintextEnds_) {
      // Bytes that came with the STARTTLS reply are no reply of the
      // secured session.
      plaintextEnds_ = false;
      if (pos < length)
        log_.logLine(("STARTTLS応答の後の平文データ" + number(length - pos) + "バイトを破棄しました").c_str());
      return;
    }
  }
}

void ImapSession::onResponse(Response& response) {
  switch (response.kind) {
    case Response::Kind::kUntagged:
      // A command's first untagged responses are logged; a flood is not.
      if (untagged_ < kLoggedUntagged) log_.logLine(cut("* " + response.text).c_str());
      if (++untagged_ > kMaxUntaggedPerCommand) {
        fail(ImapFailure::kTooManyUntagged, "応答が多すぎます (too many untagged responses)");
        return;
      }
      onUntagged(response);
      break;
    case Response::Kind::kTagged:
      log_.logLine(cut(response.tag + " " + response.text).c_str());
      onTagged(response);
      break;
    case Response::Kind::kContinuation:
      log_.logLine(cut("+ " + response.text).c_str());
      onContinuation(response);
      break;
  }
}

void ImapSession::onUntagged(Response& response) {
  std::string rest;
  std::string word = firstWord(response.text, &rest);
  if (state_ == ImapState::kGreeting) {
    if (word == "OK" || word == "PREAUTH") {
      authenticated_ = word == "PREAUTH";
      if (authenticated_ && account_.endpoint.security == net::Security::kStartTls) {
        fail(ImapFailure::kStartTlsRefused, "サーバがSTARTTLSに対応していません (PREAUTH)");
        return;
      }
      command("CAPABILITY", ImapState::kCapability);
    } else if (word == "BYE") {
      fail(ImapFailure::kGreeting, "サーバが接続を拒否しました");
    } else {
      fail(ImapFailure::kGreeting, "挨拶の前に不正なデータを受信しました (data before the greeting)");
    }
    return;
  }
  if (word == "BYE") {
    if (state_ != ImapState::kLogout) fail(ImapFailure::kBye, "サーバが切断を通知しました (BYE)");
    return;
  }
  if (word == "CAPABILITY") {
    capabilities_.clear();
    Tokens tokens(rest);
    while (tokens.next() == Tokens::Type::kAtom) capabilities_.push_back(upper(tokens.value()));
    // Announced with the login: no need to ask again.
    if (state_ == ImapState::kAuthenticate || state_ == ImapState::kLogin) capabilitiesInReply_ = true;
    return;
  }
  if (word == "OK" || word == "NO" || word == "BAD") {
    std::string name, argument;
    if (responseCode(rest, &name, &argument) && name == "UIDVALIDITY" && state_ == ImapState::kSelect &&
        !parseNumber(argument, &uidValidity_))
      fail(ImapFailure::kMalformed, "UIDVALIDITYが不正です");
    return;
  }
  if (word == "SEARCH") {
    if (state_ != ImapState::kSearch) return;
    Tokens tokens(rest);
    for (Tokens::Type t; (t = tokens.next()) != Tokens::Type::kEnd;) {
      uint32_t uid = 0;
      if (t == Tokens::Type::kOpen && tokens.skipList()) continue;  // (MODSEQ n)
      if (t != Tokens::Type::kAtom || !parseNumber(tokens.value(), &uid)) {
        fail(ImapFailure::kMalformed, "SEARCH応答が不正です");
        return;
      }
      found_.push_back(uid);
    }
    return;
  }
  uint32_t n = 0;
  if (!parseNumber(word, &n)) return;  // FLAGS, LIST, … carry nothing for us
  std::string kind = firstWord(rest, &rest);
  if (kind == "EXISTS") {
    if (selected_ && n > exists_) newMail_ = true;
    exists_ = n;
    if (newMail_ && !held_) endIdle("新着メールの通知がありました");
  } else if (kind == "RECENT") {
    // Only a rise means new mail (an expunge lowers it).
    if (selected_ && n > recent_) {
      newMail_ = true;
      if (!held_) endIdle("新着メールの通知がありました");
    }
    recent_ = n;
  } else if (kind == "EXPUNGE") {
    if (exists_ > 0) --exists_;
  } else if (kind == "FETCH") {
    onFetch(response, n);
  }
}

void ImapSession::onFetch(Response& response, uint32_t sequence) {
  (void)sequence;
  if (state_ != ImapState::kFetch) return;  // flag changes from elsewhere
  // "FETCH (UID 7 RFC822.SIZE 1234 BODY[] {1234})"
  size_t open = response.text.find('(');
  if (open == std::string::npos) {
    fail(ImapFailure::kMalformed, "FETCH応答が不正です");
    return;
  }
  Tokens tokens(response.text);
  // Step to the item list; tokens before it hold no literal.
  while (tokens.position() <= open) tokens.next();
  uint32_t uid = 0;
  uint64_t size = 0;
  bool haveBody = false;
  size_t bodyLiteral = 0;
  std::string bodyText;
  for (;;) {
    Tokens::Type t = tokens.next();
    if (t == Tokens::Type::kClose) break;
    if (t != Tokens::Type::kAtom) {
      fail(ImapFailure::kMalformed, "FETCH応答が不正です");
      return;
    }
    std::string item = upper(tokens.value());
    Tokens::Type v = tokens.next();
    if (v == Tokens::Type::kOpen) {
      if (!tokens.skipList()) v = Tokens::Type::kBad;
    } else if (item == "UID") {
      if (v != Tokens::Type::kAtom || !parseNumber(tokens.value(), &uid)) v = Tokens::Type::kBad;
    } else if (item == "RFC822.SIZE") {
      uint32_t s = 0;
      if (v != Tokens::Type::kAtom || !parseNumber(tokens.value(), &s)) v = Tokens::Type::kBad;
      size = s;
    } else if (item == "BODY[]") {
      if (v == Tokens::Type::kLiteral) {
        haveBody = true;
        bodyLiteral = tokens.literalIndex();
      } else if (v == Tokens::Type::kString) {
        haveBody = true;
        bodyText = tokens.value();
      } else if (v != Tokens::Type::kAtom) {  // NIL
        v = Tokens::Type::kBad;
      }
    }
    if (v == Tokens::Type::kBad || v == Tokens::Type::kEnd || v == Tokens::Type::kClose) {
      fail(ImapFailure::kMalformed, "FETCH応答が不正です");
      return;
    }
  }
  if (tokens.next() != Tokens::Type::kEnd) {
    fail(ImapFailure::kMalformed, "FETCH応答の後に余分なデータがあります");
    return;
  }
  if (!haveBody || uid != current_.uid) return;
  gotBody_ = true;
  current_.size = size;
  if (bodyLiteral < response.literals.size() && bodyText.empty())
    body_ = std::move(response.literals[bodyLiteral]);
  else
    body_ = std::move(bodyText);
}

void ImapSession::onContinuation(const Response& response) {
  if (state_ == ImapState::kIdleRequested) {
    setState(ImapState::kIdling);
    waitStartedMs_ = nowMs_;
    if (stopping_) return endIdle("受信待ちを終了します");
    host_.onWaiting();
    return;
  }
  if (state_ == ImapState::kAuthenticate) {
    std::string challenge, answer;
    bool ok = platform::base64Decode(response.text, &challenge) && mechanism_->respond(challenge, &answer);
    std::string line = ok ? platform::base64Encode(answer) : std::string("*");
    log_.logLine(ok ? "> ********" : "> *");
    if (!wire_.send(line + "\r\n")) fail(ImapFailure::kSendFailed, "送信に失敗しました");
    return;
  }
  fail(ImapFailure::kUnexpected, "予期しない継続要求を受信しました");
}

void ImapSession::onTagged(const Response& response) {
  if (tag_.empty() || response.tag != tag_) {
    fail(ImapFailure::kUnexpected, "別のタグの応答を受信しました (unexpected tag " + cut(response.tag) + ")");
    return;
  }
  tag_.clear();
  std::string rest;
  std::string status = firstWord(response.text, &rest);
  bool ok = status == "OK";
  std::string code, argument;
  responseCode(rest, &code, &argument);
  if (code == "CAPABILITY") {
    capabilities_.clear();
    Tokens tokens(argument);
    while (tokens.next() == Tokens::Type::kAtom) capabilities_.push_back(upper(tokens.value()));
    capabilitiesInReply_ = state_ == ImapState::kAuthenticate || state_ == ImapState::kLogin;
  }
  switch (state_) {
    case ImapState::kCapability:
      if (!ok) return fail(ImapFailure::kCommandFailed, "CAPABILITYが拒否されました");
      return afterCapability();
    case ImapState::kStartTls:
      if (!ok) return fail(ImapFailure::kStartTlsRefused, "サーバがSTARTTLSを拒否しました (STARTTLS refused)");
      if (!wire_.startTls()) return fail(ImapFailure::kTls, "TLS接続に失敗しました");
      tlsDone_ = true;
      plaintextEnds_ = true;
      capabilities_.clear();  // the plaintext ones are not to be trusted
      command("CAPABILITY", ImapState::kCapability);
      return;
    case ImapState::kAuthenticate:
    case ImapState::kLogin:
      if (!ok && state_ == ImapState::kAuthenticate && mechanism_->name() != "PLAIN")
        return fail(ImapFailure::kLoginRefused, "OAuth認証に失敗しました (アクセストークンが無効か期限切れです)");
      if (!ok) return fail(ImapFailure::kLoginRefused, "ログインが拒否されました");
      authenticated_ = true;
      if (capabilitiesInReply_) return select();
      command("CAPABILITY", ImapState::kCapability);
      return;
    case ImapState::kSelect:
      if (!ok || uidValidity_ == 0) return fail(ImapFailure::kCommandFailed, "フォルダを選択できません");
      selected_ = true;
      return search();
    case ImapState::kSearch: {
      if (!ok) return fail(ImapFailure::kCommandFailed, "SEARCHが拒否されました");
      queue_.clear();
      queuePos_ = 0;
      std::sort(found_.begin(), found_.end());
      found_.erase(std::unique(found_.begin(), found_.end()), found_.end());
      for (uint32_t uid : found_) {
        if (uid <= lastUid_) continue;  // "n:*" also gives the highest UID below n
        MailRef mail{uidValidity_, uid, 0};
        MessagePlan plan = host_.planMessage(mail);
        if (plan == MessagePlan::kLeave)
          lastUid_ = uid;
        else
          queue_.push_back({uid, plan == MessagePlan::kDeleteUnfetched});
      }
      found_.clear();
      if (!queue_.empty()) log_.logLine((number(queue_.size()) + "通の新着メールがあります").c_str());
      return fetchNext();
    }
    case ImapState::kFetch: {
      if (!ok) return fail(ImapFailure::kCommandFailed, "FETCHが拒否されました");
      lastUid_ = std::max(lastUid_, current_.uid);
      if (!gotBody_) {  // expunged meanwhile by another client
        log_.logLine(("メール UID " + number(current_.uid) + " はサーバにありません").c_str());
        return fetchNext();
      }
      log_.logLine("ダウンロード完了");
      std::string body = std::move(body_);
      body_.clear();
      if (host_.onMessage(current_, body.data(), body.size()) == MessageAnswer::kKeep) return fetchNext();
      command("UID STORE " + number(current_.uid) + " +FLAGS.SILENT (\\Deleted)", ImapState::kStore);
      return;
    }
    case ImapState::kStore:
      if (!ok) return fail(ImapFailure::kCommandFailed, "削除の指定が拒否されました");
      if (hasCapability("UIDPLUS")) {
        batchExpunge_ = false;
        command("UID EXPUNGE " + number(current_.uid), ImapState::kExpunge);
        return;
      }
      expungeAtEnd_ = true;
      return fetchNext();
    case ImapState::kExpunge:
      if (!ok) return fail(ImapFailure::kCommandFailed, "EXPUNGEが拒否されました");
      if (batchExpunge_) return batchEnded();
      return fetchNext();
    case ImapState::kIdleRequested:
      // No "+": the server refused IDLE; poll instead.
      capabilities_.erase(std::remove(capabilities_.begin(), capabilities_.end(), "IDLE"), capabilities_.end());
      return waitForMail();
    case ImapState::kIdling:   // the server ended IDLE by itself
    case ImapState::kIdleDone:
    case ImapState::kNoop:
      if (!ok) return fail(ImapFailure::kCommandFailed, "IDLE/NOOPが拒否されました");
      return afterWait();
    case ImapState::kLogout:
      return finish();
    default:
      fail(ImapFailure::kUnexpected, "予期しない応答を受信しました");
  }
}

bool ImapSession::command(const std::string& text, ImapState next, const char* logText) {
  char tag[16];
  std::snprintf(tag, sizeof tag, "A%04u", ++tagNumber_ % 10000);
  tag_ = tag;
  untagged_ = 0;
  setState(next);
  std::string line = tag_ + " " + text;
  log_.logPair(">", logText ? (tag_ + " " + logText).c_str() : line.c_str());
  if (!wire_.send(line + "\r\n")) {
    fail(ImapFailure::kSendFailed, "送信に失敗しました");
    return false;
  }
  return true;
}

void ImapSession::afterCapability() {
  if (!authenticated_) {
    if (account_.endpoint.security == net::Security::kStartTls && !tlsDone_) {
      if (!hasCapability("STARTTLS"))
        return fail(ImapFailure::kStartTlsRefused, "サーバがSTARTTLSに対応していません (STARTTLS refused)");
      command("STARTTLS", ImapState::kStartTls);
      return;
    }
    return login();
  }
  select();
}

void ImapSession::login() {
  mechanism_->choose([this](const std::string& capability) { return hasCapability(capability); });
  const std::string mechanism = mechanism_->name();
  if (hasCapability("AUTH=" + mechanism)) {
    std::string initial;
    if (hasCapability("SASL-IR") && mechanism_->initialResponse(&initial)) {
      std::string text = "AUTHENTICATE " + mechanism + " " + (initial.empty() ? "=" : platform::base64Encode(initial));
      command(text, ImapState::kAuthenticate, ("AUTHENTICATE " + mechanism + " ********").c_str());
    } else {
      command("AUTHENTICATE " + mechanism, ImapState::kAuthenticate);
    }
    return;
  }
  std::string user, password;
  if (mechanism != "PLAIN" || hasCapability("LOGINDISABLED") || !quoted(account_.user, &user) ||
      !quoted(account_.password, &password))
    return fail(ImapFailure::kNoLogin, "使えるログイン方法がありません");
  command("LOGIN " + user + " " + password, ImapState::kLogin, ("LOGIN " + user + " ********").c_str());
}

void ImapSession::select() {
  std::string folder = account_.folder.empty() ? std::string("INBOX") : mailboxNameUtf7(account_.folder);
  std::string name;
  quoted(folder, &name);
  uidValidity_ = 0;
  command("SELECT " + name, ImapState::kSelect);
}

void ImapSession::search() {
  if (stopping_) return logout();
  newMail_ = false;
  found_.clear();
  if (lastUid_ == 0)
    command("UID SEARCH UNDELETED", ImapState::kSearch);
  else
    command("UID SEARCH UID " + number(uint64_t{lastUid_} + 1) + ":* UNDELETED", ImapState::kSearch);
}

void ImapSession::fetchNext() {
  if (stopping_) return logout();
  if (queuePos_ < queue_.size()) {
    const Planned& next = queue_[queuePos_++];
    current_ = MailRef{uidValidity_, next.uid, 0};
    gotBody_ = false;
    body_.clear();
    if (next.deleteOnly) {
      lastUid_ = std::max(lastUid_, current_.uid);
      log_.logLine(("メール UID " + number(current_.uid) + " は受信済みです。受信せずにサーバから削除します").c_str());
      command("UID STORE " + number(current_.uid) + " +FLAGS.SILENT (\\Deleted)", ImapState::kStore);
      return;
    }
    command("UID FETCH " + number(current_.uid) + " (UID RFC822.SIZE BODY.PEEK[])", ImapState::kFetch);
    return;
  }
  if (expungeAtEnd_) {
    expungeAtEnd_ = false;
    batchExpunge_ = true;
    command("EXPUNGE", ImapState::kExpunge);
    return;
  }
  batchEnded();
}

void ImapSession::batchEnded() {
  queue_.clear();
  queuePos_ = 0;
  host_.onBatchEnded();
  if (state_ == ImapState::kEnded) return;
  if (newMail_ && !held_ && !stopping_) return search();
  if (!account_.stayConnected || stopping_) return logout();
  waitForMail();
}

void ImapSession::waitForMail() {
  if (hasCapability("IDLE")) {
    command("IDLE", ImapState::kIdleRequested);
    return;
  }
  setState(ImapState::kPollWait);
  waitStartedMs_ = nowMs_;
  host_.onWaiting();
}

void ImapSession::afterWait() {
  if (stopping_) return logout();
  if (newMail_ && !held_) return search();
  waitForMail();
}

void ImapSession::endIdle(const char* logText) {
  if (state_ != ImapState::kIdling) return;
  log_.logLine(logText);
  log_.logPair(">", "DONE");
  setState(ImapState::kIdleDone);
  if (!wire_.send("DONE\r\n")) fail(ImapFailure::kSendFailed, "送信に失敗しました");
}

void ImapSession::setHeld(bool held) {
  held_ = held;
  if (!held_ && newMail_) checkNow();
}

void ImapSession::checkNow() {
  if (state_ == ImapState::kEnded) return;
  newMail_ = true;
  if (state_ == ImapState::kIdling)
    endIdle("新着メールを確認します");
  else if (state_ == ImapState::kPollWait)
    search();
}

void ImapSession::tick(uint64_t nowMs) {
  nowMs_ = nowMs;
  if (state_ == ImapState::kIdling && nowMs - waitStartedMs_ >= idleReissueMs_) {
    endIdle("IDLEを更新します");
  } else if (state_ == ImapState::kPollWait && nowMs - waitStartedMs_ >= pollMs_) {
    command("NOOP", ImapState::kNoop);
  }
}

uint64_t ImapSession::waitDueMs() const {
  if (state_ == ImapState::kIdling) return waitStartedMs_ + idleReissueMs_;
  if (state_ == ImapState::kPollWait) return waitStartedMs_ + pollMs_;
  return 0;
}

void ImapSession::stop() {
  if (state_ == ImapState::kEnded) return;
  stopping_ = true;
  switch (state_) {
    case ImapState::kIdling:
      return endIdle("受信待ちを終了します");
    case ImapState::kPollWait:
      return logout();
    case ImapState::kSearch:
    case ImapState::kFetch:
    case ImapState::kStore:
    case ImapState::kExpunge:
    case ImapState::kIdleRequested:
    case ImapState::kIdleDone:
    case ImapState::kNoop:
    case ImapState::kLogout:
      return;  // the reply ends it: LOGOUT follows
    default:
      finish();  // not logged in yet: the connection is cut
  }
}

void ImapSession::onClosed() {
  if (state_ == ImapState::kEnded) return;
  if (state_ == ImapState::kLogout) return finish();
  std::string text = "サーバが接続を切断しました";
  if (reader_.literalRemaining() > 0) text += " (リテラルの途中: あと" + number(reader_.literalRemaining()) + "バイト)";
  fail(ImapFailure::kClosed, text);
}

void ImapSession::onSilence(int limitMs) {
  if (!awaitingReply()) return;
  fail(ImapFailure::kSilence, "サーバから" + number((static_cast<uint64_t>(limitMs) + 999) / 1000) +
                                  "秒間応答がありません");
}

void ImapSession::logout() {
  stopping_ = true;
  command("LOGOUT", ImapState::kLogout);
}

void ImapSession::fail(ImapFailure failure, const std::string& text) {
  if (state_ == ImapState::kEnded) return;
  failure_ = failure;
  log_.logLine(text.c_str());
  host_.onSessionFailed(failure);
  finish();
}

void ImapSession::finish() {
  if (state_ == ImapState::kEnded) return;
  setState(ImapState::kEnded);
  tag_.clear();
  wire_.close();
  log_.logLine(kClosingLine);
  host_.onSessionEnded();
}

}  // namespace imap
