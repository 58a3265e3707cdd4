// What the demo camera knows apart from its window: its settings file, the
// names of the command codes it understands, and the lines of its log.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace democam {

constexpr unsigned kCommandMessage = 0x400 + 100;  // WM_USER+100, wParam = code
constexpr unsigned kCodeWidth = 102;               // WM_COPYDATA dwData: reply image width
constexpr unsigned kCodeAlertRecipient = 109;      // WM_COPYDATA dwData: alert mail address

// The settings file: 21 bytes of signature, then the recordings folder as a
// NUL-terminated path (what Quorvel reads at byte 21).
#pragma pack(push, 1)
struct SettingsFile {
  char signature[21];
  char recordingsFolder[260];
};
#pragma pack(pop)
static_assert(sizeof(SettingsFile) == 281, "settings file size");
static_assert(offsetof(SettingsFile, recordingsFolder) == 21, "recordings folder at byte 21");
constexpr char kSignature[] = "DEMOCAM SETTINGS 0001";
static_assert(sizeof(kSignature) == 22, "signature fills 21 bytes");

// "Vistrel.ini", or "Vistrel" + name + ".ini" for a named camera.
std::string settingsFileName(const std::string& cameraName);

// The Japanese name of a WM_USER+100 code, or nullptr for an unknown code.
const char* commandName(unsigned code);

// Text received by WM_COPYDATA as the log shows it: cut at the first NUL,
// control bytes and backslashes written as \xNN so a line stays one line.
std::string printableText(const char* data, size_t size);

// The state the window shows: the switches the codes turn on and off.
struct Switches {
  bool recording = false;
  bool detection = false;
  bool alertMail = false;
  bool dateDisplay = true;
  bool timer = false;
  bool monitor = true;
  int replyWidth = 640;  // width of the snapshots for the reply
  std::string alertRecipient;
};

// Applies a WM_USER+100 code to the switches; false for an unknown code.
bool applyCode(Switches& switches, unsigned code);

// Reads a width the way a sender writes it ("400", " 320"); keeps the old
// width for anything that is not a number from 16 to 4000.
int parseWidth(const std::string& text, int current);

}  // namespace democam
