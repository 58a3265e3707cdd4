#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Connection.h"

namespace {

// Lines taken from `input` fed in pieces of `piece` bytes.
std::vector<std::string> linesOf(const std::string& input, size_t piece, size_t limit, int* overlong) {
  net::LineReader reader(limit);
  std::vector<std::string> lines;
  *overlong = 0;
  for (size_t at = 0; at < input.size();) {
    size_t n = std::min(piece, input.size() - at);
    size_t pos = 0;
    while (pos < n) {
      std::string line;
      pos += reader.take(input.data() + at + pos, n - pos, &line);
      if (!line.empty()) {
        lines.push_back(line);
        *overlong += reader.overlong();
      }
    }
    at += n;
  }
  return lines;
}

TEST(LineReader, SplitsLinesAcrossPiecesAndCutsOverlongOnes) {
  struct Row {
    std::string input;
    size_t limit;
    std::vector<std::string> lines;
    int overlong;
  };
  const Row rows[] = {
      {"+OK a\r\n-ERR b\r\n", 100, {"+OK a\r\n", "-ERR b\r\n"}, 0},
      {"one\ntwo", 100, {"one\n"}, 0},  // "two" waits for its end
      {"abcdefghij\r\n", 4, {"abcd", "efgh", "ij\r\n"}, 2},
  };
  for (const Row& row : rows) {
    for (size_t piece = 1; piece <= row.input.size(); ++piece) {
      int overlong = 0;
      EXPECT_EQ(linesOf(row.input, piece, row.limit, &overlong), row.lines) << row.input << " piece " << piece;
      EXPECT_EQ(overlong, row.overlong) << row.input << " piece " << piece;
    }
  }
}

TEST(Connection, SilenceCountsFromTheLastActivity) {
  net::Connection connection;
  connection.touch();
  EXPECT_FALSE(connection.silentFor(0, 1000));  // a clock behind the last activity
  EXPECT_EQ(connection.connect("", 1, 1000), net::ConnectFailure::kResolve);
}

}  // namespace
