// The demo camera: a small window of the class Quorvel looks for, which
// answers the command messages as the camera program must. It has no camera:
// its "picture" is a test card (four coloured quarters, so a turned picture
// shows which way it was turned, and the snapshot number).
//
//   WM_USER+100, wParam 101  writes snap.jpg (the reply snapshot) in the
//                            working folder; 100 keeps one in snapshots\.
//   WM_USER+100, 103 / 104   starts / ends a recording: on the end the clip
//                            democam-sample.wmv of the working folder, if
//                            there is one, is copied into the recordings
//                            folder as recNNNN.wmv.
//   WM_COPYDATA 102 / 109    the reply picture width / the alert recipient.
//   WM_SYSCOMMAND            minimise, maximise, restore (as any window).
//   WM_DESTROY               ends the program.
//
// Its settings file (Vistrel.ini, or Vistrel<NAME>.ini when started with
// NAME as argument) holds the recordings folder at byte 21; it is written
// with the folder "recordings" of the working folder when it is missing.
// Every message of that list is appended to democam.log as one line:
// "<milliseconds since 1970> <message> [<code> [<text>]]".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CameraState.h"
#include "image/JpegCodec.h"
#include "platform/Text.h"

namespace {

constexpr wchar_t kClassName[] = L"VIS_TREL_TORVANEX_BELIK";
constexpr char kLogFile[] = "democam.log";
constexpr char kSnapshotFile[] = "snap.jpg";
constexpr char kSampleClip[] = "democam-sample.wmv";
constexpr int kPreviewWidth = 320, kPreviewHeight = 240;

struct Camera {
  democam::Switches switches;
  std::string settingsFile;
  std::string recordingsFolder;
  std::string lastReceived = "まだ何も受けていません";
  int received = 0;
  int snapshots = 0;
  int recordings = 0;
};
Camera gCamera;

// ---- files ------------------------------------------------------------------

long long unixMilliseconds() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  return static_cast<long long>(t.QuadPart / 10000ULL) - 11644473600000LL;
}

