#include "ui/SignInDialogs.h"

#include <shellapi.h>

#include <cstring>

#include "oauth/Loopback.h"
#include "oauth/SignIn.h"
#include "oauth/TokenStore.h"
#include "platform/Hooks.h"
#include "platform/Parallel.h"
#include "platform/Text.h"
#include "ui/SettingsDialogs.h"
#include "ui/controls/DialogItem.h"
#include "ui/resource.h"

namespace ui {
namespace {

// From the flow's thread to the wait dialog; lParam owns a heap object.
constexpr UINT kUserCodeReady = WM_APP + 1;   // oauth::DeviceAuthorization*
constexpr UINT kOpenBrowser = WM_APP + 2;     // std::string* (the address)
constexpr UINT kSignInFinished = WM_APP + 3;  // oauth::OAuthResult*

constexpr int kBrowserWaitSeconds = oauth::kMaxLoopbackSeconds;

const char* const kProviderNames[] = {"Microsoft", "Google", "その他"};
const int32_t kProviderKinds[] = {oauth::kProviderMicrosoft, oauth::kProviderGoogle, oauth::kProviderOther};

struct Field {
  int id;
  std::string oauth::OAuthProvider::*member;
} const kFields[] = {
    {IDC_OAUTH_AUTH_ENDPOINT, &oauth::OAuthProvider::authorizationEndpoint},
    {IDC_OAUTH_DEVICE_ENDPOINT, &oauth::OAuthProvider::deviceEndpoint},
    {IDC_OAUTH_TOKEN_ENDPOINT, &oauth::OAuthProvider::tokenEndpoint},
    {IDC_OAUTH_CLIENT_ID, &oauth::OAuthProvider::clientId},
    {IDC_OAUTH_CLIENT_SECRET, &oauth::OAuthProvider::clientSecret},
    {IDC_OAUTH_SCOPES, &oauth::OAuthProvider::scopes},
};

HINSTANCE instanceOf(HWND window) { return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)); }

void openInBrowser(const std::string& url) {
  ShellExecuteW(nullptr, L"open", platform::toWide(url.c_str()).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

template <typename T>
void postOwned(HWND window, UINT message, T* object) {
  if (!PostMessageW(window, message, 0, reinterpret_cast<LPARAM>(object))) delete object;
}

}  // namespace

struct SignInRun {
  std::atomic<bool> cancel{false};
  std::atomic<HWND> dialog{nullptr};
  SignInForm form;
  oauth::HttpSecurity security;
  std::string folder;
};

// ---- the sign-in dialog ----

INT_PTR SignInDialog::open(HINSTANCE instance, HWND owner) { return runModal(instance, IDD_SIGNIN, owner); }

void SignInDialog::showForm(const SignInForm& f) {
  for (int i = 0; i < 3; ++i)
    if (kProviderKinds[i] == f.providerKind) SendDlgItemMessageW(window_, IDC_OAUTH_PROVIDER, CB_SETCURSEL, i, 0);
  for (const Field& field : kFields) DialogItem(window_, field.id).setText(f.provider.*field.member);
  DialogItem(window_, IDC_OAUTH_RECEIVE).setChecked(f.receiveAuth);
  DialogItem(window_, IDC_OAUTH_SEND).setChecked(f.sendAuth);
  DialogItem(window_, IDC_OAUTH_DEVICE).setChecked(f.deviceFlow);
  DialogItem(window_, IDC_OAUTH_BROWSER).setChecked(!f.deviceFlow);
}

SignInForm SignInDialog::readControls() const {
  SignInForm f = form_;
  LRESULT selected = SendDlgItemMessageW(window_, IDC_OAUTH_PROVIDER, CB_GETCURSEL, 0, 0);
  f.providerKind = selected >= 0 && selected < 3 ? kProviderKinds[selected] : oauth::kProviderOther;
  for (const Field& field : kFields) f.provider.*field.member = DialogItem(window_, field.id).text();
  f.receiveAuth = DialogItem(window_, IDC_OAUTH_RECEIVE).checked();
  f.sendAuth = DialogItem(window_, IDC_OAUTH_SEND).checked();
  f.deviceFlow = DialogItem(window_, IDC_OAUTH_DEVICE).checked();
  return f;
}

void SignInDialog::signIn() {
  SignInForm f = readControls();
  std::string problem = signInProblem(f);
  if (!problem.empty()) {
    platform::messageBox(problem.c_str(), "Quorvel", platform::kMbOk | platform::kMbIconExclamation | platform::kMbJapanese);
    return;
  }
  SignInWaitDialog wait(f, security_, folder_);
  INT_PTR outcome = wait.open(instanceOf(window_), window_);
  const char* status = outcome == IDOK       ? "サインインしました。"
                       : outcome == IDCANCEL ? "サインインを取り消しました。"
                                             : nullptr;
  DialogItem(window_, IDC_OAUTH_STATUS).setText(status ? status : wait.message());
}

LRESULT SignInDialog::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      font_.apply(window);
      for (const char* name : kProviderNames)
        SendDlgItemMessageW(window, IDC_OAUTH_PROVIDER, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(platform::toWide(name).c_str()));
      showForm(form_);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_OAUTH_PROVIDER:
          if (HIWORD(wParam) == CBN_SELCHANGE) {
            SignInForm f = readControls();
            applyPreset(f, f.providerKind);
            showForm(f);
          }
          return TRUE;
        case IDC_OAUTH_SIGNIN: signIn(); return TRUE;
        case IDOK: {
          form_ = readControls();
          std::string path = folder_ + "\\" + oauth::kProviderFileName;
          if (!oauth::saveProvider(path.c_str(), form_.provider))
            platform::messageBox("OAuthの設定を保存できません。", "Quorvel",
                                 platform::kMbOk | platform::kMbIconExclamation | platform::kMbJapanese);
          EndDialog(window, IDOK);
          return TRUE;
        }
        case IDCANCEL: EndDialog(window, IDCANCEL); return TRUE;
        default: return TRUE;
      }
    default: return WindowObject::handleMessage(window, message, wParam, lParam);
  }
}

