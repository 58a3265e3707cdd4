#include "ui/MailPanel.h"

#include <commctrl.h>

#include "config/StringTable.h"
#include "platform/AppMessages.h"
#include "platform/Hooks.h"
#include "ui/Dpi.h"
#include "ui/DragDrop.h"
#include "ui/FolderBrowser.h"
#include "ui/resource.h"

namespace ui {
namespace {

const wchar_t kPanelClass[] = L"SplitPanel";
// Lengths in 96-DPI units.
constexpr int kSplitterHeight = 10;
constexpr int kStripHeight = 50;
constexpr int kMinPreviewSpace = 120;
constexpr int kMinListHeight = 100;
constexpr int kStripIconSize = 16;
constexpr COLORREF kListColour = RGB(165, 192, 161);
constexpr unsigned kFirstHeaderString = 30;  // string ids 30-37: the visible columns' headers
const char kExportFolderTitle[] = "メールをエクスポートするフォルダを指定してください。";

}  // namespace

MailPanel::MailPanel(MailPanelOwner& owner, HFONT font) : owner_(owner), font_(font) {}

bool MailPanel::create(HINSTANCE instance, HWND mainWindow, int splitterPosition,
                       const ColumnWidths& widths) {
  instance_ = instance;
  mainWindow_ = mainWindow;
  splitterPosition_ = splitterPosition;
  initialWidths_ = widths;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_SAVEBITS;
  wc.lpfnWndProc = sharedWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(instance, MAKEINTRESOURCEW(IDC_SPLITTER));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kPanelClass;
  RegisterClassExW(&wc);
  if (!createWindow(0, kPanelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                    mainWindow, instance)) {
    platform::messageBox("リストウィンドウが開けません。", "Quorvel",
                         platform::kMbOk | MB_ICONWARNING | MB_TASKMODAL);
    return false;
  }
  return true;
}

LRESULT MailPanel::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return onCreate();
    case WM_DESTROY:
      if (dropTargetRegistered_) RevokeDragDrop(window_);
      dropTargetRegistered_ = false;
      break;
    case WM_SIZE: onSize(); break;
    case WM_NOTIFY: onNotify(reinterpret_cast<const NMHDR*>(lParam)); break;
    case WM_LBUTTONDOWN: onLButtonDown(static_cast<short>(HIWORD(lParam))); break;
    case WM_MOUSEMOVE: onMouseMove(static_cast<short>(HIWORD(lParam))); break;
    case WM_LBUTTONUP: onLButtonUp(); break;
    case appmsg::kSelectAll: onSelectAll(); break;
    case appmsg::kExport: onExport(); break;
    case appmsg::kExportAndMove: onExportAndMove(); break;
    case appmsg::kDeleteSelected: onDeleteSelected(); break;
    case appmsg::kImportMail: onImportMail(); break;
    default: break;
  }
  return WindowObject::handleMessage(window, message, wParam, lParam);
}

int MailPanel::px(int units) const { return scaleToDpi(units, dpi_); }

int MailPanel::units(int pixels) const { return unscaleFromDpi(pixels, dpi_); }

LRESULT MailPanel::onCreate() {
  dpi_ = windowDpi(window_);
  createMailList();
  preview_ = Edit::create(window_, IDC_PREVIEW,
                          WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                              ES_NOHIDESEL,
                          instance_);
  // The preview holds whole mails; the edit control's default limit is 32 KB.
  preview_.removeLimit();
  createAttachmentStrip();
  // The drop target: a mail file dropped on the panel is imported.
  auto* target = new DropTarget(window_);
  if (RegisterDragDrop(window_, target) == S_OK) dropTargetRegistered_ = true;
  target->Release();  // the registration holds it
  return 0;
}

void MailPanel::createMailList() {
  list_ = ListView::create(window_, IDC_MAIL_LIST, WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDATA,
                           instance_);
  list_.setFont(font_);
  list_.setExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE);
  for (int column = 0; column < kColumnCount; ++column) {
    char header[20] = {};
    int width = 0;
    if (column < kVisibleColumnCount) {
      config::loadString(kFirstHeaderString + column, header, sizeof header);
      width = px(initialWidths_[column]);
    }
    list_.insertColumn(column, header, width);
  }
  list_.setBackground(kListColour);
}

