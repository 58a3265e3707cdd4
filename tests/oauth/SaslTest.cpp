#include <gtest/gtest.h>

#include "oauth/Sasl.h"
#include "platform/Base64.h"

namespace oauth {
namespace {

std::string decoded(const std::string& b64) {
  std::string out;
  EXPECT_TRUE(platform::base64Decode(b64, &out)) << b64;
  return out;
}

TEST(Sasl, InitialResponsesCarryUserAndToken) {
  struct Row {
    SaslMechanism mechanism;
    std::string user, host;
    uint16_t port;
    std::string message;
  } rows[] = {
      {SaslMechanism::kXoauth2, "taro@example.jp", "", 0, "user=taro@example.jp\x01" "auth=Bearer tok.1\x01\x01"},
      {SaslMechanism::kOauthBearer, "taro@example.jp", "mail.example.jp", 995,
       "n,a=taro@example.jp,\x01host=mail.example.jp\x01port=995\x01" "auth=Bearer tok.1\x01\x01"},
      // RFC 5801: "," and "=" in the authorization identity are escaped.
      {SaslMechanism::kOauthBearer, "a,b=c", "", 0, "n,a=a=2Cb=3Dc,\x01" "auth=Bearer tok.1\x01\x01"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(decoded(saslInitialResponse(r.mechanism, r.user, "tok.1", r.host, r.port)), r.message);
  // The example of Google's XOAUTH2 documentation, byte for byte.
  EXPECT_EQ(saslInitialResponse(SaslMechanism::kXoauth2, "someuser@example.com",
                                "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg"),
            "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhkSFJoZG1semRHRXVZ"
            "Mjl0Q2cBAQ==");
}

TEST(Sasl, ErrorChallengeIsAnsweredToEndTheExchange) {
  EXPECT_EQ(saslErrorResponse(SaslMechanism::kXoauth2), "");
  EXPECT_EQ(saslErrorResponse(SaslMechanism::kOauthBearer), "AQ==");
  // Dovecot's challenge for a bad token.
  EXPECT_EQ(challengeStatus("eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0="), "401");
  EXPECT_EQ(challengeStatus("bm90IGpzb24="), "");  // "not json"
  EXPECT_EQ(challengeStatus("!!"), "");
}

TEST(Sasl, ChoosesWhatTheServerOffers) {
  struct Row {
    std::string advertised;
    SaslMechanism preferred;
    bool found;
    SaslMechanism chosen;
  } rows[] = {
      {"PLAIN XOAUTH2 OAUTHBEARER", SaslMechanism::kOauthBearer, true, SaslMechanism::kOauthBearer},
      {"PLAIN XOAUTH2 OAUTHBEARER", SaslMechanism::kXoauth2, true, SaslMechanism::kXoauth2},
      {"250-AUTH PLAIN xoauth2\r\n250 HELP", SaslMechanism::kOauthBearer, true, SaslMechanism::kXoauth2},
      {"250-AUTH=OAUTHBEARER\r\n250 8BITMIME", SaslMechanism::kXoauth2, true, SaslMechanism::kOauthBearer},
      {"PLAIN LOGIN XOAUTH2X", SaslMechanism::kXoauth2, false, SaslMechanism::kXoauth2},
      {"", SaslMechanism::kXoauth2, false, SaslMechanism::kXoauth2},
  };
  for (const Row& r : rows) {
    SaslMechanism chosen = SaslMechanism::kXoauth2;
    EXPECT_EQ(chooseMechanism(r.advertised, r.preferred, &chosen), r.found) << r.advertised;
    if (r.found) EXPECT_EQ(chosen, r.chosen) << r.advertised;
  }
}

}  // namespace
}  // namespace oauth
