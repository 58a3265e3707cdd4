#include "ui/MailPanel.h"

#include <commctrl.h>

#include <vector>

#include "config/StringTable.h"
#include "platform/AppMessages.h"
#include "platform/Hooks.h"
#include "platform/Text.h"
#include "ui/MailRowText.h"

namespace ui {
namespace {

const wchar_t kPanelClass[] = L"SplitPanel";
constexpr int kSplitterCursor = 2002;
constexpr int kAttachmentIcon = 2006;
constexpr int kSplitterHeight = 10;
constexpr int kStripHeight = 50;
constexpr int kMinPreviewSpace = 120;
constexpr int kMinListHeight = 100;
constexpr COLORREF kListColour = RGB(165, 192, 161);


std::wstring wide(const std::string& sjis) { return platform::toWide(sjis.c_str()); }

std::string itemText(HWND list, int row, int column, int capacity) {
  std::vector<wchar_t> buffer(static_cast<size_t>(capacity) + 1, L'\0');
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = buffer.data();
  item.cchTextMax = capacity;
  SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  return platform::fromWide(buffer.data());
}

void setItemText(HWND list, int row, int column, const std::string& sjis) {
  std::wstring text = wide(sjis);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

void setItemState(HWND list, int row, UINT state, UINT mask) {
  LVITEMW item{};
  item.stateMask = mask;
  item.state = state;
  SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

}  // namespace

MailPanel::MailPanel(config::AppSettings& settings, HFONT font) : settings_(settings), font_(font) {}

bool MailPanel::create(HINSTANCE instance, HWND mainWindow) {
  instance_ = instance;
  mainWindow_ = mainWindow;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_SAVEBITS;
  wc.lpfnWndProc = sharedWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(instance, MAKEINTRESOURCEW(kSplitterCursor));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kPanelClass;
  RegisterClassExW(&wc);
  HWND panel = CreateWindowExW(0, kPanelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                               0, 0, mainWindow, nullptr, instance, nullptr);
  if (!panel) {
    platform::messageBox("リストウィンドウが開けません。", "Quorvel",
                         platform::kMbOk | MB_ICONWARNING | MB_TASKMODAL);
    return false;
  }
  bind(panel);
  SendMessageW(panel, WM_CREATE, 0, 0);
  return true;
}

LRESULT MailPanel::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return onCreate();
    case WM_SIZE: onSize(); break;
    case WM_NOTIFY: onNotify(reinterpret_cast<const NMHDR*>(lParam)); break;
    case WM_LBUTTONDOWN: beginSplitterDrag(static_cast<short>(HIWORD(lParam))); break;
    case WM_MOUSEMOVE: moveSplitterDrag(static_cast<short>(HIWORD(lParam))); break;
    case WM_LBUTTONUP: endSplitterDrag(); break;
    case appmsg::kSelectAll: selectAllRows(); break;
    case appmsg::kExport: break;          // export: drag and drop and export
    case appmsg::kExportAndMove: break;   // export and move: drag and drop and export
    case appmsg::kDeleteSelected: deleteSelectedRows(); break;
    case appmsg::kImportMail: PostMessageW(mainWindow_, appmsg::kImportMail, wParam, lParam); break;
    default: break;
  }
  return WindowObject::handleMessage(window, message, wParam, lParam);
}

LRESULT MailPanel::onCreate() {
  list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 0, 0,
                          window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kMailListId)),
                          instance_, nullptr);
  SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE);
  for (int column = 0; column < kColumnCount; ++column) {
    char header[20] = {};
    int width = 0;
    if (column < kVisibleColumnCount) {
      config::loadString(30 + column, header, sizeof header);
      width = settings_.columnWidths[column];
    }
    std::wstring text = platform::toWide(header);
    LVCOLUMNW c{};
    c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    c.fmt = LVCFMT_LEFT;
    c.cx = width;
    c.pszText = const_cast<wchar_t*>(text.c_str());
    c.iSubItem = column;
    SendMessageW(list_, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&c));
  }
  SendMessageW(list_, LVM_SETBKCOLOR, 0, kListColour);
  SendMessageW(list_, LVM_SETTEXTBKCOLOR, 0, kListColour);

  preview_ = CreateWindowExW(0, L"EDIT", L"",
                             WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE |
                                 ES_AUTOVSCROLL | ES_NOHIDESEL,
                             0, 0, 0, 0, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPreviewId)), instance_,
                             nullptr);
  // The preview holds whole mails; the edit control's default limit is 32 KB.
  SendMessageW(preview_, EM_LIMITTEXT, 0, 0);

  strip_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                           WS_CHILD | LVS_SMALLICON | LVS_ALIGNTOP, 0, 0, 0, 0, window_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kAttachmentStripId)),
                           instance_, nullptr);
  SendMessageW(strip_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  stripImages_ = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 0);
  HICON icon = static_cast<HICON>(
      LoadImageW(instance_, MAKEINTRESOURCEW(kAttachmentIcon), IMAGE_ICON, 16, 16, 0));
  ImageList_AddIcon(stripImages_, icon);
  DestroyIcon(icon);
  SendMessageW(strip_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(stripImages_));
  // The drop target: drag and drop.
  return 0;
}

