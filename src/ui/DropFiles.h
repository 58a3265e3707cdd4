// The CF_HDROP block of a dragged file: a DROPFILES header (file list at
// offset 20, point 0/0, not in the client area, narrow names), the path,
// its NUL and the list's closing NUL.
#pragma once
#include <string>

namespace ui {

constexpr size_t kDropFilesHeaderSize = 20;

std::string dropFilesBlock(const std::string& sjisPath);

}  // namespace ui
