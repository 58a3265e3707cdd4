#include "ui/WindowObject.h"

namespace ui {
namespace {
const wchar_t kProperty[] = L"XXX_CLASS";
}

LRESULT WindowObject::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (replacedProc_) return CallWindowProcW(replacedProc_, window, message, wParam, lParam);
  if (isDialog_) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

void WindowObject::bind(HWND window) {
  window_ = window;
  SetPropW(window, kProperty, this);
  isDialog_ = GetWindowLongPtrW(window, DWLP_DLGPROC) != 0;
  if (isDialog_) {
    auto current = reinterpret_cast<DLGPROC>(GetWindowLongPtrW(window, DWLP_DLGPROC));
    if (current != sharedDialogProc) {
      replacedDialogProc_ = current;
      SetWindowLongPtrW(window, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(sharedDialogProc));
    }
  } else {
    auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    if (current != sharedWindowProc) {
      replacedProc_ = current;
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(sharedWindowProc));
    }
  }
}

void WindowObject::unbind() {
  if (!window_) return;
  if (replacedProc_)
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(replacedProc_));
  if (replacedDialogProc_)
    SetWindowLongPtrW(window_, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(replacedDialogProc_));
  RemovePropW(window_, kProperty);
  replacedProc_ = nullptr;
  replacedDialogProc_ = nullptr;
  window_ = nullptr;
}

LRESULT WindowObject::dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool dialog) {
  auto* object = static_cast<WindowObject*>(GetPropW(window, kProperty));
  if (!object) {
    WindowObject* given = nullptr;
    if (message == WM_NCCREATE)
      given = static_cast<WindowObject*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    else if (message == WM_INITDIALOG)
      given = reinterpret_cast<WindowObject*>(lParam);
    if (!given) return dialog ? 0 : DefWindowProcW(window, message, wParam, lParam);
    given->bind(window);
    object = given;
  }
  LRESULT result = object->handleMessage(window, message, wParam, lParam);
  if (message == WM_DESTROY) object->unbind();
  return result;
}

LRESULT CALLBACK WindowObject::sharedWindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  return dispatch(window, message, wParam, lParam, false);
}

INT_PTR CALLBACK WindowObject::sharedDialogProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  return dispatch(window, message, wParam, lParam, true);
}

HWND WindowObject::createWindow(DWORD exStyle, const wchar_t* className, const wchar_t* title,
                               DWORD style, int x, int y, int width, int height, HWND parent,
                               HINSTANCE instance) {
  return CreateWindowExW(exStyle, className, title, style, x, y, width, height, parent, nullptr,
                         instance, this);
}

INT_PTR WindowObject::runModal(HINSTANCE instance, int templateId, HWND owner) {
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), owner, sharedDialogProc,
                         reinterpret_cast<LPARAM>(this));
}

}  // namespace ui