// ---- layout and splitter ----

void MailPanel::onSize() {
  RECT r;
  GetClientRect(window_, &r);
  panelHeight_ = r.bottom;
  layout(IsWindowVisible(strip_) != FALSE);
}

void MailPanel::layout(bool showStrip) {
  RECT r;
  GetClientRect(window_, &r);
  int w = r.right, h = r.bottom;
  if (h == 0) return;
  int listHeight = h - settings_.splitterPosition >= kMinPreviewSpace ? settings_.splitterPosition
                                                                      : kMinPreviewSpace;
  settings_.splitterPosition = listHeight;
  MoveWindow(list_, 0, 0, w, listHeight, TRUE);
  int previewTop = listHeight + kSplitterHeight;
  if (showStrip) {
    MoveWindow(preview_, 0, previewTop, w, h - listHeight - kSplitterHeight - kStripHeight, TRUE);
    MoveWindow(strip_, 0, h - kStripHeight, w, kStripHeight, TRUE);
    ShowWindow(strip_, SW_SHOW);
  } else {
    ShowWindow(strip_, SW_HIDE);
    MoveWindow(preview_, 0, previewTop, w, h - listHeight - kSplitterHeight, TRUE);
  }
}

void MailPanel::invertBand() {
  PatBlt(dragDc_, band_.left, band_.top, band_.right - band_.left, kSplitterHeight, DSTINVERT);
}

void MailPanel::beginSplitterDrag(int y) {
  SetCapture(window_);
  GetClientRect(window_, &band_);
  int top = y >= kMinListHeight + 5 ? y - 5 : kMinListHeight;
  if (top > panelHeight_ - kMinPreviewSpace) top = panelHeight_ - kMinPreviewSpace;
  band_.top = top + 1;
  if (dragDc_) ReleaseDC(window_, dragDc_);
  dragDc_ = GetDC(window_);
  invertBand();
}

void MailPanel::moveSplitterDrag(int y) {
  if (!dragDc_) return;
  invertBand();
  int top = y;
  if (top > panelHeight_ - kMinPreviewSpace) top = panelHeight_ - kMinPreviewSpace;
  if (top < kMinListHeight) top = kMinListHeight;
  band_.top = top;
  invertBand();
}

void MailPanel::endSplitterDrag() {
  if (!dragDc_) return;
  invertBand();
  ReleaseCapture();
  ReleaseDC(window_, dragDc_);
  dragDc_ = nullptr;
  settings_.splitterPosition = band_.top;
  SendMessageW(window_, WM_SIZE, 0, 0);
}

// ---- notifications ----

void MailPanel::onNotify(const NMHDR* header) {
  if (header->hwndFrom == list_) {
    switch (header->code) {
      case LVN_KEYDOWN:
        break;  // the Delete key: drag and drop and deletion
      case LVN_ITEMACTIVATE: {
        int item = reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem;
        if (item >= 0) {
          selectRow(item);
          PostMessageW(mainWindow_, appmsg::kShowMail, 0, 0);
        }
        break;
      }
      case LVN_BEGINDRAG:
        break;  // dragging a mail out: drag and drop
      case NM_RCLICK:
        break;  // the context menu: drag and drop and deletion
      default:
        break;
    }
  } else if (header->hwndFrom == strip_) {
    if (header->code == NM_DBLCLK) {
      int item = reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem;
      if (item >= 0) PostMessageW(mainWindow_, appmsg::kOpenAttachment, item, 0);
    }
    // LVN_BEGINDRAG: dragging an attachment out: drag and drop.
  }
}

