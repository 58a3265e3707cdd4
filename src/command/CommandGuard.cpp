#include "command/CommandGuard.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/File.h"
#include "platform/Text.h"
#include "sendlib/Md5.h"

namespace command {

const char kGuardFileName[] = "QuorvelGuard.dat";

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

bool sameText(std::string_view a, std::string_view b) { return lowered(a) == lowered(b); }

// The text without comments in parentheses (quoted strings kept).
std::string withoutComments(std::string_view s) {
  std::string out;
  int depth = 0;
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (quoted) {
      out += c;
      if (c == '\\' && i + 1 < s.size()) out += s[++i];
      else if (c == '"') quoted = false;
    } else if (depth > 0) {
      if (c == '\\') ++i;
      else if (c == '(') ++depth;
      else if (c == ')') --depth;
    } else if (c == '(') {
      depth = 1;
      out += ' ';
    } else {
      if (c == '"') quoted = true;
      out += c;
    }
  }
  return out;
}

// Pieces of `s` between separators outside quotes.
std::vector<std::string> split(std::string_view s, std::string_view separators) {
  std::vector<std::string> parts(1);
  bool quoted = false;
  for (char c : s) {
    if (c == '"') quoted = !quoted;
    if (!quoted && separators.find(c) != std::string_view::npos) {
      parts.emplace_back();
      continue;
    }
    parts.back() += c;
  }
  return parts;
}

std::vector<std::string> words(std::string_view s) {
  std::vector<std::string> out;
  for (const std::string& w : split(s, " \t\r\n"))
    if (!w.empty()) out.push_back(w);
  return out;
}

template <size_t N>
std::string_view settingText(const char (&field)[N]) {
  return std::string_view(field, platform::fieldLength(field, N));
}

const char* refusalText(Refusal r) {
  switch (r) {
    case Refusal::none: return "";
    case Refusal::autoSubmitted: return "自動送信メールです(ループ防止)";
    case Refusal::sender: return "許可されていない送信者です";
    case Refusal::authentication: return "受信サーバの認証結果が合格ではありません";
    case Refusal::secret: return "合言葉の行がありません";
    case Refusal::badDate: return "日付(Date)が読めません";
    case Refusal::tooOld: return "日付(Date)が古すぎます";
    case Refusal::future: return "日付(Date)が未来です";
    case Refusal::replay: return "実行済みのメールです(再実行防止)";
    case Refusal::replyLimit: return "送信者への返信数が1時間の上限に達しました";
    case Refusal::guardFile: return "実行記録ファイルに書き込めません";
  }
  return "";
}

// local@domain with the domain lower-cased; empty when not an address.
std::string normalAddress(std::string_view address) {
  size_t at = address.rfind('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == address.size()) return std::string();
  return std::string(address.substr(0, at + 1)) + lowered(address.substr(at + 1));
}

}  // namespace

std::string refusalLogLine(Refusal refusal) { return std::string("コマンド拒否: ") + refusalText(refusal); }

std::vector<std::string> headerValues(std::string_view header, std::string_view name) {
  std::vector<std::string> values;
  bool inField = false;
  size_t pos = 0;
  while (pos < header.size()) {
    size_t end = header.find('\n', pos);
    if (end == std::string_view::npos) end = header.size();
    std::string_view line = header.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;  // the end of the header
    if (line.front() == ' ' || line.front() == '\t') {
      if (inField) values.back() += std::string(line);
      continue;
    }
    size_t colon = line.find(':');
    inField = colon != std::string_view::npos && sameText(platform::trimBlanks(line.substr(0, colon)), name);
    if (inField) values.emplace_back(line.substr(colon + 1));
  }
  for (std::string& v : values) v = std::string(platform::trimBlanks(v));
  return values;
}

std::string bareAddress(std::string_view from) {
  std::string text = withoutComments(from);
  bool quoted = false;
  int angles = 0;
  size_t open = std::string::npos, close = std::string::npos;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && quoted) {
      ++i;
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == ',' && open == std::string::npos) return std::string();
    if (c == ',' && close != std::string::npos) return std::string();
    if (c == '<') {
      if (++angles > 1) return std::string();
      open = i;
    } else if (c == '>' && open != std::string::npos && close == std::string::npos) {
      close = i;
    }
  }
  if (quoted) return std::string();
  std::string_view address;
  if (open != std::string::npos) {
    if (close == std::string::npos) return std::string();
    address = platform::trimBlanks(std::string_view(text).substr(open + 1, close - open - 1));
  } else {
    address = platform::trimBlanks(text);
  }
  for (char c : address)
    if (platform::isBlank(c) || c == '<' || c == '>') return std::string();
  return normalAddress(address).empty() ? std::string() : std::string(address);
}

