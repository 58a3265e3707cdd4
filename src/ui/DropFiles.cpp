#include "ui/DropFiles.h"

#include <cstdint>

namespace ui {
namespace {

void putLittleEndian(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string dropFilesBlock(const std::u16string& path) {
  std::string block;
  putLittleEndian(block, kDropFilesHeaderSize, 4);  // pFiles
  putLittleEndian(block, 0, 4);                     // pt.x
  putLittleEndian(block, 0, 4);                     // pt.y
  putLittleEndian(block, 0, 4);                     // fNC
  putLittleEndian(block, 1, 4);                     // fWide
  for (char16_t c : path.substr(0, path.find(u'\0'))) putLittleEndian(block, c, 2);
  block.append(4, '\0');
  return block;
}

}  // namespace ui
