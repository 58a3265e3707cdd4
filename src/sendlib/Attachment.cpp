#include "sendlib/Attachment.h"

#include <cstdint>
#include <cstdio>
#include <new>

#include "platform/Base64.h"
#include "platform/File.h"
#include "platform/Sjis.h"

namespace sendlib {
namespace {

const size_t kNameWidth = 256;

// The file name and extension, without drive or folder. Walks by characters:
// the second byte of a double-byte character may be '\'.
std::string fileNamePart(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (platform::isSjisLeadByte(c) && i + 1 < path.size()) {
      ++i;
    } else if (c == '\\' || c == '/' || c == ':') {
      start = i + 1;
    }
  }
  return path.substr(start);
}

// Cuts a name to at most `width` bytes without splitting a character.
std::string cutName(const std::string& name, size_t width) {
  return name.substr(0, platform::sjisCutLength(name.data(), name.size(), width));
}

}  // namespace

std::string attachmentName(const std::string& path) {
  return cutName(fileNamePart(path), kNameWidth - 1);
}

std::string pictureAttachmentName(const std::string& path) {
  static const char kJpg[] = ".jpg";
  std::string name = fileNamePart(path);
  size_t dot = name.rfind('.');  // never a second byte: those are 0x40 and above
  if (dot != std::string::npos) name.resize(dot);
  return cutName(name, kNameWidth - sizeof kJpg) + kJpg;
}

std::string lowerExtension(const std::string& path) {
  std::string name = fileNamePart(path);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return std::string();
  std::string extension = name.substr(dot);
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return extension;
}

bool prepareAttachment(const std::string& path, SendLog& log, std::string* text) {
  int64_t size = platform::fileSize(path.c_str());
  if (size <= 0) {
    log.write(path + " " + std::to_string(size < 0 ? 0 : size));
    log.write("添付ファイルサイズ異常");
    return false;
  }
  std::string data;
  try {
    data.resize(static_cast<size_t>(size));
  } catch (const std::exception&) {
    return false;
  }
  FILE* f = platform::openFile(path.c_str(), "rb");
  if (!f) return false;
  size_t got = std::fread(&data[0], 1, data.size(), f);
  std::fclose(f);
  // A file that shrank while being read is not sent half-filled.
  if (got != data.size()) return false;
  try {
    text->clear();
    text->reserve(platform::base64Length(data.size()));
  } catch (const std::exception&) {
    log.write("添付ファイル変換用バッファ作成失敗");
    return false;
  }
  platform::base64Encode(data.data(), data.size(), text);
  return true;
}

}  // namespace sendlib