bool sameAddress(std::string_view a, std::string_view b) {
  std::string na = normalAddress(a), nb = normalAddress(b);
  return !na.empty() && na == nb;
}

std::string addressDomain(std::string_view address) {
  size_t at = address.rfind('@');
  return at == std::string_view::npos ? std::string() : lowered(address.substr(at + 1));
}

bool senderAllowed(std::string_view allowed, std::string_view fromValue) {
  std::string address = bareAddress(fromValue);
  if (address.empty()) return false;
  for (const std::string& entry : split(allowed, " \t\r\n,;"))
    if (!entry.empty() && sameAddress(entry, address)) return true;
  return false;
}

bool hasSecretLine(std::string_view body, std::string_view secret) {
  secret = platform::trimBlanks(secret);
  if (secret.empty()) return false;
  size_t pos = 0;
  while (pos <= body.size()) {
    size_t end = body.find('\n', pos);
    if (end == std::string_view::npos) end = body.size();
    if (platform::trimBlanks(body.substr(pos, end - pos)) == secret) return true;
    pos = end + 1;
  }
  return false;
}

std::string maskSecret(std::string_view body, std::string_view secret) {
  secret = platform::trimBlanks(secret);
  if (secret.empty()) return std::string(body);
  std::string out;
  size_t pos = 0;
  while (pos < body.size()) {
    size_t end = body.find('\n', pos);
    size_t next = end == std::string_view::npos ? body.size() : end + 1;
    std::string_view line = body.substr(pos, next - pos);
    if (line.find(secret) != std::string_view::npos) {
      out += kSecretMark;
      size_t ending = line.size();
      while (ending > 0 && (line[ending - 1] == '\r' || line[ending - 1] == '\n')) --ending;
      out += line.substr(ending);
    } else {
      out += line;
    }
    pos = next;
  }
  return out;
}

bool authenticationPasses(std::string_view header, std::string_view host, std::string_view fromDomain) {
  host = platform::trimBlanks(host);
  std::string domain = lowered(platform::trimBlanks(fromDomain));
  if (host.empty() || domain.empty()) return false;
  std::vector<std::string> fields = headerValues(header, "Authentication-Results");
  if (fields.empty()) return false;
  std::vector<std::string> parts = split(withoutComments(fields.front()), ";");
  std::vector<std::string> id = words(parts.front());
  if (id.empty() || !sameText(id.front(), host)) return false;
  for (size_t i = 1; i < parts.size(); ++i) {
    std::vector<std::string> tokens = words(parts[i]);
    if (tokens.empty()) continue;
    size_t eq = tokens.front().find('=');
    if (eq == std::string::npos) continue;
    std::string method = lowered(tokens.front().substr(0, eq));
    method = method.substr(0, method.find('/'));
    if (lowered(tokens.front().substr(eq + 1)) != "pass") continue;
    std::string mailFrom, signer, identity, headerFrom;
    for (size_t t = 1; t < tokens.size(); ++t) {
      size_t e = tokens[t].find('=');
      if (e == std::string::npos) continue;
      std::string property = lowered(tokens[t].substr(0, e));
      std::string value = tokens[t].substr(e + 1);
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      if (property == "smtp.mailfrom") mailFrom = value;
      else if (property == "header.d") signer = value;
      else if (property == "header.i") identity = value;
      else if (property == "header.from") headerFrom = value;
    }
    auto domainOf = [](const std::string& v) {
      size_t at = v.rfind('@');
      return lowered(at == std::string::npos ? v : v.substr(at + 1));
    };
    if (method == "dmarc" && (headerFrom.empty() || domainOf(headerFrom) == domain)) return true;
    if (method == "spf" && !mailFrom.empty() && domainOf(mailFrom) == domain) return true;
    if (method == "dkim" && ((!signer.empty() && lowered(signer) == domain) ||
                             (signer.empty() && !identity.empty() && domainOf(identity) == domain)))
      return true;
  }
  return false;
}

