// Files named by Shift_JIS paths. On Windows they go through the wide API;
// elsewhere they are converted to UTF-8 and '\' becomes '/'.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace platform {

// A FILE* that closes itself.
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// fopen with a Shift_JIS path; mode as for fopen ("rb", "wb", "ab", "a", …).
FILE* openFile(const char* path, const char* mode);
inline UniqueFile openUniqueFile(const char* path, const char* mode) { return UniqueFile(openFile(path, mode)); }
// Closes the file and reports whether every write reached it.
bool closeFile(UniqueFile& file);
// Writes the file's buffered bytes and makes them durable (fsync,
// FlushFileBuffers) before it returns.
bool flushToDisk(FILE* file);
bool fileExists(const char* path);
bool isDirectory(const char* path);
// Size in bytes, or -1 when the file cannot be examined.
int64_t fileSize(const char* path);
bool removeFile(const char* path);
// Replaces `to` by `from` in one atomic step, flushed to disk.
bool replaceFile(const char* from, const char* to);
bool makeDirectory(const char* path);
// Marks a file as downloaded from the internet (the Mark-of-the-Web: the
// stream "<path>:Zone.Identifier" holding "[ZoneTransfer]" and "ZoneId=3"),
// so that Windows warns before running it and documents open in protected
// view. Only on volumes that keep alternate data streams; elsewhere (FAT,
// Wine's drives, POSIX) nothing is written. True when the mark was written.
bool markFromInternet(const char* path);

// Whole-file helpers for small files.
bool readWholeFile(const char* path, std::string* data);
bool writeWholeFile(const char* path, const std::string& data);

// The process's current directory as a Shift_JIS path (no trailing separator).
std::string currentDirectory();
bool setCurrentDirectory(const char* path);

// The temporary folder, ending with a separator.
std::string tempFolder();
// The computer's name.
std::string computerName();

// Native form of a Shift_JIS path (UTF-8 with '/' on POSIX; unchanged on Windows).
std::string nativePath(const char* path);

}  // namespace platform