void MailPanel::createAttachmentStrip() {
  strip_ = ListView::create(window_, IDC_ATTACHMENT_STRIP, LVS_SMALLICON | LVS_ALIGNTOP, instance_);
  strip_.setFont(font_);
  createStripImages();
}

void MailPanel::createStripImages() {
  int size = px(kStripIconSize);
  HIMAGELIST old = stripImages_;
  stripImages_ = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 1, 0);
  HICON icon = static_cast<HICON>(
      LoadImageW(instance_, MAKEINTRESOURCEW(IDI_ATTACHMENT), IMAGE_ICON, size, size, 0));
  ImageList_AddIcon(stripImages_, icon);
  DestroyIcon(icon);
  strip_.setSmallImages(stripImages_);
  if (old) ImageList_Destroy(old);
}

void MailPanel::setDpi(int dpi, HFONT font) {
  if (dpi == dpi_ && font == font_) return;
  for (int column = 0; column < kVisibleColumnCount; ++column)
    list_.setColumnWidth(column, scaleToDpi(units(list_.columnWidth(column)), dpi));
  dpi_ = dpi;
  font_ = font;
  list_.setFont(font_);
  strip_.setFont(font_);
  createStripImages();
  onSize();
}

// The selected rows in list order, each as an .eml file in a chosen
// folder; the first failure ends the export.
void MailPanel::onExport() {
  auto folder = chooseFolder(mainWindow_, kExportFolderTitle);
  if (!folder) return;
  if (!store_) return;
  for (int row = list_.nextSelected(); row >= 0; row = list_.nextSelected(row))
    if (!owner_.exportMail(readRow(row), *folder)) break;
  deselectAllRows();
}

// Exports the selected rows and removes each exported one; a failure
// leaves it and the rows after it selected.
void MailPanel::onExportAndMove() {
  auto folder = chooseFolder(mainWindow_, kExportFolderTitle);
  if (!folder || !store_) return;
  for (int row; (row = list_.nextSelected()) >= 0;) {
    if (!owner_.exportMail(readRow(row), *folder)) break;
    store_->deleteMail(row);
  }
  afterRowsRemoved();
}

void MailPanel::onSelectAll() { selectAllRows(); }

void MailPanel::onDeleteSelected() { deleteSelectedRows(); }

// A file dropped on the panel is the main window's to import.
void MailPanel::onImportMail() { PostMessageW(mainWindow_, appmsg::kImportMail, 0, 0); }

// ---- layout and splitter ----

void MailPanel::onSize() {
  RECT r;
  GetClientRect(window_, &r);
  panelHeight_ = r.bottom;
  layout(IsWindowVisible(strip_.window()) != FALSE);
}

void MailPanel::layout(bool showStrip) {
  RECT r;
  GetClientRect(window_, &r);
  int w = r.right, h = r.bottom;
  if (h == 0) return;
  int bar = px(kSplitterHeight), strip = px(kStripHeight), minPreview = px(kMinPreviewSpace);
  int listHeight = px(splitterPosition_);
  if (h - listHeight < minPreview) listHeight = minPreview;
  splitterPosition_ = units(listHeight);
  owner_.onSplitterMoved(splitterPosition_);
  MoveWindow(list_.window(), 0, 0, w, listHeight, TRUE);
  int previewTop = listHeight + bar;
  if (showStrip) {
    MoveWindow(preview_.window(), 0, previewTop, w, h - listHeight - bar - strip, TRUE);
    MoveWindow(strip_.window(), 0, h - strip, w, strip, TRUE);
    ShowWindow(strip_.window(), SW_SHOW);
  } else {
    ShowWindow(strip_.window(), SW_HIDE);
    MoveWindow(preview_.window(), 0, previewTop, w, h - listHeight - bar, TRUE);
  }
}

