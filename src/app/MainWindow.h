// The program's main window: creation, start-up and shutdown, the menu
// commands, the receive timer and the dispatch of the program's own
// WM_USER messages.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "app/CommandRunner.h"
#include "check/CheckCycle.h"
#include "check/MailboxCheck.h"
#include "config/AppSettings.h"
#include "mime/AttachmentOpener.h"
#include "mime/MimeMessage.h"
#include "store/MailStore.h"
#include "ui/MailPanel.h"
#include "ui/WindowObject.h"
#include "ui/controls/ListView.h"

namespace app {


extern const wchar_t kMainWindowClass[];

class MainWindow : public ui::WindowObject, private check::CheckCycleHost, private ui::MailPanelOwner {
 public:
  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;

  // Registers the class and creates the window; false when it cannot.
  bool create();
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  // Services for other parts of the program.
  void pumpOneMessage();
  void setReceiveMenuEnabled(bool enabled);
  void setTitle(const std::string& sjis) override;

  config::AppSettings& settings() { return settings_; }

 private:
  // Message handlers, in the order of the dispatch table.
  LRESULT onCreate();
  void onDestroy();
  void onSize();
  void onDpiChanged(int dpi, const RECT* suggested);
  static HFONT createProgramFont(int dpi);
  void onCommand(int id);
  // False when the close command was declined (the message is not passed on).
  bool onSysCommand(WPARAM command);
  void onTimer(UINT_PTR id);
  void onStartup();
  void onSocketEvent(LPARAM lParam);
  void onCheckFinished();
  void onLoadIndex();
  void onShowMail();
  void onOpenAttachment(WPARAM index);
  void onIntervalChanged();
  void onProcessingFinished();
  void onOpenHomePage(WPARAM which);
  void onSaveSettings();
  void onReloadStore();
  // The dropped file waits in the panel's drop state (ui::takeDroppedFile);
  // the message itself carries nothing.
  void onImportMail();
  void onPrepareAttachmentDrag(WPARAM index);
  void onPrepareMailDrag(WPARAM index);

  // Mail check.
  void resetReceiveTimer();
  void onReceiveCommand();
  void startCheck();
  void processNewCommandMails();

  void playArrivalSound();

  // Command processing (CommandRunner.cpp sits behind this).
  void createCommandRunner();
  // A command::Outcome into the status of a mail of the model.
  void setMailStatus(mime::MailId mail, int outcome);

  // The panel, the store, the dialogs.
  void createMailPanel();
  void createStore();
  void createCommandKeyList();
  void openStore();
  void clearStore();
  void showSource();
  std::string withoutSecret(const std::string& text) const;
  void openSettingsDialog();
  void openPasswordPrompt();
  void openCommandKeyDialog();
  void openSpamDialog();
  void openAboutDialog();
  void compactStore();
  // Shows a store failure in a box, or writes it to the communication log
  // while a check and its commands run (nothing may wait for a click).
  void reportStoreFault(const store::StoreFault& fault);
  // WM_USER+4 and WM_USER+17 are acted on only when the program posted them.
  void postLoadIndex();
  void postReloadStore();
  void saveColumnWidths();
  void trimStore();
  int mailListCount() const;

  void showHelp();
  void saveSettingsNow();

  // ui::MailPanelOwner: the panel's reports, kept in the settings record.
  void onSplitterMoved(int listHeight) override;
  void onColumnWidthsSaved(const ui::ColumnWidths& widths) override;
  bool exportMail(const mime::MailIndexEntry& entry, const std::string& folder) override;

  // check::CheckCycleHost: the cycle runs the sessions; the decisions are
  // the mailbox check's.
  void onBatchStarted() override;
  void postCheckFinished() override;
  bool requestNotifications(net::TcpSocket& socket, int* error) override;
  void cancelNotifications(net::TcpSocket& socket) override;
  check::TokenState sessionToken(check::BearerLogin* login) override;
  void onTokenReady();

  HINSTANCE instance_;
  config::AppSettings settings_{};
  bool serverConfigured_ = false;
  std::string startupDirectory_;
  HFONT font_ = nullptr;
  int dpi_ = 96;
  HCURSOR arrowCursor_ = nullptr;
  HCURSOR waitCursor_ = nullptr;
  void* drawDib_ = nullptr;
  ui::ListView commandKeyList_;
  HMODULE helpLibrary_ = nullptr;

  // Check state.
  int busy_ = 0;
  bool checkRunning_ = false;     // a session runs; its WM_USER+3 is awaited
  bool processingPending_ = false;  // WM_USER+10 is awaited
  bool started_ = false;
  bool loadIndexPending_ = false;
  bool reloadPending_ = false;
  int checkStartIndex_ = 0;
  std::unique_ptr<check::MailboxCheck> mailbox_;  // the check's decisions and counts
  std::unique_ptr<check::CheckCycle> cycle_;      // the sessions, batches and push
  struct TokenJob;
  std::shared_ptr<TokenJob> tokenJob_;  // the access token being fetched on a worker thread
  UINT_PTR timerId_ = 0;
  std::unique_ptr<ui::MailPanel> panel_;
  std::unique_ptr<store::MailStore> store_;
  mime::MimeMessage previewMail_;  // the mail shown in the preview
  mime::AttachmentOpener attachments_;  // the attachment last saved to open or drag
  std::string mailDragFile_;            // the mail file last prepared for a drag
  std::unique_ptr<CommandRunner> commands_;
};

// The one main window, through which every part posts to the window.
extern HWND g_mainWindow;

}  // namespace app