void appendLog(const std::string& line) {
  HANDLE f = CreateFileA(kLogFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  std::string text = std::to_string(unixMilliseconds()) + " " + line + "\r\n";
  DWORD written = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
}

std::string workingFolder() {
  char path[MAX_PATH] = {};
  DWORD n = GetCurrentDirectoryA(MAX_PATH, path);
  return n > 0 && n < MAX_PATH ? std::string(path) : std::string(".");
}

// Reads the recordings folder from the settings file; writes the file first
// when it is missing or too short to hold one.
void loadSettings(const std::string& cameraName) {
  gCamera.settingsFile = democam::settingsFileName(cameraName);
  democam::SettingsFile record{};
  bool valid = false;
  if (FILE* f = std::fopen(gCamera.settingsFile.c_str(), "rb")) {
    size_t n = std::fread(&record, 1, sizeof record, f);
    std::fclose(f);
    valid = n > 21 && std::memchr(record.recordingsFolder, '\0', n - 21) != nullptr &&
            record.recordingsFolder[0] != '\0';
  }
  if (!valid) {
    record = democam::SettingsFile{};
    std::memcpy(record.signature, democam::kSignature, sizeof record.signature);
    platform::copyField(record.recordingsFolder, (workingFolder() + "\\recordings").c_str());
    if (FILE* f = std::fopen(gCamera.settingsFile.c_str(), "wb")) {
      std::fwrite(&record, 1, sizeof record, f);
      std::fclose(f);
    }
  }
  gCamera.recordingsFolder = record.recordingsFolder;
  CreateDirectoryA(gCamera.recordingsFolder.c_str(), nullptr);
}

// ---- the picture ------------------------------------------------------------

// The header of a top-down 32-bit picture.
BITMAPINFO topDown32(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

// Draws the test card into a top-down 32-bit DIB section and hands its
// pixels to `use`.
template <class Use>
bool withPicture(int width, int height, const std::string& caption, Use use) {
  BITMAPINFO info = topDown32(width, height);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return false;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  const COLORREF quarters[4] = {RGB(220, 30, 30), RGB(30, 180, 60), RGB(40, 60, 220), RGB(240, 240, 240)};
  for (int q = 0; q < 4; ++q) {
    RECT r{(q % 2) * width / 2, (q / 2) * height / 2, (q % 2 + 1) * width / 2, (q / 2 + 1) * height / 2};
    HBRUSH brush = CreateSolidBrush(quarters[q]);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
  }
  RECT band{0, height * 2 / 5, width, height * 3 / 5};
  FillRect(dc, &band, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  HFONT font = CreateFontW(-std::max(9, std::min(height / 14, width / 28)), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                           0, 0, L"MS UI Gothic");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 0));
  std::wstring text = platform::toWide(caption.c_str());
  DrawTextW(dc, text.c_str(), -1, &band, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, oldFont);
  DeleteObject(font);
  GdiFlush();
  bool ok = use(static_cast<const uint32_t*>(bits));
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
  return ok;
}

std::string pictureCaption(int number) {
  std::string caption = "Vistrel demo #" + std::to_string(number);
  if (gCamera.switches.dateDisplay) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char when[32];
    std::snprintf(when, sizeof when, "  %04u/%02u/%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    caption += when;
  }
  return caption;
}

bool renameOver(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

// Writes a snapshot as a JPEG file (through a temporary file, so a reader
// never sees half a picture).
bool writeSnapshot(const std::string& path) {
  int width = gCamera.switches.replyWidth, height = width * 3 / 4;
  int number = ++gCamera.snapshots;
  return withPicture(width, height, pictureCaption(number), [&](const uint32_t* pixels) {
    std::vector<uint8_t> stream;
    return image::jpeg::encode(pixels, width, width, height, 90, &stream) &&
           image::jpeg::writeStream(path.c_str(), stream, renameOver);
  });
}

void endRecording() {
  if (GetFileAttributesA(kSampleClip) == INVALID_FILE_ATTRIBUTES) {
    appendLog("NOTE no " + std::string(kSampleClip) + ": no recording written");
    return;
  }
  char name[32];
  std::snprintf(name, sizeof name, "\\rec%04d.wmv", ++gCamera.recordings);
  std::string target = gCamera.recordingsFolder + name;
  if (!CopyFileA(kSampleClip, target.c_str(), FALSE)) appendLog("NOTE recording not written: " + target);
}

// ---- the window -------------------------------------------------------------

void received(HWND window, const std::string& line, const std::string& shown) {
  appendLog(line);
  ++gCamera.received;
  gCamera.lastReceived = shown;
  InvalidateRect(window, nullptr, TRUE);
}

void onCommandCode(HWND window, unsigned code) {
  const char* name = democam::commandName(code);
  received(window, "WM_USER+100 " + std::to_string(code),
           std::to_string(code) + " " + (name ? name : "(不明なコード)"));
  democam::Switches before = gCamera.switches;
  democam::applyCode(gCamera.switches, code);
  if (code == 101) {
    if (!writeSnapshot(kSnapshotFile)) appendLog("NOTE snap.jpg not written");
  } else if (code == 100) {
    CreateDirectoryA("snapshots", nullptr);
    char name[40];
    std::snprintf(name, sizeof name, "snapshots\\snap%04d.jpg", gCamera.snapshots + 1);
    if (!writeSnapshot(name)) appendLog(std::string("NOTE not written: ") + name);
  } else if (code == 104 && before.recording) {
    endRecording();
  }
}

void onCopyData(HWND window, const COPYDATASTRUCT* data) {
  std::string text = data->lpData ? democam::printableText(static_cast<const char*>(data->lpData), data->cbData)
                                  : std::string();
  std::string line = "WM_COPYDATA " + std::to_string(data->dwData) + " " + text;
  if (data->dwData == democam::kCodeWidth) {
    gCamera.switches.replyWidth = democam::parseWidth(text, gCamera.switches.replyWidth);
    received(window, line, "102 返信画像幅 " + text);
  } else if (data->dwData == democam::kCodeAlertRecipient) {
    gCamera.switches.alertRecipient = text;
    received(window, line, "109 アラート送信先 " + text);
  } else {
    received(window, line, std::to_string(data->dwData) + " (不明なコード)");
  }
}

const char* sysCommandName(WPARAM command) {
  switch (command & 0xFFF0) {
    case SC_MINIMIZE: return "最小化";
    case SC_MAXIMIZE: return "最大化";
    case SC_RESTORE: return "通常表示";
    case SC_CLOSE: return "閉じる";
    default: return nullptr;
  }
}

void onPaint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  withPicture(kPreviewWidth, kPreviewHeight, pictureCaption(gCamera.snapshots), [&](const uint32_t* pixels) {
    BITMAPINFO info = topDown32(kPreviewWidth, kPreviewHeight);
    SetDIBitsToDevice(dc, 8, 8, kPreviewWidth, kPreviewHeight, 0, 0, 0, kPreviewHeight, pixels, &info,
                      DIB_RGB_COLORS);
    return true;
  });
  const democam::Switches& s = gCamera.switches;
  auto onOff = [](bool on) { return on ? "ON" : "OFF"; };
  std::string lines[] = {
      "最後に受けた指令: " + gCamera.lastReceived,
      "受けた指令の数: " + std::to_string(gCamera.received) + "   スナップ: " +
          std::to_string(gCamera.snapshots),
      std::string("録画 ") + onOff(s.recording) + "  検知 " + onOff(s.detection) + "  アラートメール " +
          onOff(s.alertMail),
      std::string("日時表示 ") + onOff(s.dateDisplay) + "  タイマ " + onOff(s.timer) + "  モニタ " +
          onOff(s.monitor),
      "返信画像幅: " + std::to_string(s.replyWidth) + "   送信先: " + s.alertRecipient,
      "録画フォルダ: " + gCamera.recordingsFolder,
  };
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  int y = kPreviewHeight + 16;
  for (const std::string& line : lines) {
    std::wstring text = platform::toWide(line.c_str());
    TextOutW(dc, 8, y, text.c_str(), static_cast<int>(text.size()));
    y += 18;
  }
  SelectObject(dc, oldFont);
  EndPaint(window, &ps);
}

LRESULT CALLBACK windowProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case democam::kCommandMessage:
      onCommandCode(window, static_cast<unsigned>(wp));
      return 0;
    case WM_COPYDATA:
      onCopyData(window, reinterpret_cast<const COPYDATASTRUCT*>(lp));
      return TRUE;
    case WM_SYSCOMMAND:
      if (const char* name = sysCommandName(wp)) {
        char code[8];
        std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(wp & 0xFFF0));
        received(window, std::string("WM_SYSCOMMAND ") + code, std::string("WM_SYSCOMMAND ") + name);
      }
      break;
    case WM_PAINT:
      onPaint(window);
      return 0;
    case WM_DESTROY:
      appendLog("WM_DESTROY");
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show) {
  std::string cameraName = commandLine ? platform::fromWide(commandLine) : std::string();
  while (!cameraName.empty() && (cameraName.back() == ' ' || cameraName.back() == '"')) cameraName.pop_back();
  while (!cameraName.empty() && (cameraName.front() == ' ' || cameraName.front() == '"')) cameraName.erase(0, 1);
  loadSettings(cameraName);

  WNDCLASSW wc{};
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  if (!RegisterClassW(&wc)) return 1;

  // Top right of the screen, beside the main window of Quorvel.
  RECT frame{0, 0, kPreviewWidth + 20, kPreviewHeight + 16 + 6 * 18 + 8};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  int x = std::max(0, GetSystemMetrics(SM_CXSCREEN) - width - 8);
  std::wstring title = platform::toWide("Vistrel デモカメラ");
  HWND window = CreateWindowExW(0, kClassName, title.c_str(), WS_OVERLAPPEDWINDOW, x, 8, width, height,
                                nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  appendLog("START " + gCamera.settingsFile + " " + gCamera.recordingsFolder);
  ShowWindow(window, show == SW_HIDE ? SW_SHOWNORMAL : show);
  UpdateWindow(window);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
