#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "command/CommandKeys.h"
#include "config/AppSettings.h"

namespace {

using command::findCommands;

config::AppSettings defaults() {
  config::AppSettings s;
  std::memset(&s, 0, sizeof s);
  config::applyDefaults(s, "/tmp");
  return s;
}

std::vector<command::FoundCommand> find(const config::AppSettings& s, const std::string& body) {
  return findCommands(s, body.data(), body.size());
}

TEST(FindCommands, OrderByPositionInTheBody) {
  struct Case {
    std::string body;
    std::vector<std::pair<int, int>> found;  // action, position
  } cases[] = {
      {"回転 スナップ返信", {{24, 4}, {7, 17}}},
      {"スナップ返信 回転", {{7, 12}, {24, 17}}},
      {"スナップ返信スナップ返信", {{7, 12}, {7, 24}}},
      {"キー返信\r\nVT終了", {{26, 8}, {2, 16}}},
      {"PCシャットダウン", {}},
      {"vt終了 何もなし", {}},
      {"", {}},
      {std::string("VT終了\0スナップ返信", 19), {{2, 6}}},  // the text ends at its NUL
  };
  config::AppSettings s = defaults();
  for (const Case& c : cases) {
    auto found = find(s, c.body);
    std::vector<std::pair<int, int>> got;
    for (const auto& f : found) got.emplace_back(f.action, f.position);
    EXPECT_EQ(got, c.found) << c.body;
  }
}

TEST(FindCommands, EmptyKeysAreNeverFoundAndConfiguredShutdownKeyIs) {
  config::AppSettings s = defaults();
  EXPECT_EQ(s.commandKeyNames[command::PcShutdown - 1][0], '\0');
  std::strcpy(s.commandKeyNames[command::PcShutdown - 1], "電源断");
  std::strcpy(s.commandKeyNames[command::CameraExit - 1], "");
  auto found = find(s, "VT終了 電源断");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].action, command::PcShutdown);
  EXPECT_STREQ(found[0].keyName, "電源断");
}

TEST(FindCommands, DifferentKeysEndingAtTheSameByteKeepTableOrder) {
  config::AppSettings s = defaults();
  std::strcpy(s.commandKeyNames[command::CameraExit - 1], "AB");
  std::strcpy(s.commandKeyNames[command::CameraStart - 1], "B");
  auto found = find(s, "xAB");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].action, command::CameraStart);
  EXPECT_EQ(found[1].action, command::CameraExit);
}

TEST(FindCommands, QuotedArguments) {
  const std::string v79(79, 'w'), v80(80, 'w');
  struct Case {
    std::string body;
    std::string argument;
  } cases[] = {
      {"画像幅\"400\"", "400"},
      {"画像幅 \"400\"", ""},
      {"画像幅\"400", ""},
      {"画像幅\"\"", ""},
      {"画像幅\"" + v79 + "\"", v79},
      {"画像幅\"" + v80 + "\"", ""},
      {"画像幅\"40\r\n0\"", ""},
      {"画像幅\"40\n0\"", ""},
      {std::string("画像幅\"40\0" "0\"", 12), ""},
      {"画像幅\"", ""},
      {"アラート送信先\"a@b.jp\" 回転", "a@b.jp"},
  };
  config::AppSettings s = defaults();
  for (const Case& c : cases) {
    auto found = find(s, c.body);
    ASSERT_FALSE(found.empty()) << c.body;
    EXPECT_EQ(std::string(found[0].argument), c.argument) << c.body;
  }
  // Keys without an argument never read one.
  auto rotate = find(s, "回転\"1\"");
  ASSERT_EQ(rotate.size(), 1u);
  EXPECT_STREQ(rotate[0].argument, "");
}

TEST(FindCommands, ArgumentNeverReadsPastTheText) {
  char out[command::kArgumentSize];
  const char text[] = "\"abc\"";
  command::extractArgument(text, text + 4, out);  // closing quote outside
  EXPECT_STREQ(out, "");
  command::extractArgument(text, text + 5, out);
  EXPECT_STREQ(out, "abc");
}

// A reply that quotes Quorvel's own reply (body, results, key list) runs
// nothing of the quote; keys typed above it still run.
TEST(FindCommands, QuotedTextRunsNothing) {
  config::AppSettings s = defaults();
  std::string keyList = "== コマンド 一覧 ==\r\n";
  for (int n = 0; n < command::kActionCount; ++n)
    keyList += std::string(s.commandKeyNames[n]) + ": " + s.commandKeyNames[n] + "\r\n";
  keyList += "===================\r\n";
  const std::string ownReply = "キー返信\r\n------ 処理結果 ------\r\n" + keyList;
  std::string quoted;
  for (size_t at = 0, end; at < ownReply.size(); at = end + 2) {
    end = ownReply.find("\r\n", at);
    quoted += "> " + ownReply.substr(at, end - at) + "\r\n";
  }
  struct Case {
    const char* name;
    std::string body;
    std::vector<int> actions;
  } cases[] = {
      {"phone reply quoting with '> '", "了解\r\n\r\n" + quoted, {}},
      {"key above the quote", "録画開始\r\n2026/12/07 Quorvel wrote:\r\n" + quoted, {9}},
      {"blanks before the mark", " \t>録画開始\r\n　＞検知停止\r\nモニタ停止", {21}},
      {"unquoted own reply", "VT起動\r\n" + ownReply, {1, 26}},
      {"separator after blanks", "回転\r\n  == コマンド 一覧 ==\r\nVT終了", {24}},
      {"Outlook original", "スナップ返信\r\n-----Original Message-----\r\nVT終了", {7}},
      {"spaced original", "----- Original Message -----\r\nVT終了", {}},
      {"Japanese original", "キー返信\n-----元のメッセージ-----\nPCシャットダウン 検知停止", {26}},
      {"mark inside a line", "a > VT終了", {2}},
  };
  for (const Case& c : cases) {
    std::vector<int> got;
    for (const auto& f : find(s, c.body)) got.push_back(f.action);
    EXPECT_EQ(got, c.actions) << c.name;
  }
  // Without the rule the phone reply would run every key of the list twice.
  EXPECT_EQ(find(s, ownReply).size(), 1u);
}

TEST(FindCommands, AThousandKeys) {
  config::AppSettings s = defaults();
  std::string body;
  for (int i = 0; i < 1000; ++i) body += "回転 ";
  auto found = find(s, body);
  ASSERT_EQ(found.size(), 1000u);
  EXPECT_EQ(found.back().position, 999 * 5 + 4);
}

}  // namespace
