// The 26 command functions, their key names, and the search for the keys in
// the body of a command mail.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "config/AppSettings.h"

namespace command {

// The action numbers. Action n takes string-table text n as its default key
// name and slot n-1 of AppSettings::commandKeyNames as its key.
enum CommandAction : int32_t {
  CameraStart = 1,
  CameraExit = 2,
  CameraMinimize = 3,
  CameraMaximize = 4,
  CameraNormal = 5,
  SnapshotSave = 6,
  SnapshotReply = 7,
  RecordingReply = 8,
  RecordingStart = 9,
  RecordingStop = 10,
  DetectionStart = 11,
  DetectionStop = 12,
  AlertMailOn = 13,
  AlertMailOff = 14,
  AlertRecipient = 15,
  DateDisplayOn = 16,
  DateDisplayOff = 17,
  TimerStart = 18,
  TimerStop = 19,
  MonitorStart = 20,
  MonitorStop = 21,
  ScreenReply = 22,
  ReplyImageWidth = 23,
  RotateReplyImage = 24,
  PcShutdown = 25,
  KeyListReply = 26,
};

constexpr int kActionCount = config::kCommandKeyCount;
constexpr size_t kKeyNameSize = 80;
constexpr size_t kArgumentSize = 80;

// One row of the command-key table.
struct CommandKeyRow {
  CommandAction action;
  const char* label;  // the command-key dialog's text for the function
  bool takesArgument;  // a double-quoted value follows the key
};

// The 26 rows in action order (row n-1 is action n).
extern const CommandKeyRow CommandKeyTable[kActionCount];

// One occurrence of a key in a command mail.
struct FoundCommand {
  int32_t position;  // offset of the first byte after the key in the body
  int32_t action;    // CommandAction
  char keyName[kKeyNameSize];
  char argument[kArgumentSize];  // the quoted value, or empty
};

// Reads the quoted value that directly follows a key: `cursor` is the first
// byte after the key, `end` the end of the text. `out` (80 bytes) gets the
// bytes between the opening and the closing quote, at most 79; it stays
// empty when the cursor is not at a quote, when no closing quote comes within
// 80 bytes, or when the line or the text ends first.
void extractArgument(const char* cursor, const char* end, char* out);

// The spans [begin, end) of a body in which keys count: its lines up to the
// first line that opens a quoted reply (the separators of Quorvel's own
// reply and key list, or a mailer's "Original Message" line), leaving out
// every line quoted with ">" or "＞" after optional blanks. A reply that
// quotes a command mail or a key list so runs none of the quoted keys.
std::vector<std::pair<size_t, size_t>> commandSpans(std::string_view body);

// Finds every occurrence of every configured key in the command spans of
// the text (up to its first NUL or `length` bytes) and returns them sorted
// by position; two occurrences that end at the same byte keep table order.
// Empty keys are never found.
std::vector<FoundCommand> findCommands(const config::AppSettings& settings, const char* text, size_t length);

}  // namespace command
