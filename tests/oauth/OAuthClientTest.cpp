#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "oauth/OAuthClient.h"
#include "oauth/TokenStore.h"
#include "platform/File.h"
#include "support/TempDir.h"

namespace oauth {
namespace {

// The token endpoint, scripted: each request takes the next answer.
struct Answer {
  int status;
  std::string body;
  std::string type = "application/json";
  net::HttpFailure failure = net::HttpFailure::kNone;
};
std::deque<Answer> g_answers;
std::vector<net::HttpRequest> g_requests;

bool scripted(const net::HttpRequest& request, net::HttpResponse* response) {
  g_requests.push_back(request);
  if (g_answers.empty()) {
    response->failure = net::HttpFailure::kConnect;
    return false;
  }
  Answer a = g_answers.front();
  g_answers.pop_front();
  response->failure = a.failure;
  if (a.failure != net::HttpFailure::kNone) return false;
  response->status = a.status;
  response->body = a.body;
  response->contentType = a.type;
  return true;
}

struct FakeClock : Clock {
  int64_t t = 1000000;
  std::vector<int> waits;
  int64_t now() override { return t; }
  bool wait(int ms) override {
    waits.push_back(ms);
    t += ms / 1000;
    return true;
  }
};

OAuthProvider testProvider() {
  OAuthProvider p;
  p.tokenEndpoint = "https://id.example/token";
  p.deviceEndpoint = "https://id.example/device";
  p.clientId = "quorvel";
  p.scopes = "mail offline_access";
  return p;
}

class OAuthClientTest : public ::testing::Test {
 protected:
  OAuthClientTest() {
    net::setHttpClient(scripted);
    g_answers.clear();
    g_requests.clear();
  }
  ~OAuthClientTest() override { net::setHttpClient(nullptr); }

