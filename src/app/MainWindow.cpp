#include "app/MainWindow.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <vfw.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <string>

#include "check/CheckSummary.h"
#include "command/CommandGuard.h"
#include "ui/Dpi.h"
#include "ui/resource.h"
#include "platform/AppMessages.h"
#include "platform/File.h"
#include "platform/Hooks.h"
#include "platform/Parallel.h"
#include "platform/Shell.h"
#include "platform/Text.h"
#include "commlog/CommLog.h"
#include "oauth/SessionToken.h"

namespace app {

HWND g_mainWindow = nullptr;
const wchar_t kMainWindowClass[] = L"VISTREL_QUORVEL_TORVANEX_BELIK";

namespace {

constexpr UINT_PTR kReceiveTimer = 1;
constexpr int kFirstSplitterPosition = 300;
// 96-DPI units.
constexpr int kFirstWidth = 800, kFirstHeight = 600, kFontHeight = 14;
constexpr UINT kWmDpiChanged = 0x02E0;  // WM_DPICHANGED
// Ticks all the time: a session that has fallen silent ends, a connected
// one re-issues IDLE or polls, a lost one connects again.
constexpr UINT_PTR kSessionWatchTimer = 2;
constexpr UINT kSessionWatchMs = 1000;
constexpr UINT kHhDisplayTopic = 0x0000;
constexpr UINT kHhUninitialize = 0x001D;
using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

commlog::CommLog& log() { return commlog::commLog(); }

// The help file beside quorvel.exe, whatever the current directory is.
std::wstring helpFilePath() {
  std::wstring path(MAX_PATH, L'\0');
  DWORD length;
  while ((length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) == path.size())
    path.resize(path.size() * 2);
  path.resize(length);
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"Quorvel.chm";
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
  if (drawDib_) DrawDibClose(static_cast<HDRAWDIB>(drawDib_));
  if (font_) DeleteObject(font_);
}

bool MainWindow::create() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = sharedWindowProc;
  wc.hInstance = instance_;
  wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_QUORVEL));
  wc.hIconSm = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_QUORVEL_SMALL));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszMenuName = L"MYMENU";
  wc.lpszClassName = kMainWindowClass;
  RegisterClassExW(&wc);
  return createWindow(0, kMainWindowClass, L"Quorvel", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr,
                      instance_) != nullptr;
}

LRESULT MainWindow::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return onCreate();
    case WM_DESTROY: onDestroy(); break;
    case WM_SIZE: onSize(); return 0;
    case kWmDpiChanged: onDpiChanged(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam)); return 0;
    case WM_COMMAND: onCommand(LOWORD(wParam)); return 0;
    case WM_SYSCOMMAND:
      if (!onSysCommand(wParam)) return 0;
      break;
    case WM_TIMER: onTimer(wParam); break;
    case appmsg::kStartup: onStartup(); break;
    case appmsg::kSocket:
      // Only the session's own socket is listened to.
      if (cycle_ && cycle_->socketHandle() == static_cast<intptr_t>(wParam)) onSocketEvent(lParam);
      break;
    case appmsg::kCheckFinished: onCheckFinished(); break;
    case appmsg::kLoadIndex: onLoadIndex(); break;
    case appmsg::kShowMail: onShowMail(); break;
    case appmsg::kOpenAttachment: onOpenAttachment(wParam); break;
    case appmsg::kIntervalChanged: onIntervalChanged(); break;
    case appmsg::kProcessingFinished: onProcessingFinished(); break;
    case appmsg::kOpenHomePage: onOpenHomePage(wParam); break;
    case appmsg::kSaveSettings: onSaveSettings(); break;
    case appmsg::kReloadStore: onReloadStore(); break;
    case appmsg::kImportMail: onImportMail(); break;
    case appmsg::kPrepareAttachmentDrag: onPrepareAttachmentDrag(wParam); break;
    case appmsg::kPrepareMailDrag: onPrepareMailDrag(wParam); break;
    case appmsg::kTokenReady: onTokenReady(); break;
    default: break;
  }
  return ui::WindowObject::handleMessage(window, message, wParam, lParam);
}

// ---- creation, start-up, shutdown ----

