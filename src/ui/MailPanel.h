// The main window's split panel: the mail list, the splitter bar, the
// preview and the attachment strip.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "config/AppSettings.h"
#include "ui/WindowObject.h"
#include "mime/MailIndexEntry.h"
#include "store/MailList.h"

namespace ui {

constexpr int kMailListId = 110;
constexpr int kPreviewId = 100;
constexpr int kAttachmentStripId = 120;

class MailPanel : public ui::WindowObject, public store::MailList {
 public:
  MailPanel(config::AppSettings& settings, HFONT font);

  // Creates the panel as a child of the main window; false when it cannot.
  bool create(HINSTANCE instance, HWND mainWindow);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  // Rows.
  void addRow(const mime::MailIndexEntry& entry);
  void clearRows();
  void setRowStatus(int row, int outcome);
  mime::MailIndexEntry readRow(int row) const;
  void selectRow(int row);
  void selectNewestRow();
  void selectAllRows();
  void deselectAllRows();
  void deleteSelectedRows();
  void saveColumnWidths();
  int rowCount() const { return rowCount_; }
  // Many rows at once: the list is redrawn, and scrolled to its last row,
  // only when the batch ends.
  void beginBatch();
  void endBatch();

  // The preview and the attachment strip.
  void layout(bool showStrip);
  void setPreviewText(const std::string& sjis);
  void clearAttachments();
  void addAttachment(const std::string& sjisName);
  void focusList();

  int selectedRow() const { return selectedRow_; }
  const mime::MailIndexEntry& selectedEntry() const { return selectedEntry_; }
  HWND mailList() const { return list_; }

  // store::MailList
  void addEntry(const mime::MailIndexEntry& entry) override { addRow(entry); }
  void clearEntries() override { clearRows(); }
  int entryCount() const override { return rowCount_; }
  mime::MailIndexEntry entryAt(int index) const override { return readRow(index); }
  void clearPreview() override;

  // Told how many rows deleteSelectedRows removed (the store counts them).
  std::function<void(int)> onRowsDeleted;

 private:
  LRESULT onCreate();
  void onSize();
  void onNotify(const NMHDR* header);
  void beginSplitterDrag(int y);
  void moveSplitterDrag(int y);
  void endSplitterDrag();
  void invertBand();
  void setRowTexts(int row, int firstColumn, int lastColumn, const mime::MailIndexEntry& e);

  config::AppSettings& settings_;
  HFONT font_;
  HINSTANCE instance_ = nullptr;
  HWND mainWindow_ = nullptr;
  HWND list_ = nullptr;
  HWND preview_ = nullptr;
  HWND strip_ = nullptr;
  HIMAGELIST stripImages_ = nullptr;
  int rowCount_ = 0;
  int stripCount_ = 0;
  bool inBatch_ = false;
  int selectedRow_ = -1;
  mime::MailIndexEntry selectedEntry_{};
  int panelHeight_ = 0;
  HDC dragDc_ = nullptr;
  RECT band_{};
};

}  // namespace ui
