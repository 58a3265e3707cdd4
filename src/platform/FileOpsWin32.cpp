#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/FileOps.h"
#include "platform/Text.h"

namespace platform {

bool moveToRecycleBin(const char* path, void* owner) {
  std::wstring list = toWide(path);
  list.push_back(L'\0');  // the list ends with a second NUL
  SHFILEOPSTRUCTW op = {};
  op.hwnd = static_cast<HWND>(owner);
  op.wFunc = FO_DELETE;
  op.pFrom = list.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;  // 0x454
  return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

bool truncateFile(const char* path, int64_t size) {
  if (size < 0) return false;
  HANDLE h = CreateFileW(toWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = size;
  bool ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h) && FlushFileBuffers(h);
  CloseHandle(h);
  return ok;
}

bool moveFileReplacing(const char* from, const char* to) {
  return MoveFileExW(toWide(from).c_str(), toWide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0;
}

bool deleteFileExplained(const char* path, std::string* errorText) {
  if (DeleteFileW(toWide(path).c_str())) return true;
  DWORD error = GetLastError();
  if (errorText) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    *errorText = n && text ? fromWide(text) : "Error " + std::to_string(error);
    if (text) LocalFree(text);
    while (!errorText->empty() && (errorText->back() == '\n' || errorText->back() == '\r'))
      errorText->pop_back();
  }
  return false;
}

std::vector<std::string> filesInFolder(const char* folder, const char* prefix, const char* suffix) {
  std::vector<std::string> names;
  std::string pattern = std::string(folder) + "\\" + prefix + "*" + suffix;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(toWide(pattern.c_str()).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  std::string tail = suffix;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::string name = fromWide(found.cFileName);
    // The pattern also matches short 8.3 names.
    if (name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0)
      names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

}  // namespace platform