// ---- the wait ----

SignInWaitDialog::SignInWaitDialog(const SignInForm& form, const oauth::HttpSecurity& security,
                                   const std::string& folder)
    : run_(std::make_shared<SignInRun>()) {
  run_->form = form;
  run_->security = security;
  run_->folder = folder;
}

INT_PTR SignInWaitDialog::open(HINSTANCE instance, HWND owner) {
  INT_PTR outcome = runModal(instance, IDD_SIGNIN_WAIT, owner);
  run_->dialog = nullptr;
  run_->cancel = true;  // a flow still running stops and stores nothing
  return outcome;
}

void SignInWaitDialog::start() {
  std::shared_ptr<SignInRun> run = run_;
  bool started = platform::startDetached([run] {
    oauth::Tokens tokens;
    oauth::OAuthResult result;
    const oauth::OAuthProvider& provider = run->form.provider;
    if (run->form.deviceFlow) {
      result = oauth::signInWithDevice(provider, run->security, &run->cancel,
                                       [run](const oauth::DeviceAuthorization& device) {
                                         postOwned(run->dialog.load(), kUserCodeReady,
                                                   new oauth::DeviceAuthorization(device));
                                       },
                                       &tokens);
    } else {
      result = oauth::signInWithBrowser(provider, run->security, &run->cancel, kBrowserWaitSeconds,
                                        [run](const std::string& url) {
                                          postOwned(run->dialog.load(), kOpenBrowser, new std::string(url));
                                        },
                                        &tokens);
    }
    // Nothing is stored once the user cancelled.
    if (result.ok() && !run->cancel) {
      oauth::TokenFile file;
      file.tokens = tokens;
      std::string tokenPath = run->folder + "\\" + oauth::kTokenFileName;
      std::string providerPath = run->folder + "\\" + oauth::kProviderFileName;
      if (!oauth::saveTokenFile(tokenPath.c_str(), file) || !oauth::saveProvider(providerPath.c_str(), provider))
        result = oauth::OAuthResult{oauth::OAuthError::kServer, "トークンを保存できません"};
    }
    postOwned(run->dialog.load(), kSignInFinished, new oauth::OAuthResult(result));
  });
  if (!started) {
    message_ = "サインインを始められません";
    EndDialog(window_, IDABORT);
  }
}

void SignInWaitDialog::copyCode() {
  std::wstring code = platform::toWide(DialogItem(window_, IDC_WAIT_CODE).text().c_str());
  if (code.empty() || !OpenClipboard(window_)) return;
  EmptyClipboard();
  size_t bytes = (code.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory) {
    std::memcpy(GlobalLock(memory), code.c_str(), bytes);
    GlobalUnlock(memory);
    if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
  }
  CloseClipboard();
}

LRESULT SignInWaitDialog::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      font_.apply(window);
      run_->dialog = window;
      DialogItem(window, IDC_WAIT_TEXT)
          .setText(run_->form.deviceFlow ? "コードを問い合わせています…"
                                         : "ブラウザでサインインしてください。終わるとこの画面は閉じます。");
      for (int id : {IDC_WAIT_COPY, IDC_WAIT_OPEN}) DialogItem(window, id).enable(false);
      start();
      return TRUE;
    case kUserCodeReady: {
      std::unique_ptr<oauth::DeviceAuthorization> device(reinterpret_cast<oauth::DeviceAuthorization*>(lParam));
      uri_ = device->verificationUri;
      DialogItem(window, IDC_WAIT_TEXT).setText("次のアドレスをブラウザで開き、コードを入力してください。");
      DialogItem(window, IDC_WAIT_URI).setText(uri_);
      DialogItem(window, IDC_WAIT_CODE).setText(device->userCode);
      for (int id : {IDC_WAIT_COPY, IDC_WAIT_OPEN}) DialogItem(window, id).enable(true);
      return TRUE;
    }
    case kOpenBrowser: {
      std::unique_ptr<std::string> url(reinterpret_cast<std::string*>(lParam));
      uri_ = *url;
      DialogItem(window, IDC_WAIT_URI).setText(uri_);
      DialogItem(window, IDC_WAIT_OPEN).enable(true);
      openInBrowser(uri_);
      return TRUE;
    }
    case kSignInFinished: {
      std::unique_ptr<oauth::OAuthResult> result(reinterpret_cast<oauth::OAuthResult*>(lParam));
      message_ = result->message;
      EndDialog(window, result->ok() ? IDOK : result->error == oauth::OAuthError::kCancelled ? IDCANCEL : IDABORT);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_WAIT_COPY: copyCode(); return TRUE;
        case IDC_WAIT_OPEN: openInBrowser(uri_); return TRUE;
        case IDCANCEL:
          run_->cancel = true;
          EndDialog(window, IDCANCEL);
          return TRUE;
        default: return TRUE;
      }
    default: return WindowObject::handleMessage(window, message, wParam, lParam);
  }
}

}  // namespace ui
