// The CF_HDROP block of a dragged file: a DROPFILES header (file list at
// offset 20, point 0/0, not in the client area, wide names), the path in
// UTF-16, its NUL and the list's closing NUL. Wide names keep a Japanese
// path intact on a system whose ANSI code page is not 932.
#pragma once
#include <string>

namespace ui {

constexpr size_t kDropFilesHeaderSize = 20;

std::string dropFilesBlock(const std::u16string& path);

}  // namespace ui
