#include "config/ConfFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "platform/Text.h"

namespace config {

const char* const kCommandKeyConfNames[kCommandKeyCount] = {
    "key.camera_start",    "key.camera_exit",      "key.camera_minimize",  "key.camera_maximize",
    "key.camera_normal",   "key.snapshot_save",    "key.snapshot_reply",   "key.recording_reply",
    "key.recording_start", "key.recording_stop",   "key.detection_start",  "key.detection_stop",
    "key.alert_mail_on",   "key.alert_mail_off",   "key.alert_recipient",  "key.date_display_on",
    "key.date_display_off", "key.timer_start",     "key.timer_stop",       "key.monitor_start",
    "key.monitor_stop",    "key.screen_reply",     "key.reply_width",      "key.rotate_reply_image",
    "key.pc_shutdown",     "key.key_list_reply",
};

namespace {

// The spam criteria by name, in the order of AppSettings::spamRules.
const char* const kSpamRuleNames[kSpamRuleCount] = {
    "no-date",     "no-to",       "no-subject",  "us-ascii",    "iso-8859-1",  "iso-8859-2",
    "iso-8859-3",  "iso-8859-4",  "iso-8859-5",  "iso-8859-6",  "iso-8859-7",  "iso-8859-8",
    "iso-8859-9",  "iso-8859-10", "iso-8859-13", "iso-8859-14", "iso-8859-15", "koi8-r",
    "iso-2022-kr", "euc-kr",      "gb2312",      "big5",        "other-charset", "wrong-to",
};

// A value's reader: false with `error` set when the value is refused.
using Reader = std::function<bool(const std::string& value, std::string* error)>;

bool readBool(const std::string& v, int32_t* out, std::string* error) {
  static const std::map<std::string, int32_t> words = {{"yes", 1}, {"no", 0}, {"on", 1},   {"off", 0},
                                                       {"true", 1}, {"false", 0}, {"1", 1}, {"0", 0}};
  auto it = words.find(v);
  if (it == words.end()) {
    *error = "expected yes or no, not \"" + v + "\"";
    return false;
  }
  *out = it->second;
  return true;
}

bool readInt(const std::string& v, long low, long high, long* out, std::string* error) {
  if (v.empty()) {
    *error = "expected a number";
    return false;
  }
  errno = 0;
  char* end = nullptr;
  long n = std::strtol(v.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE) {
    *error = "expected a number, not \"" + v + "\"";
    return false;
  }
  if (n < low || n > high) {
    *error = "expected a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not " + v;
    return false;
  }
  *out = n;
  return true;
}

// UTF-8 text into a Shift_JIS field of `width` bytes.
bool readText(const std::string& v, char* field, size_t width, std::string* error) {
  for (size_t i = 0; i < v.size();) {
    char32_t cp;
    int n = platform::decodeUtf8(reinterpret_cast<const unsigned char*>(v.data()) + i, v.size() - i, &cp);
    if (n <= 0) {
      *error = "the text is not UTF-8";
      return false;
    }
    i += static_cast<size_t>(n);
  }
  bool lost = false;
  std::string sjis = platform::utf8ToCp932(v, &lost);
  if (lost) {
    *error = "the text has characters that Shift_JIS cannot hold";
    return false;
  }
  if (sjis.size() > width - 1) {
    *error = "the text is " + std::to_string(sjis.size()) + " bytes in Shift_JIS; at most " +
             std::to_string(width - 1) + " fit";
    return false;
  }
  platform::copyField(field, width, sjis.c_str());
  return true;
}

template <size_t N>
Reader text(char (&field)[N]) {
  return [&field](const std::string& v, std::string* e) { return readText(v, field, N, e); };
}

Reader flag(int32_t& field) {
  return [&field](const std::string& v, std::string* e) { return readBool(v, &field, e); };
}

Reader number(int32_t& field, long low, long high) {
  return [&field, low, high](const std::string& v, std::string* e) {
    long n;
    if (!readInt(v, low, high, &n, e)) return false;
    field = static_cast<int32_t>(n);
    return true;
  };
}

Reader port(uint16_t& field) {
  return [&field](const std::string& v, std::string* e) {
    long n;
    if (!readInt(v, 1, 65535, &n, e)) return false;
    field = static_cast<uint16_t>(n);
    return true;
  };
}

Reader choice(int32_t& field, std::map<std::string, int32_t> words) {
  return [&field, words](const std::string& v, std::string* e) {
    auto it = words.find(v);
    if (it == words.end()) {
      std::string all;
      for (const auto& w : words) all += (all.empty() ? "" : ", ") + w.first;
      *e = "expected one of " + all + ", not \"" + v + "\"";
      return false;
    }
    field = it->second;
    return true;
  };
}

Reader path(std::string& field) {
  return [&field](const std::string& v, std::string*) {
    field = v;
    return true;
  };
}

Reader absolutePath(std::string& field) {
  return [&field](const std::string& v, std::string* e) {
    if (v.empty() || v[0] != '/') {
      *e = "expected an absolute path";
      return false;
    }
    field = v;
    return true;
  };
}

Reader spamRules(int32_t (&rules)[kSpamRuleCount]) {
  return [&rules](const std::string& v, std::string* e) {
    int32_t chosen[kSpamRuleCount] = {};
    size_t start = 0;
    while (start <= v.size()) {
      size_t comma = v.find(',', start);
      if (comma == std::string::npos) comma = v.size();
      std::string name(platform::trimBlanks(std::string_view(v).substr(start, comma - start)));
      start = comma + 1;
      if (name.empty()) continue;
      int index = -1;
      for (int i = 0; i < kSpamRuleCount; ++i)
        if (name == kSpamRuleNames[i]) index = i;
      if (index < 0) {
        *e = "unknown spam rule \"" + name + "\"";
        return false;
      }
      chosen[index] = 1;
    }
    std::memcpy(rules, chosen, sizeof chosen);
    return true;
  };
}

std::map<std::string, Reader> readers(AppSettings& s, ServiceSettings& service) {
  std::map<std::string, Reader> r;
  r["pop3_server"] = text(s.pop3Server);
  r["pop3_port"] = port(s.pop3Port);
  r["pop3_security"] = choice(s.pop3Security, {{"none", kPopPlain}, {"stls", kPopStls}, {"tls", kPopTls}});
  r["smtp_server"] = text(s.smtpServer);
  r["smtp_port"] = port(s.smtpPort);
  r["smtp_security"] =
      choice(s.smtpSecurity, {{"none", kSmtpPlain}, {"starttls", kSmtpStartTls}, {"tls", kSmtpTls}});
  r["smtp_auth"] = flag(s.smtpAuthRequired);
  r["tls_verify"] = [&s](const std::string& v, std::string* e) {
    int32_t on;
    if (!readBool(v, &on, e)) return false;
    s.tlsNoVerify = on ? 0 : 1;
    return true;
  };
  r["tls_trust_file"] = text(s.tlsTrustFile);
  r["receive_protocol"] = choice(s.receiveProtocol, {{"pop3", kReceivePop3}, {"imap", kReceiveImap}});
  r["imap_folder"] = text(s.imapFolder);
  r["account"] = text(s.accountName);
  r["password_file"] = absolutePath(service.passwordFile);
  r["check_interval"] = [&s](const std::string& v, std::string* e) {
    long n;
    if (!readInt(v, 0, 100 * 60 + 59, &n, e)) return false;
    s.intervalMinutes = static_cast<int32_t>(n / 60);
    s.intervalSeconds = static_cast<int32_t>(n % 60);
    return true;
  };
  r["keep_on_server"] = flag(s.keepOnServer);
  r["command_mails_only"] = flag(s.commandMailsOnly);
  r["mail_log_keep"] = number(s.mailLogKeepCount, 0, 100000);
  r["subject_keyword"] = text(s.subjectKeyword);
  r["required_from"] = text(s.requiredSender);
  r["required_to"] = text(s.requiredRecipient);
  r["required_mailer"] = text(s.requiredMailer);
  r["required_x_sender"] = text(s.requiredSenderAddress);
  for (int i = 0; i < kCommandKeyCount; ++i) r[kCommandKeyConfNames[i]] = text(s.commandKeyNames[i]);
  r["reply_image_width"] = number(s.replyImageWidth, -1, 10000);
  r["rotate_reply_image"] = flag(s.rotateReplyImage);
  r["spam_filter"] = flag(s.spamFilterEnabled);
  r["spam_rules"] = spamRules(s.spamRules);
  r["allowed_senders"] = text(s.allowedSenders);
  r["command_secret"] = text(s.commandSecret);
  r["auth_server_host"] = text(s.authServerHost);
  r["replay_guard"] = flag(s.replayGuard);
  r["max_mail_age_minutes"] = number(s.maxMailAgeMinutes, 0, 100000);
  r["loop_guard"] = flag(s.loopGuard);
  r["max_replies_per_hour"] = number(s.maxRepliesPerHour, 0, 100000);
  r["user"] = path(service.user);
  r["state_dir"] = absolutePath(service.stateDir);
  r["motion_url"] = [&service](const std::string& v, std::string* e) {
    if (v.rfind("http://", 0) != 0) {
      *e = "expected an http:// address of motion's control port";
      return false;
    }
    service.motionUrl = v;
    return true;
  };
  r["motion_camera"] = [&service](const std::string& v, std::string* e) {
    long n;
    if (!readInt(v, 0, 1000, &n, e)) return false;
    service.motionCamera = static_cast<int>(n);
    return true;
  };
  r["motion_user"] = path(service.motionUser);
  r["motion_password_file"] = absolutePath(service.motionPasswordFile);
  r["motion_snapshot_dir"] = absolutePath(service.motionSnapshotDir);
  r["motion_movie_list"] = absolutePath(service.motionMovieList);
  r["motion_timeout_ms"] = [&service](const std::string& v, std::string* e) {
    long n;
    if (!readInt(v, 100, 60000, &n, e)) return false;
    service.motionTimeoutMs = static_cast<int>(n);
    return true;
  };
  r["max_recording_seconds"] = [&service](const std::string& v, std::string* e) {
    long n;
    if (!readInt(v, 1, 86400, &n, e)) return false;
    service.maxRecordingSeconds = static_cast<int>(n);
    return true;
  };
  r["poweroff_allowed"] = [&service](const std::string& v, std::string* e) {
    int32_t on;
    if (!readBool(v, &on, e)) return false;
    service.poweroffAllowed = on != 0;
    return true;
  };
  return r;
}

}  // namespace

std::vector<ConfError> parseConf(const std::string& text, AppSettings& settings, ServiceSettings& service) {
  service = ServiceSettings();
  std::vector<ConfError> errors;
  // The state folder is known only at the end; the defaults take it then.
  AppSettings parsed{};
  applyDefaults(parsed, "");
  std::map<std::string, Reader> table = readers(parsed, service);
  std::set<std::string> seen;
  int lineNumber = 0;
  size_t start = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    ++lineNumber;
    line = platform::trimBlanks(line);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      errors.push_back({lineNumber, "expected \"key = value\""});
      continue;
    }
    std::string key(platform::trimBlanks(line.substr(0, eq)));
    std::string value(platform::trimBlanks(line.substr(eq + 1)));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    auto it = table.find(key);
    if (it == table.end()) {
      errors.push_back({lineNumber, key == "password" ? "unknown key \"password\" (the password belongs in the "
                                                        "file that password_file names)"
                                                      : "unknown key \"" + key + "\""});
      continue;
    }
    if (!seen.insert(key).second) {
      errors.push_back({lineNumber, "\"" + key + "\" is set twice"});
      continue;
    }
    std::string error;
    if (!it->second(value, &error)) errors.push_back({lineNumber, key + ": " + error});
  }
  for (const char* required : {"pop3_server", "account", "password_file"})
    if (!seen.count(required)) errors.push_back({0, std::string("\"") + required + "\" is missing"});
  std::string folder = platform::utf8ToCp932(service.stateDir);
  if (folder.size() > sizeof parsed.mailLogFolder - 1) errors.push_back({0, "state_dir is too long"});
  platform::copyField(parsed.mailLogFolder, sizeof parsed.mailLogFolder, folder.c_str());
  settings = parsed;
  return errors;
}

std::string describe(const std::string& path, const ConfError& error) {
  if (error.line <= 0) return path + ": " + error.message;
  return path + ":" + std::to_string(error.line) + ": " + error.message;
}

}  // namespace config