void MailPanel::invertBand() {
  PatBlt(dragDc_, band_.left, band_.top, band_.right - band_.left, px(kSplitterHeight), DSTINVERT);
}

void MailPanel::onLButtonDown(int y) {
  SetCapture(window_);
  GetClientRect(window_, &band_);
  int half = px(kSplitterHeight) / 2;
  int top = y >= px(kMinListHeight) + half ? y - half : px(kMinListHeight);
  if (top > panelHeight_ - px(kMinPreviewSpace)) top = panelHeight_ - px(kMinPreviewSpace);
  band_.top = top + 1;
  if (dragDc_) ReleaseDC(window_, dragDc_);
  dragDc_ = GetDC(window_);
  invertBand();
}

void MailPanel::onMouseMove(int y) {
  if (!dragDc_) return;
  invertBand();
  int top = y;
  if (top > panelHeight_ - px(kMinPreviewSpace)) top = panelHeight_ - px(kMinPreviewSpace);
  if (top < px(kMinListHeight)) top = px(kMinListHeight);
  band_.top = top;
  invertBand();
}

void MailPanel::onLButtonUp() {
  if (!dragDc_) return;
  invertBand();
  ReleaseCapture();
  ReleaseDC(window_, dragDc_);
  dragDc_ = nullptr;
  splitterPosition_ = units(band_.top);
  SendMessageW(window_, WM_SIZE, 0, 0);
}

// ---- notifications ----

void MailPanel::onNotify(const NMHDR* header) {
  if (list_.is(header->hwndFrom))
    onMailListNotify(header);
  else if (strip_.is(header->hwndFrom))
    onStripNotify(header);
}

void MailPanel::onMailListNotify(const NMHDR* header) {
  switch (header->code) {
    case LVN_ITEMACTIVATE: {
      int item = ListView::notifiedItem(header);
      if (item >= 0) {
        selectRow(item);
        PostMessageW(mainWindow_, appmsg::kShowMail, 0, 0);
      }
      break;
    }
    case LVN_GETDISPINFOW:
    case LVN_GETDISPINFOA: {
      const auto* info = reinterpret_cast<const NMLVDISPINFOW*>(header);
      int row = info->item.iItem, column = info->item.iSubItem;
      if (store_ && row >= 0 && row < store_->model().count() && column >= 0 && column < kColumnCount)
        ListView::answerDisplayInfo(header, rowTexts(store_->model().entryAt(row))[static_cast<size_t>(column)]);
      break;
    }
    case LVN_KEYDOWN: onMailListKeyDown(reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey); break;
    case LVN_BEGINDRAG:
      startDrag(mainWindow_, appmsg::kPrepareMailDrag, reinterpret_cast<const NMLISTVIEW*>(header)->iItem);
      break;
    case NM_RCLICK: showContextMenu(ListView::notifiedItem(header)); break;
    default: break;
  }
}

void MailPanel::onMailListKeyDown(WORD key) {
  if (key != VK_DELETE) return;
  int answer = platform::messageBox("選択されているメールを削除します。よろしいですか？", "Quorvel",
                                    platform::kMbYesNo | platform::kMbIconExclamation | platform::kMbJapanese);
  if (answer == platform::kIdYes) PostMessageW(window_, appmsg::kDeleteSelected, 0, 0);
}

// Menu 2011 at the cursor, for a right click on a row.
void MailPanel::showContextMenu(int item) {
  if (item < 0) return;
  HMENU menu = LoadMenuW(instance_, MAKEINTRESOURCEW(IDM_MAIL_LIST_MENU));
  if (!menu) return;
  POINT at;
  GetCursorPos(&at);
  int command = TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, at.x, at.y,
                               0, window_, nullptr);
  DestroyMenu(menu);
  switch (command) {
    case IDM_SELECT_ALL: PostMessageW(window_, appmsg::kSelectAll, 0, 0); break;
    case IDM_EXPORT: PostMessageW(window_, appmsg::kExport, 0, 0); break;
    case IDM_EXPORT_MOVE: PostMessageW(window_, appmsg::kExportAndMove, 0, 0); break;
    case IDM_DELETE: PostMessageW(window_, appmsg::kDeleteSelected, 0, 0); break;
    default: break;  // IDM_CANCEL_MENU or no choice
  }
}

