// sendcheck: sends one message through libSendry's EM_SendMailSecure, the
// way Quorvel's reply does, and prints the result code.
//
//   sendcheck --server HOST --port N --from ADDR --to ADDR
//             [--user NAME --password PW] [--helo NAME] [--subject TEXT] [--body TEXT]
//             [--security none|starttls|tls] [--trust FILE] [--no-verify] [--log]
//             [--bearer-file FILE [--mechanism xoauth2|oauthbearer]]
//
// --user turns authentication on; the password may also come from the
// environment variable SENDCHECK_PASSWORD. --bearer-file authenticates as
// --user with the OAuth 2.0 access token in FILE (XOAUTH2 or OAUTHBEARER). --log writes Sendry's send log
// (メール送信ログ.txt) in the current folder. Texts are taken as UTF-8 and
// sent as Shift_JIS. Exit code: EM_SendMail's result (0 sent), 2 on usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "SessionFlags.h"
#include "platform/Text.h"
#include "sendlib/Sendry.h"

namespace {

template <size_t N>
void put(char (&field)[N], const std::string& text) {
  std::strncpy(field, text.c_str(), N - 1);
  field[N - 1] = '\0';
}

int usage() {
  std::fprintf(stderr,
               "usage: sendcheck --from ADDR --to ADDR [--helo NAME] [--subject TEXT] [--body TEXT] [--log]\n%s",
               toolflags::sessionFlagsUsage(false));
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  auto request = std::make_unique<SendMailRequest>();
  std::memset(request.get(), 0, sizeof *request);
  auto bearer = std::make_unique<SendSecurityBearer>();
  std::memset(bearer.get(), 0, sizeof *bearer);
  SendSecurity& security = bearer->security;
  toolflags::SessionFlags flags;
  if (const char* pw = std::getenv("SENDCHECK_PASSWORD")) flags.password = pw;
  put(request->heloName, "sendcheck");
  put(request->subject, "sendcheck");
  put(request->body, "sendcheck\r\n");
  for (int i = 1; i < argc; ++i) {
    toolflags::Flag shared = toolflags::parseSessionFlag(argc, argv, &i, false, "sendcheck", &flags);
    if (shared == toolflags::Flag::kTaken) continue;
    if (shared == toolflags::Flag::kBad) return usage();
    std::string a = argv[i];
    if (a == "--log") {
      request->writeLog = 1;
      continue;
    }
    if (i + 1 >= argc) return usage();
    std::string value = argv[++i];
    if (a == "--from") put(request->fromAddress, value);
    else if (a == "--to") put(request->toAddress, value);
    else if (a == "--helo") put(request->heloName, value);
    else if (a == "--subject") put(request->subject, platform::utf8ToCp932(value));
    else if (a == "--body") put(request->body, platform::utf8ToCp932(value));
    else return usage();
  }
  if (flags.server.empty() || flags.port == 0 || !request->fromAddress[0] || !request->toAddress[0])
    return usage();
  put(request->server, flags.server);
  request->port = flags.port;
  if (!flags.user.empty()) {
    put(request->userName, flags.user);
    request->useAuth = 1;
  }
  put(request->password, flags.password);
  security.mode = flags.security == net::Security::kTls        ? kSendTls
                  : flags.security == net::Security::kStartTls ? kSendStartTls
                                                               : kSendPlain;
  security.noVerify = flags.verifyCertificate ? 0 : 1;
  put(security.trustFile, flags.trustFile);
  bearer->mechanism = flags.mechanism == oauth::SaslMechanism::kOauthBearer ? kSendOauthBearer : kSendXoauth2;
  const std::string& token = flags.bearerToken;
  if (!token.empty()) {
    if (token.size() >= sizeof bearer->bearerToken) {
      std::fprintf(stderr, "sendcheck: the access token is too long\n");
      return 2;
    }
    put(bearer->bearerToken, token);
    security.mode |= kSendAuthBearer;
  }
  int code = EM_SendMailSecure(request.get(), &security);
  std::printf("%d\n", code);
  return code;
}
