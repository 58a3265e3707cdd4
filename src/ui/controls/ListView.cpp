#include "ui/controls/ListView.h"

#include <vector>

#include "platform/Text.h"

namespace ui {

ListView ListView::create(HWND parent, int id, DWORD style, HINSTANCE instance) {
  return ListView(CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | style, 0, 0, 0, 0,
                                  parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  instance, nullptr));
}

void ListView::setFont(HFONT font) {
  SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void ListView::setExtendedStyle(DWORD style) {
  SendMessageW(window_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style);
}

void ListView::setBackground(COLORREF colour) {
  SendMessageW(window_, LVM_SETBKCOLOR, 0, colour);
  SendMessageW(window_, LVM_SETTEXTBKCOLOR, 0, colour);
}

void ListView::setSmallImages(HIMAGELIST images) {
  SendMessageW(window_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
}

void ListView::setRedraw(bool redraw) {
  SendMessageW(window_, WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
  if (redraw) InvalidateRect(window_, nullptr, TRUE);
}

bool ListView::insertColumn(int index, const std::string& text, int width) {
  std::wstring wide = platform::toWide(text.c_str());
  LVCOLUMNW column{};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column.fmt = LVCFMT_LEFT;
  column.cx = width;
  column.pszText = const_cast<wchar_t*>(wide.c_str());
  column.iSubItem = index;
  return SendMessageW(window_, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column)) >= 0;
}

int ListView::columnWidth(int column) const {
  return static_cast<int>(SendMessageW(window_, LVM_GETCOLUMNWIDTH, column, 0));
}

void ListView::setColumnWidth(int column, int width) {
  SendMessageW(window_, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(width, 0));
}

int ListView::insertItem(int index, const std::string& text, int image) {
  std::wstring wide = platform::toWide(text.c_str());
  LVITEMW item{};
  item.mask = LVIF_TEXT | (image >= 0 ? LVIF_IMAGE : 0);
  item.iItem = index;
  item.iImage = image;
  item.pszText = const_cast<wchar_t*>(wide.c_str());
  return static_cast<int>(SendMessageW(window_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void ListView::setItemText(int item, int column, const std::string& text) {
  std::wstring wide = platform::toWide(text.c_str());
  LVITEMW cell{};
  cell.iSubItem = column;
  cell.pszText = const_cast<wchar_t*>(wide.c_str());
  SendMessageW(window_, LVM_SETITEMTEXTW, item, reinterpret_cast<LPARAM>(&cell));
}

std::string ListView::itemText(int item, int column, int capacity) const {
  std::vector<wchar_t> buffer(static_cast<size_t>(capacity) + 1, L'\0');
  LVITEMW cell{};
  cell.iSubItem = column;
  cell.pszText = buffer.data();
  cell.cchTextMax = capacity;
  SendMessageW(window_, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&cell));
  return platform::fromWide(buffer.data());
}

int ListView::count() const { return static_cast<int>(SendMessageW(window_, LVM_GETITEMCOUNT, 0, 0)); }

void ListView::setItemCount(int count, bool keepScroll) {
  SendMessageW(window_, LVM_SETITEMCOUNT, count, keepScroll ? LVSICF_NOSCROLL : 0);
}

void ListView::redrawItem(int item) {
  SendMessageW(window_, LVM_REDRAWITEMS, item, item);
  UpdateWindow(window_);
}

void ListView::answerDisplayInfo(const NMHDR* header, const std::string& sjis) {
  // The text is copied into the control's buffer, which may belong to a
  // caller of LVM_GETITEMTEXT.
  if (header->code == LVN_GETDISPINFOW) {
    LVITEMW& item = const_cast<NMLVDISPINFOW*>(reinterpret_cast<const NMLVDISPINFOW*>(header))->item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0) return;
    lstrcpynW(item.pszText, platform::toWide(sjis.c_str()).c_str(), item.cchTextMax);
  } else if (header->code == LVN_GETDISPINFOA) {
    LVITEMA& item = const_cast<NMLVDISPINFOA*>(reinterpret_cast<const NMLVDISPINFOA*>(header))->item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0) return;
    lstrcpynA(item.pszText, sjis.c_str(), item.cchTextMax);
  }
}

void ListView::deleteItem(int item) { SendMessageW(window_, LVM_DELETEITEM, item, 0); }

void ListView::deleteAllItems() { SendMessageW(window_, LVM_DELETEALLITEMS, 0, 0); }

void ListView::ensureVisible(int item) { SendMessageW(window_, LVM_ENSUREVISIBLE, item, FALSE); }

void ListView::setItemState(int item, UINT state, UINT mask) {
  LVITEMW record{};
  record.stateMask = mask;
  record.state = state;
  SendMessageW(window_, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&record));
}

void ListView::select(int item) {
  // One item at most holds the focus: the control refuses the whole call
  // when asked to focus every item.
  UINT state = item == -1 ? LVIS_SELECTED : LVIS_SELECTED | LVIS_FOCUSED;
  setItemState(item, state, state);
}

void ListView::deselect(int item) { setItemState(item, 0, LVIS_SELECTED | LVIS_FOCUSED); }

int ListView::nextSelected(int after) const {
  return static_cast<int>(SendMessageW(window_, LVM_GETNEXTITEM, after, LVNI_SELECTED));
}

int ListView::notifiedItem(const NMHDR* header) {
  return reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem;
}

}  // namespace ui
