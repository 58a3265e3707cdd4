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

#include "oauth/TokenStore.h"
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
               "usage: sendcheck --server HOST --port N --from ADDR --to ADDR\n"
               "                 [--user NAME --password PW] [--helo NAME] [--subject TEXT] [--body TEXT]\n"
               "                 [--security none|starttls|tls] [--trust FILE] [--no-verify] [--log]\n"
               "                 [--bearer-file FILE [--mechanism xoauth2|oauthbearer]]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  auto request = std::make_unique<SendMailRequest>();
  std::memset(request.get(), 0, sizeof *request);
  auto bearer = std::make_unique<SendSecurityBearer>();
  std::memset(bearer.get(), 0, sizeof *bearer);
  SendSecurity& security = bearer->security;
  std::string token;
  std::string password;
  if (const char* pw = std::getenv("SENDCHECK_PASSWORD")) password = pw;
  put(request->heloName, "sendcheck");
  put(request->subject, "sendcheck");
  put(request->body, "sendcheck\r\n");
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (a == "--server") put(request->server, value());
    else if (a == "--port") request->port = static_cast<uint16_t>(std::atoi(value().c_str()));
    else if (a == "--from") put(request->fromAddress, value());
    else if (a == "--to") put(request->toAddress, value());
    else if (a == "--user") {
      put(request->userName, value());
      request->useAuth = 1;
    } else if (a == "--password") password = value();
    else if (a == "--helo") put(request->heloName, value());
    else if (a == "--subject") put(request->subject, platform::utf8ToCp932(value()));
    else if (a == "--body") put(request->body, platform::utf8ToCp932(value()));
    else if (a == "--trust") put(security.trustFile, value());
    else if (a == "--no-verify") security.noVerify = 1;
    else if (a == "--log") request->writeLog = 1;
    else if (a == "--bearer-file") {
      if (!oauth::readBearerFile(value().c_str(), &token)) {
        std::fprintf(stderr, "sendcheck: no access token in the bearer file\n");
        return 2;
      }
    } else if (a == "--mechanism") {
      std::string m = value();
      if (m == "xoauth2") bearer->mechanism = kSendXoauth2;
      else if (m == "oauthbearer") bearer->mechanism = kSendOauthBearer;
      else return usage();
    }
    else if (a == "--security") {
      std::string mode = value();
      if (mode == "none") security.mode = kSendPlain;
      else if (mode == "starttls") security.mode = kSendStartTls;
      else if (mode == "tls") security.mode = kSendTls;
      else return usage();
    } else return usage();
  }
  if (!request->server[0] || request->port == 0 || !request->fromAddress[0] || !request->toAddress[0])
    return usage();
  put(request->password, password);
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
