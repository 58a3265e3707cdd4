#include "sendlib/Attachment.h"

#include <cstdint>
#include <cstdio>
#include <new>

#include "platform/File.h"
#include "platform/Sjis.h"
#include "sendlib/Base64.h"

namespace sendlib {
namespace {

const size_t kNameWidth = 256;

}  // namespace

std::string attachmentName(const std::string& path) {
  // Walk by characters: the second byte of a double-byte character may be '\'.
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (platform::isSjisLeadByte(c) && i + 1 < path.size()) {
      ++i;
    } else if (c == '\\' || c == '/' || c == ':') {
      start = i + 1;
    }
  }
  std::string name = path.substr(start);
  name.resize(platform::sjisCutLength(name.data(), name.size(), kNameWidth - 1));
  return name;
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
    text->reserve(base64Length(data.size()));
  } catch (const std::exception&) {
    log.write("添付ファイル変換用バッファ作成失敗");
    return false;
  }
  base64Encode(data.data(), data.size(), text);
  return true;
}

}  // namespace sendlib
