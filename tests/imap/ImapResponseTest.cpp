#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imap/ImapResponse.h"
#include "imap/Sasl.h"

namespace {

using imap::ReadError;
using imap::Response;

// Every response of `input`, fed in pieces of `piece` bytes.
std::vector<Response> read(const std::string& input, size_t piece, ReadError* error) {
  imap::ResponseReader reader(64, 1000);
  std::vector<Response> out;
  for (size_t at = 0; at < input.size() && reader.error() == ReadError::kNone;) {
    size_t n = std::min(piece, input.size() - at);
    size_t used = reader.feed(input.data() + at, n);
    at += used;
    if (reader.hasResponse()) out.push_back(reader.take());
    if (used == 0 && !reader.hasResponse()) break;
  }
  *error = reader.error();
  return out;
}

TEST(ImapResponseReader, AssemblesResponsesWithLiteralsFromPiecesOfEverySize) {
  const std::string input =
      "* OK [CAPABILITY IMAP4rev1] hi\r\n"
      "* 1 FETCH (UID 7 BODY[] {11}\r\nab\r\n{3}\r\ncd UID 7)\r\n"
      "+ idling\r\n"
      "A0001 OK done\r\n";
  for (size_t piece = 1; piece <= input.size(); ++piece) {
    ReadError error;
    std::vector<Response> r = read(input, piece, &error);
    ASSERT_EQ(error, ReadError::kNone);
    ASSERT_EQ(r.size(), 4u) << "piece " << piece;
    EXPECT_EQ(r[0].kind, Response::Kind::kUntagged);
    EXPECT_EQ(r[0].text, "OK [CAPABILITY IMAP4rev1] hi");
    EXPECT_EQ(r[1].text, "1 FETCH (UID 7 BODY[] {11} UID 7)");
    ASSERT_EQ(r[1].literals.size(), 1u);
    EXPECT_EQ(r[1].literals[0], "ab\r\n{3}\r\ncd");  // a literal's own "{3}" is data
    EXPECT_EQ(r[2].kind, Response::Kind::kContinuation);
    EXPECT_EQ(r[2].text, "idling");
    EXPECT_EQ(r[3].kind, Response::Kind::kTagged);
    EXPECT_EQ(r[3].tag, "A0001");
    EXPECT_EQ(r[3].text, "OK done");
  }
}

TEST(ImapResponseReader, RefusesWhatBreaksItsBounds) {
  struct Row {
    std::string input;
    ReadError error;
  };
  const Row rows[] = {
      {"* OK " + std::string(100, 'x'), ReadError::kLineTooLong},          // no line end in 64 bytes
      {"* 1 FETCH (BODY[] {1001}\r\n", ReadError::kLiteralTooLarge},
      {"* 1 FETCH (BODY[] {9223372036854775808}\r\n", ReadError::kLiteralTooLarge},
      {"* 1 FETCH (BODY[] {99999999999999999999999}\r\n", ReadError::kLiteralTooLarge},
      {") trailing\r\n", ReadError::kBadStart},
      {" A1 OK\r\n", ReadError::kBadStart},
      {"A1\r\n", ReadError::kBadStart},
  };
  for (const Row& row : rows) {
    for (size_t piece : {size_t{1}, size_t{5}, row.input.size()}) {
      ReadError error;
      read(row.input, piece, &error);
      EXPECT_EQ(error, row.error) << row.input << " piece " << piece;
    }
  }
}

TEST(ImapTokens, ReadsAtomsStringsListsAndLiterals) {
  std::string text = "FETCH (UID 7 BODY[HEADER.FIELDS (FROM)] \"a \\\"q\\\"\" FLAGS (\\Seen (x)) BODY[] {3})";
  imap::Tokens t(text);
  using T = imap::Tokens::Type;
  EXPECT_EQ(t.next(), T::kAtom);
  EXPECT_EQ(t.next(), T::kOpen);
  EXPECT_EQ(t.next(), T::kAtom);
  EXPECT_EQ(t.next(), T::kAtom);
  EXPECT_EQ(t.value(), "7");
  EXPECT_EQ(t.next(), T::kAtom);
  EXPECT_EQ(t.value(), "BODY[HEADER.FIELDS (FROM)]");
  EXPECT_EQ(t.next(), T::kString);
  EXPECT_EQ(t.value(), "a \"q\"");
  EXPECT_EQ(t.next(), T::kAtom);
  EXPECT_EQ(t.next(), T::kOpen);
  EXPECT_TRUE(t.skipList());
  EXPECT_EQ(t.next(), T::kAtom);
  EXPECT_EQ(t.next(), T::kLiteral);
  EXPECT_EQ(t.literalIndex(), 0u);
  EXPECT_EQ(t.next(), T::kClose);
  EXPECT_EQ(t.next(), T::kEnd);
}

TEST(ImapTexts, NumbersCodesAndNames) {
  uint32_t n = 0;
  EXPECT_TRUE(imap::parseNumber("4294967295", &n));
  EXPECT_EQ(n, 4294967295u);
  EXPECT_FALSE(imap::parseNumber("4294967296", &n));
  EXPECT_FALSE(imap::parseNumber("12a", &n));
  EXPECT_FALSE(imap::parseNumber("", &n));
  std::string name, arg;
  EXPECT_TRUE(imap::responseCode("[uidvalidity 3857529045] UIDs valid", &name, &arg));
  EXPECT_EQ(name, "UIDVALIDITY");
  EXPECT_EQ(arg, "3857529045");
  EXPECT_FALSE(imap::responseCode("Logged in", &name, &arg));
  // RFC 3501 5.1.3's example; the names come in as Shift_JIS.
  EXPECT_EQ(imap::mailboxNameUtf7("~peter/mail/台北/日本語"), "~peter/mail/&U,BTFw-/&ZeVnLIqe-");
  EXPECT_EQ(imap::mailboxNameUtf7("A&B"), "A&-B");
}

}  // namespace
