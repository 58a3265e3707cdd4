#include "command/AttachmentFile.h"

#include <cstdio>

#include "image/JpegAnalyzer.h"
#include "platform/File.h"

namespace command {
namespace {
constexpr int64_t kJpegReadLimit = 64 * 1024 * 1024;
}  // namespace

AttachmentState checkAttachmentFile(const char* path, AttachmentKindOfFile kind) {
  if (!platform::fileExists(path))
    return platform::isDirectory(path) ? AttachmentState::kUnreadable : AttachmentState::kMissing;
  platform::UniqueFile file = platform::openUniqueFile(path, "rb");
  if (!file) return AttachmentState::kUnreadable;
  const int64_t size = platform::fileSize(path);
  if (size < 0) return AttachmentState::kUnreadable;
  if (size == 0) return AttachmentState::kEmpty;
  if (kind == AttachmentKindOfFile::kAnyFile) {
    char first;
    return std::fread(&first, 1, 1, file.get()) == 1 ? AttachmentState::kReady : AttachmentState::kUnreadable;
  }
  if (size > kJpegReadLimit) return AttachmentState::kIncomplete;
  std::string data(static_cast<size_t>(size), '\0');
  if (std::fread(&data[0], 1, data.size(), file.get()) != data.size()) return AttachmentState::kUnreadable;
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  if (data.size() < 4 || bytes[data.size() - 2] != 0xFF || bytes[data.size() - 1] != 0xD9)
    return AttachmentState::kIncomplete;
  image::JpegAnalyzer analyzer;
  if (analyzer.analyse(bytes, data.size()) < 0 || analyzer.flags == 0) return AttachmentState::kIncomplete;
  return AttachmentState::kReady;
}

std::string attachmentFailureLine(const char* what, AttachmentState state) {
  const char* reason = "を添付できませんでした。\n";
  switch (state) {
    case AttachmentState::kEmpty: reason = "が空のため添付できませんでした。\n"; break;
    case AttachmentState::kUnreadable: reason = "を読めないため添付できませんでした。\n"; break;
    case AttachmentState::kIncomplete: reason = "が壊れているため添付できませんでした。\n"; break;
    case AttachmentState::kMissing: reason = "がないため添付できませんでした。\n"; break;
    case AttachmentState::kReady: break;
  }
  return std::string(what) + reason;
}

}  // namespace command
