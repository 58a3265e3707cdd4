// The main window's dialog commands: settings behind the optional
// password, command keys, spam rules, the about box with its two web
// addresses; and the mail panel's export.
#include "app/MainWindow.h"

#include <shellapi.h>

#include <functional>

#include "platform/File.h"
#include "platform/Hooks.h"
#include "platform/Text.h"
#include "ui/SettingsDialogs.h"
#include "ui/resource.h"

namespace app {
namespace {

// The about box's two buttons open these.
const wchar_t kHomePage[] = L"https://quorvel.example.jp/";
const wchar_t kMirrorSite[] = L"https://mirror.quorvel.example.net/";

class StoreFolderHost : public ui::SettingsFormHost {
 public:
  StoreFolderHost(store::MailStore& store, std::function<void()> reload)
      : store_(store), reload_(std::move(reload)) {}
  bool pathExists(const char* path) override { return platform::fileExists(path) || platform::isDirectory(path); }
  bool createFolder(const char* path) override { return platform::makeDirectory(path); }
  // A log already in the new folder: Yes replaces it with the current one,
  // No switches to it (the store is reloaded), Cancel keeps everything.
  bool moveStoreFolder(const char* folder) override {
    auto existing = store::MailStore::ExistingLog::kReplace;
    if (store_.hasLogIn(folder)) {
      int answer = platform::messageBox(
          "新しいメールログ保存先に既存のメールログがあります。\n削除して現行のメールログを移動しますか？\n\n"
          "削除して移動する場合は「はい」、既存のメールログに切替える場合は「いいえ」を押してください。\n"
          "「いいえ」を押した場合、現行のメールログは古いメールログ保存先に残されたままになります。",
          "Quorvel", platform::kMbYesNoCancel | platform::kMbIconExclamation | platform::kMbJapanese);
      if (answer == platform::kIdNo)
        existing = store::MailStore::ExistingLog::kSwitchTo;
      else if (answer != platform::kIdYes)
        return false;
    }
    switch (store_.moveStoreFolder(folder, existing)) {
      case store::MailStore::MoveResult::kMoved: return true;
      case store::MailStore::MoveResult::kSwitched: reload_(); return true;
      case store::MailStore::MoveResult::kFailed: break;
    }
    return false;
  }

 private:
  store::MailStore& store_;
  std::function<void()> reload_;
};

}  // namespace

// A dialog opened while another is up (the command keys and spam rules
// over the settings) is owned by the one on top.
void MainWindow::openSettingsDialog() {
  StoreFolderHost host(*store_, [this]() { postReloadStore(); });
  ui::SettingsDialog dialog(settings_, host, window_, startupDirectory_);
  if (dialog.open(instance_, GetLastActivePopup(window_)) == IDOK)
    serverConfigured_ = config::updateServerConfigured(settings_);
}

void MainWindow::openPasswordPrompt() {
  ui::PasswordDialog dialog(settings_, window_);
  dialog.open(instance_, GetLastActivePopup(window_));
}

void MainWindow::openCommandKeyDialog() {
  ui::CommandKeyDialog dialog(settings_);
  dialog.open(instance_, GetLastActivePopup(window_));
}

void MainWindow::openSpamDialog() {
  ui::SpamDialog dialog(settings_);
  dialog.open(instance_, GetLastActivePopup(window_));
}

void MainWindow::openAboutDialog() {
  ui::AboutDialog dialog(window_);
  dialog.open(instance_, GetLastActivePopup(window_));
}

bool MainWindow::exportMail(const mime::MailIndexEntry& entry, const std::string& folder) {
  return store_->exportMail(entry, folder);
}

void MainWindow::onOpenHomePage(WPARAM which) {
  HINSTANCE result = ShellExecuteW(window_, L"open", which == 0 ? kHomePage : kMirrorSite, nullptr, nullptr,
                                   SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(result) <= 32)
    platform::messageBox("ホームページが見つかりません。", "Quorvel",
                         platform::kMbOk | platform::kMbIconExclamation | platform::kMbJapanese);
}

}  // namespace app
