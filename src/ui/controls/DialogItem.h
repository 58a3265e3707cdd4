// A thin typed wrapper over one control of a dialog, addressed by its id:
// Shift_JIS texts in and out, check boxes, enabling, edit limits.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "platform/Text.h"

namespace ui {

class DialogItem {
 public:
  DialogItem(HWND dialog, int id) : window_(GetDlgItem(dialog, id)) {}

  HWND window() const { return window_; }
  void setText(const std::string& sjis) { SetWindowTextW(window_, platform::toWide(sjis.c_str()).c_str()); }
  std::string text() const {
    int length = GetWindowTextLengthW(window_);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window_, buffer.data(), length + 1);
    return platform::fromWide(buffer.data());
  }
  bool checked() const { return SendMessageW(window_, BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void setChecked(bool on) { SendMessageW(window_, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }
  void enable(bool on) { EnableWindow(window_, on ? TRUE : FALSE); }
  // At most `characters` characters can be typed into an edit control.
  void limitText(size_t characters) { SendMessageW(window_, EM_LIMITTEXT, characters, 0); }

 private:
  HWND window_;
};

}  // namespace ui
