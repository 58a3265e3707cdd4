#include "SessionFlags.h"

#include <cstdio>
#include <cstdlib>

#include "oauth/TokenStore.h"

namespace toolflags {

Flag parseSessionFlag(int argc, char** argv, int* i, bool mailbox, const char* tool, SessionFlags* f) {
  const std::string a = argv[*i];
  bool missing = false;
  auto value = [&]() -> std::string {
    if (*i + 1 < argc) return argv[++*i];
    missing = true;
    return std::string();
  };
  auto bad = [&](const char* why) {
    std::fprintf(stderr, "%s: %s %s\n", tool, a.c_str(), why);
    return Flag::kBad;
  };
  if (a == "--server") f->server = value();
  else if (a == "--port") f->port = static_cast<uint16_t>(std::atoi(value().c_str()));
  else if (a == "--user") f->user = value();
  else if (a == "--password") f->password = value();
  else if (a == "--trust") f->trustFile = value();
  else if (a == "--no-verify") f->verifyCertificate = false;
  else if (a == "--security") {
    std::string mode = value();
    if (mode == "none") f->security = net::Security::kPlain;
    else if (mode == "stls" || mode == "starttls") f->security = net::Security::kStartTls;
    else if (mode == "tls") f->security = net::Security::kTls;
    else return bad("takes none, stls, starttls or tls");
  } else if (a == "--bearer-file") {
    if (!oauth::readBearerFile(value().c_str(), &f->bearerToken)) return bad("names no file with an access token");
  } else if (a == "--mechanism") {
    if (!oauth::parseMechanism(value(), &f->mechanism)) return bad("takes xoauth2 or oauthbearer");
  } else if (mailbox && a == "--out") f->outDir = value();
  else if (mailbox && a == "--log") f->logPath = value();
  else if (mailbox && a == "--delete") f->deleteMessages = true;
  else if (mailbox && a == "--silence-limit-ms") f->silenceLimitMs = std::atoi(value().c_str());
  else return Flag::kNotShared;
  return missing ? bad("needs a value") : Flag::kTaken;
}

const char* sessionFlagsUsage(bool mailbox) {
  return mailbox ? "                 --server HOST --port N --user NAME [--password PW]\n"
                   "                 [--out DIR] [--log FILE] [--delete] [--silence-limit-ms N]\n"
                   "                 [--security none|stls|starttls|tls] [--trust FILE] [--no-verify]\n"
                   "                 [--bearer-file FILE [--mechanism xoauth2|oauthbearer]]\n"
                 : "                 --server HOST --port N [--user NAME [--password PW]]\n"
                   "                 [--security none|starttls|tls] [--trust FILE] [--no-verify]\n"
                   "                 [--bearer-file FILE [--mechanism xoauth2|oauthbearer]]\n";
}

}  // namespace toolflags