LRESULT MainWindow::onCreate() {
  g_mainWindow = window_;
  drawDib_ = DrawDibOpen();
  log().clear();
  dpi_ = ui::windowDpi(window_);
  font_ = createProgramFont(dpi_);
  arrowCursor_ = LoadCursorW(nullptr, IDC_ARROW);
  waitCursor_ = LoadCursorW(nullptr, IDC_WAIT);
  startupDirectory_ = platform::currentDirectory();
  if (startupDirectory_.size() > 259) startupDirectory_.resize(259);
  config::loadSettings(settings_, startupDirectory_.c_str());
  createMailPanel();
  previewMail_.onAttachmentFound = [this](const mime::AttachmentEntry& found) {
    if (panel_) panel_->addAttachment(found.fileName);
  };
  createStore();
  createCommandRunner();
  createCommandKeyList();
  return 0;
}

// The program font: 14 pixels high at 96 DPI.
HFONT MainWindow::createProgramFont(int dpi) {
  return CreateFontW(ui::scaleToDpi(kFontHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"MS 明朝");
}

// Moved to a screen of another DPI: the font, the panel and the window's
// size follow (Windows suggests the new rectangle).
void MainWindow::onDpiChanged(int dpi, const RECT* suggested) {
  if (dpi <= 0 || dpi == dpi_) return;
  HFONT old = font_;
  dpi_ = dpi;
  font_ = createProgramFont(dpi);
  if (panel_) panel_->setDpi(dpi, font_);
  commandKeyList_.setFont(font_);
  if (old) DeleteObject(old);
  if (suggested)
    SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The found commands of the mail being processed, one row each, hidden.
void MainWindow::createCommandKeyList() {
  static const char* const kTitles[] = {"位置", "キー名", "指定値", "ACTION"};
  static const int kWidths[] = {50, 100, 60, 60};
  commandKeyList_ = ui::ListView::create(window_, IDC_COMMAND_KEY_LIST, LVS_REPORT, instance_);
  MoveWindow(commandKeyList_.window(), 0, 0, 250, 500, FALSE);
  commandKeyList_.setFont(font_);
  for (int column = 0; column < 4; ++column)
    commandKeyList_.insertColumn(column, kTitles[column], kWidths[column]);
}

void MainWindow::onStartup() {
  if (started_) return;
  started_ = true;
  if (settings_.windowPlacement.length != 0) {
    WINDOWPLACEMENT wp;
    static_assert(sizeof wp == sizeof settings_.windowPlacement, "placement layout");
    memcpy(&wp, &settings_.windowPlacement, sizeof wp);
    wp.length = sizeof wp;
    SetWindowPlacement(window_, &wp);
    ShowWindow(window_, SW_SHOW);
  } else {
    settings_.splitterPosition = kFirstSplitterPosition;
    if (panel_) panel_->setSplitterPosition(kFirstSplitterPosition);
    // 800 x 600 at 96 DPI, within the screen's work area.
    int width = ui::scaleToDpi(kFirstWidth, dpi_), height = ui::scaleToDpi(kFirstHeight, dpi_);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
      width = std::min<int>(width, monitor.rcWork.right - monitor.rcWork.left);
      height = std::min<int>(height, monitor.rcWork.bottom - monitor.rcWork.top);
    }
    SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOZORDER);
    ShowWindow(window_, SW_SHOW);
  }
  RECT client;
  GetClientRect(window_, &client);
  SendMessageW(window_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
  openStore();
  serverConfigured_ = config::updateServerConfigured(settings_);
  resetReceiveTimer();
  SetTimer(window_, kSessionWatchTimer, kSessionWatchMs, nullptr);
  if (settings_.checkAtStartup) PostMessageW(window_, WM_COMMAND, IDM_RECEIVE, 0);
}

void MainWindow::onDestroy() {
  compactStore();
  saveColumnWidths();
  saveSettingsNow();
  trimStore();
  attachments_.removeLast();
  if (helpLibrary_) {
    auto htmlHelp = reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(helpLibrary_, "HtmlHelpW")));
    if (htmlHelp) htmlHelp(nullptr, nullptr, kHhUninitialize, 0);
  }
  // A check still running is abandoned: no QUIT, the socket ends with the process.
  // A connected IMAP session says DONE and LOGOUT on its way.
  KillTimer(window_, kSessionWatchTimer);
  if (cycle_) cycle_->stop();
  PostQuitMessage(0);
}