bool parseMailDate(std::string_view date, int64_t* seconds) {
  std::string text = withoutComments(date);
  for (char& c : text)
    if (c == ',') c = ' ';
  std::vector<std::string> w = words(text);
  size_t i = 0;
  if (i < w.size() && !w[i].empty() && !(w[i][0] >= '0' && w[i][0] <= '9')) ++i;  // the day of the week
  if (w.size() < i + 4) return false;
  auto number = [](const std::string& s, long* out) {
    if (s.empty() || s.size() > 4) return false;
    for (char c : s)
      if (c < '0' || c > '9') return false;
    *out = std::strtol(s.c_str(), nullptr, 10);
    return true;
  };
  long day, year;
  if (!number(w[i], &day) || day < 1 || day > 31) return false;
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  int month = 0;
  for (int m = 0; m < 12; ++m)
    if (lowered(w[i + 1]) == kMonths[m]) month = m + 1;
  if (month == 0 || !number(w[i + 2], &year)) return false;
  if (w[i + 2].size() <= 2) year += year < 50 ? 2000 : 1900;
  else if (w[i + 2].size() == 3) year += 1900;
  long hms[3] = {0, 0, 0};
  std::vector<std::string> clock = split(w[i + 3], ":");
  if (clock.size() < 2 || clock.size() > 3) return false;
  for (size_t k = 0; k < clock.size(); ++k)
    if (!number(clock[k], &hms[k]) || clock[k].size() > 2) return false;
  if (hms[0] > 23 || hms[1] > 59 || hms[2] > 60) return false;
  long offset = 0;  // minutes east of UTC
  if (w.size() > i + 4) {
    const std::string& zone = w[i + 4];
    if ((zone[0] == '+' || zone[0] == '-') && zone.size() == 5) {
      long hhmm;
      if (!number(zone.substr(1), &hhmm)) return false;
      offset = (hhmm / 100) * 60 + hhmm % 100;
      if (zone[0] == '-') offset = -offset;
    } else {
      static const struct {
        const char* name;
        int hours;
      } kZones[] = {{"ut", 0}, {"gmt", 0}, {"z", 0},   {"est", -5}, {"edt", -4}, {"cst", -6},
                    {"cdt", -5}, {"mst", -7}, {"mdt", -6}, {"pst", -8}, {"pdt", -7}, {"jst", 9}};
      for (const auto& z : kZones)
        if (lowered(zone) == z.name) offset = z.hours * 60;
    }
  }
  // Days since 1970-01-01 of the civil date.
  long y = year - (month <= 2);
  long era = (y >= 0 ? y : y - 399) / 400;
  long yoe = y - era * 400;
  long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
  *seconds = days * 86400 + hms[0] * 3600 + hms[1] * 60 + hms[2] - static_cast<int64_t>(offset) * 60;
  return true;
}

Refusal judgeDate(std::string_view date, int64_t now, int64_t maxAgeMinutes) {
  int64_t sent;
  if (!parseMailDate(date, &sent)) return Refusal::badDate;
  if (maxAgeMinutes <= 0) maxAgeMinutes = config::kDefaultMaxMailAgeMinutes;
  if (now - sent > maxAgeMinutes * 60) return Refusal::tooOld;
  if (sent - now > kFutureSlackSeconds) return Refusal::future;
  return Refusal::none;
}

bool isAutomaticMail(std::string_view header) {
  for (const std::string& v : headerValues(header, "Auto-Submitted")) {
    std::string text = withoutComments(v);
    std::string value = lowered(platform::trimBlanks(std::string_view(text).substr(0, text.find(';'))));
    if (value != "no") return true;
  }
  for (const std::string& v : headerValues(header, "Precedence")) {
    std::string value = lowered(platform::trimBlanks(withoutComments(v)));
    if (value == "bulk" || value == "list" || value == "junk") return true;
  }
  return !headerValues(header, "List-Id").empty();
}

void GuardStore::load() {
  if (loaded_) return;
  loaded_ = true;
  entries_.clear();
  std::string data;
  if (path_.empty() || !platform::readWholeFile(path_.c_str(), &data)) return;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find('\n', pos);
    if (end == std::string::npos) end = data.size();
    std::string line = data.substr(pos, end - pos);
    pos = end + 1;
    if (line.size() < 4 || (line[0] != 'K' && line[0] != 'R') || line[1] != ' ') continue;
    size_t space = line.find(' ', 2);
    if (space == std::string::npos) continue;
    entries_.push_back({line[0], std::strtoll(line.c_str() + 2, nullptr, 10), line.substr(space + 1)});
  }
}

