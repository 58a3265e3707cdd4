#include "ui/DropFiles.h"

#include <cstdint>
#include <cstring>

namespace ui {

std::string dropFilesBlock(const std::string& sjisPath) {
  std::string block(kDropFilesHeaderSize, '\0');
  const uint32_t offset = kDropFilesHeaderSize;  // little-endian, as every Windows target
  std::memcpy(&block[0], &offset, sizeof offset);
  block += sjisPath.substr(0, sjisPath.find('\0'));
  block.append(2, '\0');
  return block;
}

}  // namespace ui