void MainWindow::saveSettingsNow() {
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  if (GetWindowPlacement(window_, &wp)) {
    memcpy(&settings_.windowPlacement, &wp, sizeof wp);
    settings_.windowPlacement.length = sizeof wp;
  }
  config::saveSettings(settings_, startupDirectory_.c_str());
}

void MainWindow::onSaveSettings() {
  saveSettingsNow();
  if (cycle_) cycle_->onSettingsChanged(GetTickCount64());
}

void MainWindow::onIntervalChanged() { resetReceiveTimer(); }

void MainWindow::onSize() {
  if (!panel_) return;
  RECT client;
  GetClientRect(window_, &client);
  int margin = ui::scaleToDpi(8, dpi_), bottom = ui::scaleToDpi(6, dpi_);
  SetWindowPos(panel_->window(), nullptr, margin, 0, client.right - 2 * margin, client.bottom - bottom, SWP_NOZORDER);
}

bool MainWindow::onSysCommand(WPARAM command) {
  if ((command & 0xFFF0) != SC_CLOSE || !busy_) return true;
  int answer = platform::messageBox("メール受信中です。中止してよろしいですか？", "Quorvel",
                                    platform::kMbYesNo | platform::kMbIconExclamation |
                                        platform::kMbJapanese);
  return answer == platform::kIdYes;
}

void MainWindow::onCommand(int id) {
  switch (id) {
    case IDM_EXIT: SendMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0); break;
    case IDM_RECEIVE: onReceiveCommand(); break;
    case IDM_SETTINGS:
      if (settings_.panelPasswordRequired && settings_.panelPassword[0])
        openPasswordPrompt();
      else
        openSettingsDialog();
      break;
    case IDM_OPEN_SETTINGS: openSettingsDialog(); break;
    case IDM_CLEAR_LOG: clearStore(); break;
    case IDM_SHOW_COMM_LOG: log().show(); break;
    case IDM_SHOW_SOURCE: showSource(); break;
    case IDM_COMMAND_KEYS: openCommandKeyDialog(); break;
    case IDM_SPAM_RULES: openSpamDialog(); break;
    case IDM_HELP: showHelp(); break;
    case IDM_ABOUT: openAboutDialog(); break;
    default: break;
  }
}

void MainWindow::showHelp() {
  const std::wstring path = helpFilePath();
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    platform::messageBox("操作ガイドのファイル Quorvel.chm が見つかりません。\n"
                         "quorvel.exe と同じフォルダに置いてください。",
                         "Quorvel", platform::kMbOk | platform::kMbIconExclamation | platform::kMbJapanese);
    return;
  }
  if (!helpLibrary_) helpLibrary_ = LoadLibraryW(L"hhctrl.ocx");
  auto htmlHelp = helpLibrary_ ? reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(
                                     GetProcAddress(helpLibrary_, "HtmlHelpW")))
                               : nullptr;
  if (!htmlHelp || !htmlHelp(window_, path.c_str(), kHhDisplayTopic, 0))
    platform::messageBox("操作ガイドを表示できません。", "Quorvel",
                         platform::kMbOk | platform::kMbIconExclamation | platform::kMbJapanese);
}