void MailPanel::onStripNotify(const NMHDR* header) {
  switch (header->code) {
    case NM_DBLCLK: {
      int item = ListView::notifiedItem(header);
      if (item >= 0) PostMessageW(mainWindow_, appmsg::kOpenAttachment, item, 0);
      break;
    }
    case LVN_BEGINDRAG:
      startDrag(mainWindow_, appmsg::kPrepareAttachmentDrag, reinterpret_cast<const NMLISTVIEW*>(header)->iItem);
      break;
    default: break;
  }
}

// ---- rows ----

void MailPanel::attachStore(store::MailStore& mailStore) {
  store_ = &mailStore;
  store_->model().setView(this);
}

void MailPanel::rowsReset(int count) {
  list_.deselect(-1);
  list_.setItemCount(count);
  selectedRow_ = -1;
  if (!inBatch_ && count > 0) list_.ensureVisible(count - 1);
}

void MailPanel::rowAdded(int row) {
  if (inBatch_) return;  // counted once when the batch ends
  list_.setItemCount(row + 1, true);
  list_.ensureVisible(row);
}

void MailPanel::rowChanged(int row) { list_.redrawItem(row); }

void MailPanel::rowRemoved(int row) {
  list_.deleteItem(row);
  if (selectedRow_ == row) selectedRow_ = -1;
  else if (selectedRow_ > row) --selectedRow_;
}

void MailPanel::beginBatch() {
  inBatch_ = true;
  list_.setRedraw(false);
}

void MailPanel::endBatch() {
  inBatch_ = false;
  list_.setItemCount(rowCount(), true);
  list_.setRedraw(true);
  if (rowCount() > 0) list_.ensureVisible(rowCount() - 1);
}

mime::MailIndexEntry MailPanel::readRow(int row) const {
  if (!store_ || row < 0 || row >= store_->model().count()) return mime::MailIndexEntry{};
  return store_->model().entryAt(row);
}

void MailPanel::selectRow(int row) {
  selectedRow_ = row;
  selectedEntry_ = readRow(row);
}

void MailPanel::selectNewestRow() {
  if (rowCount() == 0) return;
  SetFocus(list_.window());
  int last = rowCount() - 1;
  list_.select(last);
  selectRow(last);
  PostMessageW(mainWindow_, appmsg::kShowMail, 0, 0);
}

void MailPanel::selectAllRows() { list_.select(-1); }

void MailPanel::deselectAllRows() { list_.deselect(-1); }

void MailPanel::deleteSelectedRows() {
  if (!store_) return;
  for (int row; (row = list_.nextSelected()) >= 0;) store_->deleteMail(row);
  afterRowsRemoved();
}

// No row is current afterwards; the preview is emptied, the strip hidden.
void MailPanel::afterRowsRemoved() {
  selectedRow_ = -1;
  setPreviewText("");
  layout(false);
}

void MailPanel::saveColumnWidths() {
  ColumnWidths widths;
  for (int column = 0; column < kVisibleColumnCount; ++column) widths[column] = units(list_.columnWidth(column));
  owner_.onColumnWidthsSaved(widths);
}

// ---- preview and attachments ----

void MailPanel::setPreviewText(const std::string& sjis) { preview_.setText(sjis); }

void MailPanel::clearAttachments() {
  strip_.deleteAllItems();
  stripCount_ = 0;
}

void MailPanel::addAttachment(const std::string& sjisName) {
  if (strip_.insertItem(stripCount_, sjisName, 0) >= 0) ++stripCount_;
}

void MailPanel::focusList() { SetFocus(list_.window()); }

void MailPanel::clearPreview() {
  setPreviewText("");
  clearAttachments();
  layout(false);
}

}  // namespace ui
