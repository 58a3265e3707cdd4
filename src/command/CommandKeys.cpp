#include "command/CommandKeys.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/Text.h"

namespace command {

const CommandKeyRow CommandKeyTable[kActionCount] = {
    {CameraStart, "Vistrelを起動", false},
    {CameraExit, "Vistrelを終了", false},
    {CameraMinimize, "Vistrelを最小化", false},
    {CameraMaximize, "Vistrelを最大化", false},
    {CameraNormal, "Vistrelを通常表示", false},
    {SnapshotSave, "スナップする", false},
    {SnapshotReply, "スナップ画像を返信", false},
    {RecordingReply, "録画ファイルを返信", false},
    {RecordingStart, "録画を開始", false},
    {RecordingStop, "録画を停止", false},
    {DetectionStart, "検知を開始", false},
    {DetectionStop, "検知を停止", false},
    {AlertMailOn, "アラートメールON", false},
    {AlertMailOff, "アラートメールOFF", false},
    {AlertRecipient, "アラートメール送信先(*)", true},
    {DateDisplayOn, "日時表示ON", false},
    {DateDisplayOff, "日時表示OFF", false},
    {TimerStart, "タイマ処理を開始", false},
    {TimerStop, "タイマ処理を停止", false},
    {MonitorStart, "モニタを開始", false},
    {MonitorStop, "モニタを停止", false},
    {ScreenReply, "PC画面を返信", false},
    {ReplyImageWidth, "返信画像の画像幅(*)", true},
    {RotateReplyImage, "返信画像を90度回転", false},
    {PcShutdown, "PCシャットダウンを実行", false},
    {KeyListReply, "コマンド・キー名定義を返信", false},
};

void extractArgument(const char* cursor, const char* end, char* out) {
  std::memset(out, 0, kArgumentSize);
  if (cursor >= end || *cursor != '"') return;
  // Source index i = 1 … 80: at most 79 value bytes and the closing quote.
  for (size_t i = 1; i <= kArgumentSize && cursor + i < end; ++i) {
    char c = cursor[i];
    if (c == '\0' || c == '\r' || c == '\n') break;  // a value stays on its line
    if (c == '"') {
      std::memcpy(out, cursor + 1, i - 1);
      return;
    }
  }
}

namespace {

// Lines that open a quoted earlier mail: everything from them on is quoted.
constexpr std::string_view kQuoteOpeners[] = {
    "------ 処理結果 ------", "== コマンド 一覧 ==", "-----Original Message-----",
    "----- Original Message -----", "-----元のメッセージ-----",
};
constexpr std::string_view kFullWidthBlank = "　";
constexpr std::string_view kFullWidthQuote = "＞";

std::string_view withoutLeadingBlanks(std::string_view line) {
  for (;;) {
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      line.remove_prefix(1);
    } else if (line.substr(0, kFullWidthBlank.size()) == kFullWidthBlank) {
      line.remove_prefix(kFullWidthBlank.size());
    } else {
      return line;
    }
  }
}

}  // namespace

std::vector<std::pair<size_t, size_t>> commandSpans(std::string_view body) {
  std::vector<std::pair<size_t, size_t>> spans;
  size_t start = 0;
  while (start < body.size()) {
    size_t newline = body.find('\n', start);
    size_t end = newline == std::string_view::npos ? body.size() : newline + 1;
    std::string_view line = withoutLeadingBlanks(body.substr(start, end - start));
    for (std::string_view opener : kQuoteOpeners)
      if (line.substr(0, opener.size()) == opener) return spans;
    bool quoted = (!line.empty() && line[0] == '>') || line.substr(0, kFullWidthQuote.size()) == kFullWidthQuote;
    if (!quoted) {
      if (!spans.empty() && spans.back().second == start) spans.back().second = end;
      else spans.emplace_back(start, end);
    }
    start = end;
  }
  return spans;
}

std::vector<FoundCommand> findCommands(const config::AppSettings& settings, const char* text, size_t length) {
  std::vector<FoundCommand> found;
  if (!text) return found;
  const void* nul = std::memchr(text, 0, length);
  std::string_view body(text, nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length);
  const std::vector<std::pair<size_t, size_t>> spans = commandSpans(body);
  for (const CommandKeyRow& row : CommandKeyTable) {
    const char* slot = settings.commandKeyNames[row.action - 1];
    std::string_view key(slot, platform::fieldLength(slot, kKeyNameSize));
    if (key.empty()) continue;
    for (const auto& [begin, end] : spans) {
      // Within the span; occurrences of one key never overlap.
      std::string_view span = body.substr(0, end);
      for (size_t cursor = begin;;) {
        size_t at = span.find(key, cursor);
        if (at == std::string_view::npos) break;
        cursor = at + key.size();
        if (cursor > INT32_MAX) break;
        FoundCommand command{};
        command.position = static_cast<int32_t>(cursor);
        command.action = row.action;
        platform::copyField(command.keyName, sizeof command.keyName, key.data(), key.size());
        if (row.takesArgument) extractArgument(body.data() + cursor, body.data() + body.size(), command.argument);
        found.push_back(command);
      }
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const FoundCommand& a, const FoundCommand& b) { return a.position < b.position; });
  return found;
}

}  // namespace command
