// OLE drag and drop of the mail panel: the data object and drop source of a
// mail or attachment dragged out as a file, and the panel's drop target.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <string>

#include "ui/ComObject.h"

namespace ui {

// The path of the file prepared for a drag-out (by the main window's
// handlers of WM_USER+25 and +26), at most 259 bytes.
std::string& dragPath();

// Runs a drag of a mail (prepareMessage WM_USER+26) or an attachment
// (WM_USER+25) with this index: the main window prepares the file, the
// drag offers it as CF_TEXT and CF_HDROP with DROPEFFECT_MOVE. False when
// the data could not be stored (the drag did not start).
bool startDrag(HWND mainWindow, UINT prepareMessage, int index);

// The data object of a drag-out: `path` as CF_TEXT and as CF_HDROP, both
// in movable global memory, handed out as copies, enumerated in that order.
// Null when either could not be stored. The caller releases it.
IDataObject* createDragData(const std::string& path);

// True while a drag started by startDrag runs (its own drop is ignored).
bool dragInProgress();

// The first file of the last drop on the panel, kept here until the main
// window's WM_USER+22 handler takes it: the message carries nothing, so a
// WM_USER+22 from elsewhere finds no file, or the one the user dropped.
struct DroppedFile {
  std::string path;    // Shift_JIS, at most 259 bytes; empty: none waiting
  unsigned files = 0;  // how many files were dropped
};
DroppedFile takeDroppedFile();

// The panel's drop target: the first dropped file is kept for
// takeDroppedFile and the panel gets WM_USER+22; text gives WM_USER+23,
// anything else WM_USER+24.
class DropTarget final : public ComObject<IDropTarget> {
 public:
  explicit DropTarget(HWND panel) : panel_(panel) {}
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL at, DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL at, DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragLeave() override;
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL at, DWORD* effect) override;

 private:
  HWND panel_;
  DWORD effect_ = DROPEFFECT_NONE;
};

}  // namespace ui
