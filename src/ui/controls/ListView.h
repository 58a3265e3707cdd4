// A thin typed wrapper over a list-view control: one call per control
// message, Shift_JIS texts in and out, no LVITEMW records at the call site.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

namespace ui {

class ListView {
 public:
  ListView() = default;
  explicit ListView(HWND window) : window_(window) {}

  // Creates a list view child with the client edge (`style` adds to
  // WS_CHILD); an empty wrapper when it fails.
  static ListView create(HWND parent, int id, DWORD style, HINSTANCE instance);

  HWND window() const { return window_; }
  bool is(HWND window) const { return window && window == window_; }

  void setFont(HFONT font);
  void setExtendedStyle(DWORD style);
  void setBackground(COLORREF colour);  // the list and the text behind its items
  void setSmallImages(HIMAGELIST images);
  void setRedraw(bool redraw);

  // Columns: a left-aligned column at `index`; false when it was refused.
  bool insertColumn(int index, const std::string& text, int width);
  int columnWidth(int column) const;
  void setColumnWidth(int column, int width);

  // Items: the new item's index, -1 when it was refused. `image` is an
  // index into the small image list, -1 for none.
  int insertItem(int index, const std::string& text, int image = -1);
  void setItemText(int item, int column, const std::string& text);
  // At most `capacity` characters of the cell.
  std::string itemText(int item, int column, int capacity = 100) const;
  int count() const;
  // Owner data (LVS_OWNERDATA): the number of items; the texts come from
  // LVN_GETDISPINFO. `keepScroll`: the list does not scroll.
  void setItemCount(int count, bool keepScroll = false);
  void redrawItem(int item);
  // Answers LVN_GETDISPINFO (A or W) with a cell's Shift_JIS text.
  static void answerDisplayInfo(const NMHDR* header, const std::string& sjis);
  void deleteItem(int item);
  void deleteAllItems();
  void ensureVisible(int item);

  // Selection: item -1 stands for every item.
  void select(int item);    // selected and focused (-1: every item selected)
  void deselect(int item);  // neither selected nor focused
  int nextSelected(int after = -1) const;

  // The item of an NM_DBLCLK, NM_RCLICK or LVN_ITEMACTIVATE notification
  // (-1: none).
  static int notifiedItem(const NMHDR* header);

 private:
  void setItemState(int item, UINT state, UINT mask);

  HWND window_ = nullptr;
};

}  // namespace ui
