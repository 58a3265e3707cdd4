// The main window's part of drag and drop: the files prepared for a drag
// out of the mail panel, and the import of a file dropped on it.
#include <memory>

#include "app/MainWindow.h"
#include "platform/File.h"
#include "platform/Hooks.h"
#include "ui/DragDrop.h"

namespace app {
namespace {

constexpr unsigned kWarning = platform::kMbOk | platform::kMbIconExclamation | platform::kMbJapanese;

commlog::CommLog& log() { return commlog::commLog(); }

}  // namespace

// WM_USER+26: the mail of row `index` as an .eml file in the temporary folder.
void MainWindow::onPrepareMailDrag(WPARAM index) {
  if (!mailDragFile_.empty() && platform::fileExists(mailDragFile_.c_str()))
    platform::removeFile(mailDragFile_.c_str());
  mailDragFile_.clear();
  ui::dragPath().clear();
  if (!panel_ || index >= static_cast<WPARAM>(panel_->rowCount())) return;
  mime::MailIndexEntry entry = panel_->readRow(static_cast<int>(index));
  std::string folder = platform::tempFolder();
  std::string name = store::mailFileName(entry);
  if (folder.size() + name.size() >= 260) {
    platform::messageBox("ドラッグ・オブジェクトのパス名が大き過ぎます。", "Quorvel", platform::kMbOk);
    return;
  }
  std::string path = folder + name + ".eml";
  switch (store_->writeMailFile(entry, path)) {
    case store::MailStore::WriteResult::kNoMemory: log().logLine("メモリー不足でメールドラッグ失敗"); return;
    case store::MailStore::WriteResult::kFailed: log().logLine("メールドラッグ失敗"); return;
    case store::MailStore::WriteResult::kWritten: break;
  }
  mailDragFile_ = path;
  ui::dragPath() = path;
}

// WM_USER+25: attachment `index` of the shown mail saved for the drag.
void MainWindow::onPrepareAttachmentDrag(WPARAM index) {
  attachments_.removeLast();
  ui::dragPath().clear();
  if (index >= previewMail_.attachments.size()) return;
  ui::dragPath() = attachments_.saveForDrag(previewMail_, static_cast<int32_t>(index), *store_);
}

// WM_USER+22: the first file dropped on the panel becomes a stored mail.
void MainWindow::onImportMail() {
  ui::DroppedFile dropped = ui::takeDroppedFile();
  if (dropped.path.empty()) return;  // no drop waiting: not from our drop target
  const char* path = dropped.path.c_str();
  if (platform::isDirectory(path)) {
    platform::messageBox("フォルダは取り込めません。メールのファイルをドロップしてください。", "Quorvel", kWarning);
    return;
  }
  if (dropped.files > 1)
    platform::messageBox("複数のファイルがドロップされました。最初のファイルだけを取り込みます。", "Quorvel",
                         kWarning);
  if (!store_->importMailFile(path)) {
    platform::messageBox("ドロップされたファイルはメールとして取り込めません。", "Quorvel", kWarning);
    return;
  }
  ++mailbox_->counts().newMailCount;
  if (panel_) panel_->selectNewestRow();
}

}  // namespace app
