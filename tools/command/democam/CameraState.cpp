#include "CameraState.h"

#include <cstdio>
#include <cstdlib>

namespace democam {

std::string settingsFileName(const std::string& cameraName) {
  return "Vistrel" + cameraName + ".ini";
}

const char* commandName(unsigned code) {
  switch (code) {
    case 100: return "スナップ(保存)";
    case 101: return "スナップ(返信)";
    case 103: return "録画開始";
    case 104: return "録画停止";
    case 105: return "検知開始";
    case 106: return "検知停止";
    case 107: return "アラートメールON";
    case 108: return "アラートメールOFF";
    case 110: return "日時表示ON";
    case 111: return "日時表示OFF";
    case 112: return "タイマ処理開始";
    case 113: return "タイマ処理停止";
    case 114: return "モニタ開始";
    case 115: return "モニタ停止";
    default: return nullptr;
  }
}

std::string printableText(const char* data, size_t size) {
  std::string out;
  for (size_t i = 0; i < size && data[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool applyCode(Switches& s, unsigned code) {
  switch (code) {
    case 100: case 101: return true;  // snapshots: done by the window
    case 103: s.recording = true; return true;
    case 104: s.recording = false; return true;
    case 105: s.detection = true; return true;
    case 106: s.detection = false; return true;
    case 107: s.alertMail = true; return true;
    case 108: s.alertMail = false; return true;
    case 110: s.dateDisplay = true; return true;
    case 111: s.dateDisplay = false; return true;
    case 112: s.timer = true; return true;
    case 113: s.timer = false; return true;
    case 114: s.monitor = true; return true;
    case 115: s.monitor = false; return true;
    default: return false;
  }
}

int parseWidth(const std::string& text, int current) {
  const char* p = text.c_str();
  char* end = nullptr;
  long value = std::strtol(p, &end, 10);
  if (end == p || value < 16 || value > 4000) return current;
  return static_cast<int>(value);
}

}  // namespace democam
