#include <windows.h>
#include <io.h>

#include <string>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Text.h"

namespace platform {

std::string nativePath(const char* path) { return path ? path : ""; }

FILE* openFile(const char* path, const char* mode) {
  return _wfopen(toWide(path).c_str(), toWide(mode).c_str());
}

bool fileExists(const char* path) {
  DWORD a = GetFileAttributesW(toWide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool isDirectory(const char* path) {
  DWORD a = GetFileAttributesW(toWide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

int64_t fileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(toWide(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool flushToDisk(FILE* file) {
  if (!file || std::fflush(file) != 0) return false;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

bool removeFile(const char* path) { return DeleteFileW(toWide(path).c_str()) != 0; }

bool replaceFile(const char* from, const char* to) {
  return MoveFileExW(toWide(from).c_str(), toWide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool makeDirectory(const char* path) { return CreateDirectoryW(toWide(path).c_str(), nullptr) != 0; }

bool markFromInternet(const char* path) {
  // Where ":" is an ordinary name byte (Wine's drives), the stream would be
  // a second file that outlives the first: ask the volume first.
  std::wstring wide = toWide(path);
  HANDLE file = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD flags = 0;
  bool streams = GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
                 (flags & FILE_NAMED_STREAMS);
  CloseHandle(file);
  if (!streams) return false;
  HANDLE zone = CreateFileW((wide + L":Zone.Identifier").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (zone == INVALID_HANDLE_VALUE) return false;
  static const char kZone[] = "[ZoneTransfer]\r\nZoneId=3\r\n";
  DWORD written = 0;
  bool ok = WriteFile(zone, kZone, sizeof kZone - 1, &written, nullptr) && written == sizeof kZone - 1;
  return CloseHandle(zone) && ok;
}

std::string currentDirectory() {
  wchar_t buf[MAX_PATH * 2];
  DWORD n = GetCurrentDirectoryW(MAX_PATH * 2, buf);
  if (n == 0 || n >= MAX_PATH * 2) return ".";
  return fromWide(buf);
}

bool setCurrentDirectory(const char* path) {
  return SetCurrentDirectoryW(toWide(path).c_str()) != 0;
}

std::string tempFolder() {
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  std::string dir = n ? fromWide(buf) : std::string(".\\");
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir;
}

std::string computerName() {
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(buf, &n) ? fromWide(buf) : std::string();
}

LocalTime localTime() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wDayOfWeek,
                   t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

int utcOffsetMinutes() {
  TIME_ZONE_INFORMATION tz;
  DWORD r = GetTimeZoneInformation(&tz);
  long bias = tz.Bias + (r == TIME_ZONE_ID_DAYLIGHT ? tz.DaylightBias : 0);
  return static_cast<int>(-bias);
}

uint64_t monotonicMs() { return GetTickCount64(); }

void sleepMs(unsigned ms) { Sleep(ms); }

}  // namespace platform