// ---- rows ----

void MailPanel::setRowTexts(int row, int firstColumn, int lastColumn, const mime::MailIndexEntry& e) {
  RowTexts texts = rowTexts(e);
  for (int column = firstColumn; column <= lastColumn; ++column)
    setItemText(list_, row, column, texts[column]);
}

void MailPanel::addRow(const mime::MailIndexEntry& entry) {
  std::wstring status = wide(statusText(entry.arrivalMark));
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = rowCount_;
  item.pszText = const_cast<wchar_t*>(status.c_str());
  int row = static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (row < 0) return;
  setRowTexts(row, 1, kColumnCount - 1, entry);
  if (!inBatch_) SendMessageW(list_, LVM_ENSUREVISIBLE, row, FALSE);
  ++rowCount_;
}

void MailPanel::beginBatch() {
  inBatch_ = true;
  SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
}

void MailPanel::endBatch() {
  inBatch_ = false;
  SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
  if (rowCount_ > 0) SendMessageW(list_, LVM_ENSUREVISIBLE, rowCount_ - 1, FALSE);
  InvalidateRect(list_, nullptr, TRUE);
}

void MailPanel::clearRows() {
  if (rowCount_ == 0) return;
  SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
  rowCount_ = 0;
}

void MailPanel::setRowStatus(int row, int outcome) {
  static const int32_t kOutcomes[] = {kMarkRejected, kMarkFailed, kMarkDone, kMarkRefused};
  if (outcome < 0 || outcome > 3) return;
  setItemText(list_, row, 0, statusText(kOutcomes[outcome]));
}

mime::MailIndexEntry MailPanel::readRow(int row) const {
  RowTexts texts;
  for (int column = 0; column < kColumnCount; ++column)
    texts[column] = itemText(list_, row, column, column == 2 ? 1024 : 100);
  return entryFromRow(texts);
}

void MailPanel::selectRow(int row) {
  selectedRow_ = row;
  selectedEntry_ = readRow(row);
}

void MailPanel::selectNewestRow() {
  if (rowCount_ == 0) return;
  SetFocus(list_);
  int last = rowCount_ - 1;
  setItemState(list_, last, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  selectRow(last);
  PostMessageW(mainWindow_, appmsg::kShowMail, 0, 0);
}

void MailPanel::selectAllRows() { setItemState(list_, -1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED); }

void MailPanel::deselectAllRows() { setItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED); }

void MailPanel::deleteSelectedRows() {
  int row, deleted = 0;
  while ((row = static_cast<int>(SendMessageW(list_, LVM_GETNEXTITEM, -1, LVNI_SELECTED))) >= 0) {
    SendMessageW(list_, LVM_DELETEITEM, row, 0);
    --rowCount_;
    ++deleted;
  }
  if (deleted && onRowsDeleted) onRowsDeleted(deleted);
  selectedRow_ = -1;
  setPreviewText("");
  layout(false);
}

void MailPanel::saveColumnWidths() {
  for (int column = 0; column < kVisibleColumnCount; ++column)
    settings_.columnWidths[column] =
        static_cast<int32_t>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, column, 0));
}

// ---- preview and attachments ----

void MailPanel::setPreviewText(const std::string& sjis) { SetWindowTextW(preview_, wide(sjis).c_str()); }

void MailPanel::clearAttachments() {
  SendMessageW(strip_, LVM_DELETEALLITEMS, 0, 0);
  stripCount_ = 0;
}

void MailPanel::addAttachment(const std::string& sjisName) {
  std::wstring name = wide(sjisName);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = stripCount_;
  item.iImage = 0;
  item.pszText = const_cast<wchar_t*>(name.c_str());
  if (SendMessageW(strip_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)) >= 0) ++stripCount_;
}

void MailPanel::focusList() { SetFocus(list_); }

void MailPanel::clearPreview() {
  setPreviewText("");
  clearAttachments();
  layout(false);
}

}  // namespace ui
