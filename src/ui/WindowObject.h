// Binds C++ objects to the program's windows and dialogs through the
// window property "XXX_CLASS"; one shared procedure dispatches to them.
// A window is created with its object as the creation parameter
// (createWindow) and bound on WM_NCCREATE, so it sees the real WM_CREATE;
// a dialog is bound on WM_INITDIALOG (runModal).
#pragma once
#include <windows.h>

namespace ui {

class WindowObject {
 public:
  virtual ~WindowObject() = default;
  virtual LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window() const { return window_; }
  bool isDialog() const { return isDialog_; }

  // Attaches the object to the window and puts the shared procedure in
  // place (keeping the replaced one); unbind() undoes both.
  void bind(HWND window);
  void unbind();

  // The shared window procedure and dialog procedure.
  static LRESULT CALLBACK sharedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK sharedDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  // Creates a window of a class whose procedure is sharedWindowProc, with
  // this object bound to it from WM_NCCREATE on; nullptr when it fails.
  HWND createWindow(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style,
                    int x, int y, int width, int height, HWND parent, HINSTANCE instance);

  // Opens a dialog template modally with this object bound to it.
  INT_PTR runModal(HINSTANCE instance, int templateId, HWND owner);

 protected:
  HWND window_ = nullptr;
  WNDPROC replacedProc_ = nullptr;
  DLGPROC replacedDialogProc_ = nullptr;
  bool isDialog_ = false;

 private:
  static LRESULT dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool dialog);
};

}  // namespace ui
