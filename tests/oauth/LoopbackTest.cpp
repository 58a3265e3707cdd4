#include <gtest/gtest.h>

#include <thread>

#include "oauth/Loopback.h"
#include "platform/Net.h"

namespace oauth {
namespace {

TEST(Loopback, PkceChallengeIsS256) {
  // RFC 7636, appendix B.
  EXPECT_EQ(pkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST(Loopback, AuthorizationAddressNamesVerifierChallengeAndState) {
  OAuthProvider p;
  p.authorizationEndpoint = "https://id.example/auth";
  p.clientId = "quorvel app";
  p.scopes = "mail offline_access";
  AuthorizationRequest a, b;
  ASSERT_TRUE(makeAuthorizationRequest(p, 50123, &a));
  ASSERT_TRUE(makeAuthorizationRequest(p, 50123, &b));
  EXPECT_EQ(a.verifier.size(), 43u);
  EXPECT_NE(a.verifier, b.verifier);
  EXPECT_NE(a.state, b.state);
  EXPECT_EQ(a.redirectUri, "http://127.0.0.1:50123/");
  EXPECT_EQ(a.url.rfind("https://id.example/auth?response_type=code&client_id=quorvel+app&", 0), 0u) << a.url;
  for (std::string part : {"&redirect_uri=http%3A%2F%2F127.0.0.1%3A50123%2F", "&scope=mail+offline_access",
                           "&code_challenge_method=S256"})
    EXPECT_NE(a.url.find(part), std::string::npos) << part;
  EXPECT_NE(a.url.find("&state=" + a.state), std::string::npos);
  EXPECT_NE(a.url.find("&code_challenge=" + pkceChallenge(a.verifier)), std::string::npos);
}

TEST(Loopback, RedirectIsJudgedByState) {
  struct Row {
    std::string head;
    RedirectKind kind;
    std::string code;
  } rows[] = {
      {"GET /?code=abc%2Fd&state=S1 HTTP/1.1\r\nHost: x\r\n\r\n", RedirectKind::kCode, "abc/d"},
      {"GET /?state=S1&code=x HTTP/1.1\r\n\r\n", RedirectKind::kCode, "x"},
      {"GET /?code=abc&state=S2 HTTP/1.1\r\n\r\n", RedirectKind::kWrongState, ""},
      {"GET /?code=abc HTTP/1.1\r\n\r\n", RedirectKind::kWrongState, ""},
      {"GET /?error=access_denied&state=S1 HTTP/1.1\r\n\r\n", RedirectKind::kError, ""},
      {"GET /?error=access_denied&state=evil HTTP/1.1\r\n\r\n", RedirectKind::kWrongState, ""},
      {"GET /favicon.ico HTTP/1.1\r\n\r\n", RedirectKind::kOther, ""},
      {"POST /?code=abc&state=S1 HTTP/1.1\r\n\r\n", RedirectKind::kOther, ""},
      {"", RedirectKind::kOther, ""},
  };
  for (const Row& r : rows) {
    Redirect got = parseRedirect(r.head, "S1");
    EXPECT_EQ(got.kind, r.kind) << r.head;
    EXPECT_EQ(got.code, r.code) << r.head;
  }
}

// Plays the browser: one request, returns the answer.
std::string browse(uint16_t port, const std::string& request) {
  net::TcpSocket s;
  uint32_t address = 0;
  net::resolveHost("127.0.0.1", &address);
  if (!s.create() || !s.connect(address, port, 2000)) return "";
  s.sendAll(request.data(), static_cast<int>(request.size()));
  std::string answer;
  char buf[1024];
  int n;
  while ((n = s.receive(buf, sizeof buf)) > 0) answer.append(buf, n);
  return answer;
}

TEST(Loopback, ListenerAnswersStrayRequestsAndStopsAtTheRedirect) {
  struct Row {
    std::vector<std::string> requests;
    OAuthError error;
    std::string firstStatus, lastStatus;
  } rows[] = {
      {{"GET /favicon.ico HTTP/1.1\r\n\r\n", "GET /?code=c0de&state=S1 HTTP/1.1\r\n\r\n"},
       OAuthError::kNone, "HTTP/1.1 404", "HTTP/1.1 200"},
      {{"GET /?code=c0de&state=forged HTTP/1.1\r\n\r\n"}, OAuthError::kWrongState, "HTTP/1.1 400", "HTTP/1.1 400"},
      {{"GET /?error=access_denied&state=S1 HTTP/1.1\r\n\r\n"}, OAuthError::kDenied, "HTTP/1.1 200", "HTTP/1.1 200"},
  };
  for (const Row& r : rows) {
    net::TcpListener listener;
    ASSERT_TRUE(listener.listen(0));
    std::vector<std::string> answers;
    std::thread browser([&] {
      for (const std::string& q : r.requests) answers.push_back(browse(listener.port(), q));
    });
    std::string code;
    OAuthResult result = awaitRedirect(listener, "S1", 10, nullptr, &code);
    browser.join();
    EXPECT_EQ(result.error, r.error) << r.requests.back();
    EXPECT_EQ(code, r.error == OAuthError::kNone ? "c0de" : "");
    ASSERT_EQ(answers.size(), r.requests.size());
    EXPECT_EQ(answers.front().rfind(r.firstStatus, 0), 0u) << answers.front();
    EXPECT_EQ(answers.back().rfind(r.lastStatus, 0), 0u) << answers.back();
  }
}

TEST(Loopback, WaitEndsOnCancelAndOnTimeOut) {
  net::TcpListener listener;
  ASSERT_TRUE(listener.listen(0));
  std::atomic<bool> cancel{true};
  std::string code;
  EXPECT_EQ(awaitRedirect(listener, "S1", 10, &cancel, &code).error, OAuthError::kCancelled);
  EXPECT_EQ(awaitRedirect(listener, "S1", 1, nullptr, &code).error, OAuthError::kExpired);
}

}  // namespace
}  // namespace oauth