void MainWindow::pumpOneMessage() {
  MSG msg;
  if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void MainWindow::setReceiveMenuEnabled(bool enabled) {
  EnableMenuItem(GetMenu(window_), IDM_RECEIVE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  DrawMenuBar(window_);
}

void MainWindow::setTitle(const std::string& sjis) {
  SetWindowTextW(window_, platform::toWide(sjis.c_str()).c_str());
}

// ---- mail check ----

void MainWindow::resetReceiveTimer() {
  unsigned period = check::receiveTimerPeriodMs(settings_.intervalMinutes, settings_.intervalSeconds);
  if (timerId_ != 0 && period == 0) {
    KillTimer(window_, kReceiveTimer);
    timerId_ = 0;
  } else if (serverConfigured_ && period != 0) {
    timerId_ = SetTimer(window_, kReceiveTimer, period, nullptr);
  }
}

void MainWindow::onTimer(UINT_PTR id) {
  if (id == CommandRunner::kTimerId) {
    if (commands_) commands_->onTimer();
    return;
  }
  if (id == kSessionWatchTimer) {
    cycle_->onWatchTick(GetTickCount64());
    return;
  }
  if (id != kReceiveTimer || !serverConfigured_ || busy_) return;
  log().clear();
  log().logLine("メール受信タイマ作動");
  SetCursor(waitCursor_);
  setReceiveMenuEnabled(false);
  startCheck();
}

void MainWindow::onReceiveCommand() {
  if (!serverConfigured_) {
    platform::messageBox(
        "メールサーバの設定がまだ指定されていません。\n設定を終えてから行ってください。", nullptr,
        platform::kMbOk | platform::kMbIconExclamation | platform::kMbJapanese);
    return;
  }
  if (busy_) return;
  SetCursor(waitCursor_);
  setReceiveMenuEnabled(false);
  startCheck();
}

void MainWindow::startCheck() { cycle_->startCheck(GetTickCount64()); }

// A check, or new mail pushed by a connected session.
void MainWindow::onBatchStarted() {
  checkStartIndex_ = mailListCount();
  busy_ = 1;
  checkRunning_ = true;
  SetCursor(waitCursor_);
  setReceiveMenuEnabled(false);
}

// The access token of a check, fetched (refreshed when it is about to
// expire) on a worker thread, so that a slow token endpoint never stalls
// the window. The worker owns a copy of the settings and posts
// kTokenReady, which carries nothing; the result waits here.
struct MainWindow::TokenJob {
  config::AppSettings settings;
  HWND window = nullptr;
  std::string token;
  oauth::OAuthResult result;
  oauth::SaslMechanism mechanism = oauth::SaslMechanism::kXoauth2;
  std::atomic<bool> done{false};
};

check::TokenState MainWindow::sessionToken(check::BearerLogin*) {
  auto job = std::make_shared<TokenJob>();
  job->settings = settings_;
  job->window = window_;
  bool started = platform::startDetached([job] {
    job->result = oauth::sessionAccessToken(job->settings, &job->token);
    job->mechanism = oauth::sessionMechanism();
    job->done = true;
    PostMessageW(job->window, appmsg::kTokenReady, 0, 0);
  });
  if (!started) {
    log().logLine("OAuth: アクセストークンを取得できません (スレッドを開始できません)");
    return check::TokenState::kFailed;
  }
  tokenJob_ = job;
  return check::TokenState::kPending;
}

void MainWindow::onTokenReady() {
  if (!tokenJob_ || !tokenJob_->done) return;  // not the answer of a job of ours
  std::shared_ptr<TokenJob> job = std::move(tokenJob_);
  check::BearerLogin login;
  check::TokenState state = check::TokenState::kReady;
  if (job->result.ok()) {
    login.token = job->token;
    login.mechanism = job->mechanism;
  } else {
    log().logLine(oauth::sessionFailureLine(job->result).c_str());
    state = job->result.error == oauth::OAuthError::kInvalidGrant ? check::TokenState::kSignInNeeded
                                                                  : check::TokenState::kFailed;
  }
  job->token.assign(job->token.size(), '\0');
  cycle_->onSessionToken(state, login);
  login.token.assign(login.token.size(), '\0');
}

void MainWindow::onSocketEvent(LPARAM lParam) { cycle_->onSocketEvent(WSAGETSELECTEVENT(lParam)); }

void MainWindow::postCheckFinished() { PostMessageW(window_, appmsg::kCheckFinished, 0, 0); }

bool MainWindow::requestNotifications(net::TcpSocket& socket, int* error) {
  if (WSAAsyncSelect(static_cast<SOCKET>(socket.handle()), window_, appmsg::kSocket,
                     FD_READ | FD_CONNECT | FD_CLOSE) == 0)
    return true;
  *error = WSAGetLastError();
  return false;
}

void MainWindow::cancelNotifications(net::TcpSocket& socket) {
  if (WSAAsyncSelect(static_cast<SOCKET>(socket.handle()), window_, 0, 0) != 0)
    log().logLine(("ERROR [" + std::to_string(WSAGetLastError()) + "] ソケット非ブロッキング失敗").c_str());
}

void MainWindow::onCheckFinished() {
  if (!checkRunning_) return;  // not the end of a check of ours
  checkRunning_ = false;
  processingPending_ = true;
  if (cycle_->onCheckFinished()) {
    playArrivalSound();
    processNewCommandMails();
  } else {
    PostMessageW(window_, appmsg::kProcessingFinished, 0, 0);
  }
}

void MainWindow::playArrivalSound() {
  if (settings_.playSound)
    PlaySoundW(platform::toWide(settings_.soundFile).c_str(), nullptr,
               SND_ASYNC | SND_NOSTOP | SND_NOWAIT | SND_FILENAME);
}

// The check's command mails run one after another in timer steps; the
// runner posts WM_USER+10 when the last has ended.
void MainWindow::processNewCommandMails() {
  if (commands_)
    commands_->processNewCommandMails(mailbox_->counts().commandMails);
  else
    PostMessageW(window_, appmsg::kProcessingFinished, 0, 0);
}

void MainWindow::onProcessingFinished() {
  // Only the end of the check's processing counts, whoever posts this: the
  // last queued command mail has ended.
  if (!processingPending_ || (commands_ && commands_->busy())) return;
  processingPending_ = false;
  busy_ = 0;
  SetCursor(arrowCursor_);
  setReceiveMenuEnabled(true);
  cycle_->onProcessingFinished();  // a connected session fetches what came meanwhile
}

// ---- mail panel ----

void MainWindow::createMailPanel() {
  auto panel = std::make_unique<ui::MailPanel>(static_cast<ui::MailPanelOwner&>(*this), font_);
  ui::ColumnWidths widths;
  std::copy(std::begin(settings_.columnWidths), std::end(settings_.columnWidths), widths.begin());
  if (panel->create(instance_, window_, settings_.splitterPosition, widths)) panel_ = std::move(panel);
}

void MainWindow::onSplitterMoved(int listHeight) { settings_.splitterPosition = listHeight; }

void MainWindow::onColumnWidthsSaved(const ui::ColumnWidths& widths) {
  std::copy(widths.begin(), widths.end(), std::begin(settings_.columnWidths));
}

void MainWindow::saveColumnWidths() {
  if (panel_) panel_->saveColumnWidths();
}

int MainWindow::mailListCount() const { return panel_ ? panel_->rowCount() : 0; }

// ---- mail store and preview ----

void MainWindow::createStore() {
  store_ = std::make_unique<store::MailStore>(log());
  store_->setFolder(settings_.mailLogFolder);
  store_->setOwnerWindow(window_);
  store_->setCompanionFiles({command::kGuardFileName});
  mailbox_ = std::make_unique<check::MailboxCheck>(settings_, *store_, log());
  cycle_ = std::make_unique<check::CheckCycle>(settings_, *mailbox_, static_cast<check::CheckCycleHost&>(*this), log());
  store_->setFaultReporter([this](const store::StoreFault& fault) { reportStoreFault(fault); });
  if (panel_) panel_->attachStore(*store_);
}

void MainWindow::reportStoreFault(const store::StoreFault& fault) {
  // busy_ covers the check, its commands and what they call (the trim
  // before a power-off).
  if (busy_)
    log().logLine(fault.text);
  else
    platform::messageBox(fault.text, fault.caption, fault.flags);
}

void MainWindow::postLoadIndex() {
  loadIndexPending_ = true;
  PostMessageW(window_, appmsg::kLoadIndex, 0, 0);
}

void MainWindow::postReloadStore() {
  reloadPending_ = true;
  PostMessageW(window_, appmsg::kReloadStore, 0, 0);
}

void MainWindow::openStore() {
  if (store_->openStore()) postLoadIndex();
}

void MainWindow::onLoadIndex() {
  if (!loadIndexPending_) return;  // a second load would add every mail again
  loadIndexPending_ = false;
  if (panel_) panel_->beginBatch();
  bool again = store_->loadIndex();
  if (panel_) panel_->endBatch();
  if (again) postLoadIndex();
}

void MainWindow::onReloadStore() {
  if (!reloadPending_) return;
  reloadPending_ = false;
  loadIndexPending_ = false;
  if (store_->reloadStore()) postLoadIndex();
  mailbox_->counts().newMailCount = 0;
}

void MainWindow::clearStore() {
  if (platform::messageBox("メールログを削除してよろしいですか？", "Quorvel",
                           platform::kMbYesNo | platform::kMbIconExclamation | platform::kMbJapanese) !=
      platform::kIdYes)
    return;
  if (store_->clearStore()) mailbox_->counts().newMailCount = 0;
}

void MainWindow::compactStore() { store_->compactStore(); }

void MainWindow::trimStore() { store_->trimStore(settings_.mailLogKeepCount); }

void MainWindow::onShowMail() {
  if (!panel_ || panel_->selectedRow() < 0) return;
  SetFocus(window_);
  panel_->clearAttachments();
  mime::PreviewResult shown = previewMail_.showMail(panel_->selectedEntry(), *store_);
  switch (shown) {
    case mime::PreviewResult::kEmpty:
      panel_->setPreviewText("");
      panel_->layout(false);
      break;
    case mime::PreviewResult::kBody:
    case mime::PreviewResult::kBodyWithAttachments:
      panel_->setPreviewText(withoutSecret(previewMail_.body));
      panel_->layout(shown == mime::PreviewResult::kBodyWithAttachments);
      break;
    case mime::PreviewResult::kOutOfMemory:
      platform::messageBox("メモリー不足です。", "Quorvel", platform::kMbOk | platform::kMbIconExclamation);
      break;
  }
  panel_->focusList();
}

void MainWindow::onOpenAttachment(WPARAM index) {
  if (index >= previewMail_.attachments.size()) return;
  attachments_.open(previewMail_, static_cast<int32_t>(index), *store_);
}

// A text for the preview: every line holding the command-mail secret masked.
std::string MainWindow::withoutSecret(const std::string& text) const {
  return command::maskSecret(
      text, platform::fieldText(settings_.commandSecret));
}

void MainWindow::showSource() {
  if (!panel_ || panel_->selectedRow() < 0) return;
  std::string text;
  if (store_->showSource(&panel_->selectedEntry(), &text)) {
    panel_->setPreviewText(withoutSecret(text));
    panel_->layout(false);
  }
}

// ---- command mails ----

void MainWindow::createCommandRunner() {
  CommandRunnerServices services;
  services.window = window_;
  services.drawDib = drawDib_;
  services.settings = &settings_;
  services.mailModel = [this]() -> const store::MailModel& { return store_->model(); };
  services.mailLog = [this]() -> mime::MailLogReader& { return *store_; };
  services.setMailStatus = [this](mime::MailId mail, int outcome) { setMailStatus(mail, outcome); };
  services.clearPreview = [this]() {
    if (panel_) panel_->setPreviewText("");
  };
  services.saveSettings = [this]() { saveSettingsNow(); };
  services.trimStore = [this]() { trimStore(); };
  services.removeExtractedAttachment = [this]() { attachments_.removeLast(); };
  services.guardFilePath = [this]() { return store_->folder() + "\\" + command::kGuardFileName; };
  services.commandsFinished = [this]() { PostMessageW(window_, appmsg::kProcessingFinished, 0, 0); };
  services.signInNeeded = [this]() { setTitle(check::signInNeededTitle()); };
  commands_ = std::make_unique<CommandRunner>(std::move(services));
}

void MainWindow::setMailStatus(mime::MailId mail, int outcome) {
  static const mime::ArrivalMark kMarks[] = {mime::kMarkRejected, mime::kMarkFailed, mime::kMarkDone,
                                             mime::kMarkRefused};
  static_assert(command::kOutcomeRejected == 0 && command::kOutcomeFailed == 1 && command::kOutcomeDone == 2 &&
                command::kOutcomeRefused == 3);
  if (outcome < 0 || outcome > 3) return;
  store_->model().setArrivalMark(mail, kMarks[outcome]);
}

}  // namespace app
