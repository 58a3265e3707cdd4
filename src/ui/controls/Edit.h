// A thin typed wrapper over an edit control; Shift_JIS texts.
#pragma once
#include <windows.h>

#include <string>

#include "platform/Text.h"

namespace ui {

class Edit {
 public:
  Edit() = default;
  explicit Edit(HWND window) : window_(window) {}

  // Creates an edit child (`style` adds to WS_CHILD); empty when it fails.
  static Edit create(HWND parent, int id, DWORD style, HINSTANCE instance) {
    return Edit(CreateWindowExW(0, L"EDIT", L"", WS_CHILD | style, 0, 0, 0, 0, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                                nullptr));
  }

  HWND window() const { return window_; }
  void setText(const std::string& sjis) { SetWindowTextW(window_, platform::toWide(sjis.c_str()).c_str()); }
  // Lifts the default limit of 32 KB of typed or pasted text.
  void removeLimit() { SendMessageW(window_, EM_LIMITTEXT, 0, 0); }

 private:
  HWND window_ = nullptr;
};

}  // namespace ui