bool GuardStore::save() {
  if (path_.empty()) return false;
  if (entries_.size() > kGuardStoreLimit)
    entries_.erase(entries_.begin(), entries_.end() - static_cast<std::ptrdiff_t>(kGuardStoreLimit));
  std::string data;
  for (const Entry& e : entries_) data += std::string(1, e.kind) + " " + std::to_string(e.time) + " " + e.text + "\n";
  std::string temporary = path_ + ".new";
  return platform::writeWholeFile(temporary.c_str(), data) && platform::replaceFile(temporary.c_str(), path_.c_str());
}

bool GuardStore::seen(const std::string& key) {
  load();
  for (const Entry& e : entries_)
    if (e.kind == 'K' && e.text == key) return true;
  return false;
}

bool GuardStore::remember(const std::string& key, int64_t now) {
  load();
  entries_.push_back({'K', now, key});
  return save();
}

int GuardStore::repliesSince(const std::string& address, int64_t since) {
  load();
  std::string wanted = normalAddress(address);
  int count = 0;
  for (const Entry& e : entries_)
    if (e.kind == 'R' && e.time > since && e.text == wanted) ++count;
  return count;
}

bool GuardStore::recordReply(const std::string& address, int64_t now) {
  load();
  // Replies older than an hour no longer count.
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [now](const Entry& e) { return e.kind == 'R' && e.time <= now - 3600; }),
                 entries_.end());
  entries_.push_back({'R', now, normalAddress(address)});
  return save();
}

std::string replayKey(std::string_view header, std::string_view text) {
  std::vector<std::string> ids = headerValues(header, "Message-ID");
  std::string id = ids.empty() ? std::string() : ids.front();
  for (char& c : id)
    if (platform::isBlank(c)) c = '_';
  return "M:" + id + " " + sendlib::toHex(sendlib::md5(text.data(), text.size()));
}

bool CommandGuard::anyOn() const {
  return !settingText(settings_.allowedSenders).empty() || !settingText(settings_.commandSecret).empty() ||
         !settingText(settings_.authServerHost).empty() || settings_.replayGuard || settings_.loopGuard;
}

Refusal CommandGuard::judge(std::string_view header, std::string_view body, const std::string& key, int64_t now) {
  std::vector<std::string> from = headerValues(header, "From");
  std::string address = from.size() == 1 ? bareAddress(from.front()) : std::string();
  if (settings_.loopGuard && isAutomaticMail(header)) return Refusal::autoSubmitted;
  std::string_view allowed = settingText(settings_.allowedSenders);
  if (!platform::trimBlanks(allowed).empty() && !senderAllowed(allowed, from.size() == 1 ? from.front() : std::string()))
    return Refusal::sender;
  std::string_view host = settingText(settings_.authServerHost);
  if (!platform::trimBlanks(host).empty() && !authenticationPasses(header, host, addressDomain(address)))
    return Refusal::authentication;
  std::string_view secret = settingText(settings_.commandSecret);
  if (!platform::trimBlanks(secret).empty() && !hasSecretLine(body, secret)) return Refusal::secret;
  if (settings_.replayGuard) {
    std::vector<std::string> dates = headerValues(header, "Date");
    if (dates.size() != 1) return Refusal::badDate;
    Refusal r = judgeDate(dates.front(), now, settings_.maxMailAgeMinutes);
    if (r != Refusal::none) return r;
    if (store_.seen(key)) return Refusal::replay;
  }
  if (settings_.loopGuard) {
    int limit = settings_.maxRepliesPerHour > 0 ? settings_.maxRepliesPerHour : config::kDefaultMaxRepliesPerHour;
    if (address.empty() || store_.repliesSince(address, now - 3600) >= limit) return Refusal::replyLimit;
  }
  return Refusal::none;
}

bool CommandGuard::recordRun(const std::string& key, int64_t now) {
  return !settings_.replayGuard || store_.remember(key, now);
}

void CommandGuard::recordReply(const std::string& toAddress, int64_t now) {
  if (settings_.loopGuard) store_.recordReply(toAddress, now);
}

std::string CommandGuard::visibleBody(std::string_view body) const {
  return maskSecret(body, settingText(settings_.commandSecret));
}

}  // namespace command
