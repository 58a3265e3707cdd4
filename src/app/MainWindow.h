// The program's main window: creation, start-up and shutdown, the menu
// commands, the receive timer and the dispatch of the program's own
// WM_USER messages.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "app/CommandRunner.h"
#include "config/AppSettings.h"
#include "ui/WindowObject.h"
#include "mime/AttachmentOpener.h"
#include "mime/MimeMessage.h"
#include "pop3/Pop3Session.h"
#include "check/MailCheck.h"
#include "store/MailStore.h"
#include "ui/MailPanel.h"

namespace app {


extern const wchar_t kMainWindowClass[];

class MainWindow : public ui::WindowObject, private pop3::Pop3Host {
 public:
  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;

  // Registers the class and creates the window; false when it cannot.
  bool create();
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  // Services for other parts of the program.
  void pumpOneMessage();
  void setReceiveMenuEnabled(bool enabled);
  void setTitle(const std::string& sjis);

  config::AppSettings& settings() { return settings_; }

 private:
  // Message handlers.
  LRESULT onCreate();
  void onDestroy();
  void onSize();
  void onCommand(int id);
  bool onCloseRequest();
  void onTimer(UINT_PTR id);
  void onStartup();
  void onSocketEvent(LPARAM lParam);
  void onCheckFinished();
  void onProcessingFinished();
  void onSaveSettings();

  // Mail check.
  void resetReceiveTimer();
  void onReceiveCommand();
  void startCheck();
  void processNewCommandMails();

  // Command processing (CommandRunner.cpp sits behind these).
  void createCommandRunner();
  void onNextCommand();
  void playArrivalSound();

  // Handlers of later subsystems.
  void createMailPanel();
  void createStore();
  void openStore();
  void loadIndex();
  void showSelectedMail();
  void openAttachment(WPARAM index);
  void addAttachmentItem(WPARAM index);
  void openHomePage(WPARAM which);
  void reloadStore();
  // wParam: a Shift_JIS path allocated with new char[]; the handler frees it.
  void importMailFile(WPARAM file);
  void prepareAttachmentDrag(WPARAM index);
  void prepareMailDrag(WPARAM index);
  void clearStore();
  void showSource();
  std::string withoutSecret(const std::string& text) const;
  void openSettingsDialog();
  void openPasswordPrompt();
  void openCommandKeyDialog();
  void openSpamDialog();
  void openAboutDialog();
  void compactStore();
  void saveColumnWidths();
  void trimStore();
  int mailListCount() const;

  void showHelp();
  void saveSettingsNow();

  // pop3::Pop3Host
  pop3::MessageAnswer onMessageComplete(const char* data, size_t length) override;
  void onSessionFailed() override;
  void onSessionEnded() override;
  int newMailCount() const override { return counts_.newMailCount; }
  bool requestNotifications(net::TcpSocket& socket, int* error) override;
  bool cancelNotifications(net::TcpSocket& socket, int* error) override;
  // The replay guard remembers a mail kept on the server by its UIDL.
  bool wantsUniqueIds() const override { return settings_.replayGuard && settings_.keepOnServer; }

  HINSTANCE instance_;
  config::AppSettings settings_{};
  bool serverConfigured_ = false;
  std::string startupDirectory_;
  HFONT font_ = nullptr;
  HCURSOR arrowCursor_ = nullptr;
  HCURSOR waitCursor_ = nullptr;
  void* drawDib_ = nullptr;
  HWND commandKeyList_ = nullptr;
  HMODULE helpLibrary_ = nullptr;

  // Check state.
  int busy_ = 0;
  int checkStartIndex_ = 0;
  check::CheckCounts counts_;
  int failureCount_ = 0;
  UINT_PTR timerId_ = 0;
  std::unique_ptr<pop3::Pop3Session> session_;
  std::unique_ptr<ui::MailPanel> panel_;
  store::MemoryMailList noPanelList_;  // when the panel could not be created
  std::unique_ptr<store::MailStore> store_;
  mime::MimeMessage checkMail_;    // the mail being downloaded
  mime::MimeMessage previewMail_;  // the mail shown in the preview
  mime::AttachmentOpener attachments_;  // the attachment last saved to open or drag
  std::unique_ptr<CommandRunner> commands_;
};

// The one main window, through which every part posts to the window.
extern HWND g_mainWindow;

}  // namespace app