  OAuthProvider provider_ = testProvider();
  FakeClock clock_;
  OAuthClient client_{provider_, HttpSecurity(), clock_};
};

TEST_F(OAuthClientTest, HostileTokenAnswersGiveOneClearError) {
  struct Row {
    Answer answer;
    OAuthError error;
    std::string words;  // in the message
  } rows[] = {
      {{200, "{\"access_token\": \"abc\", \"expires_in\": 3600,"}, OAuthError::kBadAnswer, "JSON"},
      {{200, "<html><body>Sign in</body></html>", "text/html"}, OAuthError::kBadAnswer, "HTML"},
      {{502, "  <!DOCTYPE html>", "text/plain"}, OAuthError::kBadAnswer, "HTML"},
      {{200, "[1, 2]"}, OAuthError::kBadAnswer, "JSON"},
      {{200, "{\"token_type\": \"Bearer\"}"}, OAuthError::kBadAnswer, "access_token"},
      {{200, "{\"access_token\": \"a b\"}"}, OAuthError::kBadAnswer, "access_token"},
      {{500, "{}"}, OAuthError::kBadAnswer, "HTTP 500"},
      {{400, "{\"error\": \"invalid_grant\", \"error_description\": \"grant request is invalid\"}"},
       OAuthError::kInvalidGrant, "invalid_grant"},
      {{400, "{\"error\": \"invalid_client\", \"error_description\": \"\\u0007\\n\"}"}, OAuthError::kServer,
       "invalid_client: ??"},
      {{0, "", "", net::HttpFailure::kTooLarge}, OAuthError::kHttp, "1MB"},
      {{0, "", "", net::HttpFailure::kTimedOut}, OAuthError::kHttp, "30"},
      {{0, "", "", net::HttpFailure::kTls}, OAuthError::kHttp, "TLS"},
  };
  for (const Row& r : rows) {
    g_answers = {r.answer};
    Tokens tokens;
    OAuthResult result = client_.refresh("rt-1", &tokens);
    EXPECT_EQ(result.error, r.error) << r.answer.body;
    EXPECT_NE(result.message.find(r.words), std::string::npos) << result.message;
    EXPECT_EQ(tokens.accessToken, "");
  }
  // Every request was bounded as stated.
  for (const net::HttpRequest& q : g_requests) {
    EXPECT_EQ(q.timeoutMs, 30000);
    EXPECT_EQ(q.maxBody, 1048576u);
  }
}

TEST_F(OAuthClientTest, RefreshKeepsOrReplacesTheRefreshToken) {
  g_answers = {{200, "{\"access_token\": \"at-2\", \"expires_in\": 3600, \"refresh_token\": \"rt-2\"}"},
               {200, "{\"access_token\": \"at-3\", \"expires_in\": 60}"}};
  Tokens tokens;
  ASSERT_TRUE(client_.refresh("rt-1", &tokens).ok());
  EXPECT_EQ(tokens.accessToken, "at-2");
  EXPECT_EQ(tokens.refreshToken, "rt-2");
  EXPECT_EQ(tokens.expiresAt, clock_.t + 3600);
  EXPECT_EQ(g_requests[0].body, "grant_type=refresh_token&refresh_token=rt-1&client_id=quorvel");
  ASSERT_TRUE(client_.refresh("rt-2", &tokens).ok());
  EXPECT_EQ(tokens.refreshToken, "rt-2");
}

TEST_F(OAuthClientTest, DevicePollingHonoursIntervalSlowDownAndExpiry) {
  // No interval given: 5 s; slow_down adds 5 s.
  g_answers = {{200, "{\"device_code\": \"dc\", \"user_code\": \"ABCD-EFGH\", \"verification_uri\": "
                     "\"https://id.example/device\", \"expires_in\": 600}"},
               {400, "{\"error\": \"authorization_pending\"}"},
               {400, "{\"error\": \"slow_down\"}"},
               {400, "{\"error\": \"authorization_pending\"}"},
               {200, "{\"access_token\": \"at\", \"refresh_token\": \"rt\", \"expires_in\": 3600}"}};
  DeviceAuthorization device;
  ASSERT_TRUE(client_.startDevice(&device).ok());
  EXPECT_EQ(device.userCode, "ABCD-EFGH");
  EXPECT_EQ(g_requests[0].body, "scope=mail+offline_access&client_id=quorvel");
  Tokens tokens;
  ASSERT_TRUE(client_.pollDevice(device, &tokens).ok());
  EXPECT_EQ(tokens.refreshToken, "rt");
  EXPECT_EQ(clock_.waits, (std::vector<int>{5000, 5000, 10000, 10000}));
  EXPECT_EQ(g_requests[1].body,
            "grant_type=urn%3Aietf%3Aparams%3Aoauth%3Agrant-type%3Adevice_code&device_code=dc&client_id=quorvel");

  // Pending for ever: the polling stops when the code expires.
  g_answers = {{200, "{\"device_code\": \"dc\", \"user_code\": \"U\", \"verification_uri\": \"https://x\", "
                     "\"interval\": 2, \"expires_in\": 20}"}};
  for (int i = 0; i < 100; ++i) g_answers.push_back({400, "{\"error\": \"authorization_pending\"}"});
  ASSERT_TRUE(client_.startDevice(&device).ok());
  clock_.waits.clear();
  EXPECT_EQ(client_.pollDevice(device, &tokens).error, OAuthError::kExpired);
  EXPECT_EQ(clock_.waits.size(), 10u);

  // The user refused; the server ended the code.
  device.expiresAt = clock_.t + 600;
  for (auto [error, expected] : {std::pair{"access_denied", OAuthError::kDenied},
                                 std::pair{"expired_token", OAuthError::kExpired}}) {
    g_answers = {{400, std::string("{\"error\": \"") + error + "\"}"}};
    EXPECT_EQ(client_.pollDevice(device, &tokens).error, expected) << error;
  }
}

class TokenStoreTest : public OAuthClientTest {
 protected:
  void store(const std::string& access, const std::string& refresh, int64_t expiresAt) {
    TokenFile f;
    f.tokens = {access, refresh, expiresAt};
    ASSERT_TRUE(saveTokenFile(path_.c_str(), f));
  }
  TokenFile stored() {
    TokenFile f;
    EXPECT_TRUE(loadTokenFile(path_.c_str(), &f));
    return f;
  }
  testsupport::TempDir dir_;
  std::string path_ = dir_.sjisFile("quorvel-token.dat");
};

TEST_F(TokenStoreTest, RefreshesOnlyWithinFiveMinutesOfExpiry) {
  struct Row {
    int64_t expiresIn;
    bool refreshed;
  } rows[] = {{301, false}, {300, true}, {-50, true}};
  for (const Row& r : rows) {
    store("at-old", "rt-old", clock_.t + r.expiresIn);
    g_answers = {{200, "{\"access_token\": \"at-new\", \"refresh_token\": \"rt-new\", \"expires_in\": 3600}"}};
    std::string access;
    bool asked = false;
    ASSERT_TRUE(accessTokenForSession(client_, clock_, path_.c_str(), &access, &asked).ok());
    EXPECT_EQ(asked, r.refreshed) << r.expiresIn;
    EXPECT_EQ(access, r.refreshed ? "at-new" : "at-old");
    // The rotated refresh token is on disk when the access token is handed out.
    EXPECT_EQ(stored().tokens.refreshToken, r.refreshed ? "rt-new" : "rt-old");
  }
}

TEST_F(TokenStoreTest, RevokedGrantStopsRefreshingUntilSignIn) {
  store("at-old", "rt-old", clock_.t + 10);
  g_answers = {{400, "{\"error\": \"invalid_grant\"}"}};
  std::string access;
  EXPECT_EQ(accessTokenForSession(client_, clock_, path_.c_str(), &access).error, OAuthError::kInvalidGrant);
  EXPECT_TRUE(stored().signInNeeded);
  EXPECT_EQ(stored().tokens.refreshToken, "");
  // The next sessions fail at once: no more requests to the token endpoint.
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(accessTokenForSession(client_, clock_, path_.c_str(), &access).error, OAuthError::kInvalidGrant);
  EXPECT_EQ(g_requests.size(), 1u);
  EXPECT_EQ(access, "");
}

TEST_F(TokenStoreTest, FailedRefreshKeepsTheStoredTokens) {
  store("at-old", "rt-old", clock_.t + 10);
  g_answers = {{0, "", "", net::HttpFailure::kTimedOut}};
  std::string access;
  EXPECT_EQ(accessTokenForSession(client_, clock_, path_.c_str(), &access).error, OAuthError::kHttp);
  EXPECT_FALSE(stored().signInNeeded);
  EXPECT_EQ(stored().tokens.refreshToken, "rt-old");
  // A missing or foreign file asks for sign-in.
  ASSERT_TRUE(platform::writeWholeFile(path_.c_str(), "access=x\n"));
  EXPECT_EQ(accessTokenForSession(client_, clock_, path_.c_str(), &access).error, OAuthError::kInvalidGrant);
}

}  // namespace
}  // namespace oauth
