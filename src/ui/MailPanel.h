// The main window's split panel: the mail list, the splitter bar, the
// preview and the attachment strip.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <array>
#include <cstdint>
#include <string>

#include "mime/MailId.h"
#include "mime/MailIndexEntry.h"
#include "store/MailStore.h"
#include "ui/MailRowText.h"
#include "ui/WindowObject.h"
#include "ui/controls/Edit.h"
#include "ui/controls/ListView.h"

namespace ui {

using ColumnWidths = std::array<int32_t, kVisibleColumnCount>;

// What the panel reports to the window that owns it (and keeps the
// settings record).
class MailPanelOwner {
 public:
  virtual ~MailPanelOwner() = default;
  // The list's height after every layout and splitter drag.
  virtual void onSplitterMoved(int listHeight) = 0;
  // The widths of the visible columns, as saveColumnWidths read them.
  virtual void onColumnWidthsSaved(const ColumnWidths& widths) = 0;
  // Writes one mail as an .eml file into `folder`; false after a message.
  virtual bool exportMail(const mime::MailIndexEntry& entry, const std::string& folder) = 0;
};

// The list draws the store's mail model (owner data: the control holds no
// texts) and removes mails through the store.
class MailPanel : public ui::WindowObject, public store::MailModelView {
 public:
  MailPanel(MailPanelOwner& owner, HFONT font);

  // Creates the panel as a child of the main window, its list with these
  // column widths and the splitter at `splitterPosition`; false when it
  // cannot.
  bool create(HINSTANCE instance, HWND mainWindow, int splitterPosition, const ColumnWidths& widths);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  // The store whose model the list shows, from now on.
  void attachStore(store::MailStore& mailStore);

  // Rows.
  // The record of a row; an empty one for a row that does not exist.
  mime::MailIndexEntry readRow(int row) const;
  void selectRow(int row);
  void selectNewestRow();
  void selectAllRows();
  void deselectAllRows();
  void deleteSelectedRows();
  // Reports the current widths of the visible columns to the owner.
  void saveColumnWidths();
  int rowCount() const { return store_ ? store_->model().count() : 0; }
  // Many rows at once: the list is redrawn, and scrolled to its last row,
  // only when the batch ends.
  void beginBatch();
  void endBatch();

  // The preview and the attachment strip.
  void layout(bool showStrip);
  // The list's height for the next layout (96-DPI units).
  void setSplitterPosition(int listHeight) { splitterPosition_ = listHeight; }
  // The window moved to a screen of another DPI: columns, strip icons and
  // layout follow; `font` is the program font made for that DPI.
  void setDpi(int dpi, HFONT font);
  void setPreviewText(const std::string& sjis);
  void clearAttachments();
  void addAttachment(const std::string& sjisName);
  void focusList();

  int selectedRow() const { return selectedRow_; }
  const mime::MailIndexEntry& selectedEntry() const { return selectedEntry_; }
  HWND mailList() const { return list_.window(); }

  // store::MailModelView
  void rowsReset(int count) override;
  void rowAdded(int row) override;
  void rowChanged(int row) override;
  void rowRemoved(int row) override;
  void clearPreview() override;

 private:
  // Message handlers.
  LRESULT onCreate();
  void onSize();
  void onNotify(const NMHDR* header);
  void onLButtonDown(int y);  // the splitter drag
  void onMouseMove(int y);
  void onLButtonUp();
  void onSelectAll();
  void onExport();
  void onExportAndMove();
  void onDeleteSelected();
  void onImportMail();

  void createMailList();
  void createAttachmentStrip();
  void onMailListNotify(const NMHDR* header);
  void onMailListKeyDown(WORD key);
  void showContextMenu(int item);
  void afterRowsRemoved();
  void onStripNotify(const NMHDR* header);
  void invertBand();
  void createStripImages();
  // A length of 96-DPI units in pixels at the panel's DPI, and back.
  int px(int units) const;
  int units(int pixels) const;

  MailPanelOwner& owner_;
  HFONT font_;
  HINSTANCE instance_ = nullptr;
  HWND mainWindow_ = nullptr;
  ListView list_;
  Edit preview_;
  ListView strip_;
  HIMAGELIST stripImages_ = nullptr;
  int splitterPosition_ = 0;  // 96-DPI units, as stored
  int dpi_ = 96;
  ColumnWidths initialWidths_{};  // 96-DPI units
  store::MailStore* store_ = nullptr;
  int stripCount_ = 0;
  bool inBatch_ = false;
  int selectedRow_ = -1;
  mime::MailIndexEntry selectedEntry_{};
  int panelHeight_ = 0;
  HDC dragDc_ = nullptr;
  bool dropTargetRegistered_ = false;
  RECT band_{};
};

}  // namespace ui
