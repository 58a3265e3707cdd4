// qvdriver: drives another program's windows from outside, as a user would,
// and reports what it sees as one JSON document in UTF-8.
//
//   qvdriver [-o FILE] COMMAND ARGS...
//
// Window handles and process ids are decimal. Text arguments are hex-encoded
// UTF-8 (Wine drops the high bit of non-ASCII command-line characters).
// Exit code: 0 done, 1 the awaited state did not come (or a post failed),
// 2 an error ({"ok": false, "error": ...}: bad usage, no such window, ...).
// See usage() for the commands.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <ole2.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Json.h"

namespace {

using qvd::Json;

constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 15;

struct Failure {
  std::string message;
};

[[noreturn]] void fail(const std::string& message) { throw Failure{message}; }

unsigned long long handleValue(HWND w) {
  return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(w));
}

long long number(const std::wstring& s) {
  wchar_t* end = nullptr;
  long long v = std::wcstoll(s.c_str(), &end, 0);
  if (s.empty() || *end != L'\0') fail("not a number: " + qvd::toUtf8(s));
  return v;
}

HWND windowArg(const std::wstring& s) {
  HWND w = reinterpret_cast<HWND>(static_cast<uintptr_t>(number(s)));
  if (!IsWindow(w)) fail("no such window: " + qvd::toUtf8(s));
  return w;
}

std::wstring hexText(const std::wstring& hex) {
  if (hex.size() % 2) fail("odd hex length");
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    bytes += static_cast<char>(std::wcstol(hex.substr(i, 2).c_str(), nullptr, 16));
  }
  return qvd::fromUtf8(bytes);
}

ULONGLONG now() { return GetTickCount64(); }

// Control `id` of dialog `d`. Under load Wine has once missed a control of
// another process's dialog that was there a moment before and after, so the
// lookup is repeated for up to two seconds; a failure says what was there.
HWND dialogControl(HWND d, int id) {
  ULONGLONG end = now() + 2000;
  for (;;) {
    if (HWND c = GetDlgItem(d, id)) return c;
    if (!IsWindow(d) || now() >= end) break;
    Sleep(kPollMs);
  }
  wchar_t title[128] = L"";
  GetWindowTextW(d, title, 128);
  fail("no control " + std::to_string(id) + " in window " + std::to_string(reinterpret_cast<uintptr_t>(d)) +
       (IsWindow(d) ? " \"" + qvd::toUtf8(title) + "\"" : " (gone)"));
}

std::wstring className(HWND w) {
  wchar_t buf[256] = {};
  GetClassNameW(w, buf, 256);
  return buf;
}

// The window's own name as the window manager keeps it (no message is sent).
std::wstring windowName(HWND w) {
  int n = GetWindowTextLengthW(w);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(w, s.data(), n + 1);
  s.resize(static_cast<size_t>(n > 0 ? n : 0));
  return s;
}

// A control's current text, asked from its owner with WM_GETTEXT.
std::wstring controlText(HWND w) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length)) {
    return windowName(w);
  }
  std::wstring s(length + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(w, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(s.data()),
                      SMTO_ABORTIFHUNG, kSendTimeoutMs, &got);
  s.resize(got <= length ? got : length);
  return s;
}

DWORD processOf(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  return pid;
}

// Height of the menu bar: what the frame holds beyond borders and caption.
int menuBarHeight(HWND w) {
  RECT outer, client;
  GetWindowRect(w, &outer);
  GetClientRect(w, &client);
  RECT bare = client;
  AdjustWindowRectEx(&bare, static_cast<DWORD>(GetWindowLongPtrW(w, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(w, GWL_EXSTYLE)));
  return (outer.bottom - outer.top) - (bare.bottom - bare.top);
}

void writeWindow(Json& j, HWND w) {
  RECT r, c;
  GetWindowRect(w, &r);
  GetClientRect(w, &c);
  j.beginObject();
  j.key("hwnd").unum(handleValue(w));
  j.key("pid").unum(processOf(w));
  j.key("class").str(className(w));
  j.key("title").str(windowName(w));
  j.key("rect").rect(r);
  j.key("client").beginArray().num(c.right).num(c.bottom).endArray();
  j.key("visible").boolean(IsWindowVisible(w));
  j.key("iconic").boolean(IsIconic(w));
  j.key("zoomed").boolean(IsZoomed(w));
  j.key("enabled").boolean(IsWindowEnabled(w));
  j.key("foreground").boolean(GetForegroundWindow() == w);
  j.key("style").unum(static_cast<DWORD>(GetWindowLongPtrW(w, GWL_STYLE)));
  j.key("exstyle").unum(static_cast<DWORD>(GetWindowLongPtrW(w, GWL_EXSTYLE)));
  j.key("owner").unum(handleValue(GetWindow(w, GW_OWNER)));
  j.key("menu_bar_height").num(menuBarHeight(w));
  j.endObject();
}

std::vector<HWND> topWindows(const std::wstring& cls, DWORD pid, bool visibleOnly) {
  struct Query {
    const std::wstring* cls;
    DWORD pid;
    bool visibleOnly;
    std::vector<HWND> found;
  } q{&cls, pid, visibleOnly, {}};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* q = reinterpret_cast<Query*>(p);
        if (!q->cls->empty() && className(w) != *q->cls) return TRUE;
        if (q->pid && processOf(w) != q->pid) return TRUE;
        if (q->visibleOnly && !IsWindowVisible(w)) return TRUE;
        q->found.push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&q));
  return q.found;
}

std::vector<HWND> directChildren(HWND parent) {
  std::vector<HWND> out;
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
  return out;
}

// Resolves "SplitPanel/#110": each step is a direct child, by class name or
// by "#" and control id. An empty path or "." is the window itself.
HWND resolvePath(HWND root, const std::wstring& path) {
  HWND at = root;
  size_t pos = 0;
  while (pos < path.size()) {
    size_t slash = path.find(L'/', pos);
    std::wstring step = path.substr(pos, slash == std::wstring::npos ? std::wstring::npos : slash - pos);
    pos = slash == std::wstring::npos ? path.size() : slash + 1;
    if (step.empty() || step == L".") continue;
    HWND next = nullptr;
    for (HWND c : directChildren(at)) {
      bool match = step[0] == L'#' ? GetDlgCtrlID(c) == number(step.substr(1)) : className(c) == step;
      if (match) {
        next = c;
        break;
      }
    }
    if (!next) fail("no child " + qvd::toUtf8(step) + " in " + qvd::toUtf8(path));
    at = next;
  }
  return at;
}

void writeTree(Json& j, HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  j.beginObject();
  j.key("hwnd").unum(handleValue(w));
  j.key("class").str(className(w));
  j.key("id").num(GetDlgCtrlID(w));
  j.key("text").str(controlText(w));
  j.key("rect").rect(r);
  j.key("visible").boolean(IsWindowVisible(w));
  j.key("enabled").boolean(IsWindowEnabled(w));
  j.key("children").beginArray();
  for (HWND c : directChildren(w)) writeTree(j, c);
  j.endArray();
  j.endObject();
}

// Memory in another process, for messages whose pointers Wine does not marshal.
class RemoteMemory {
 public:
  RemoteMemory(DWORD pid, size_t size) : size_(size) {
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                               PROCESS_QUERY_INFORMATION,
                           FALSE, pid);
    if (!process_) fail("OpenProcess failed: " + std::to_string(GetLastError()));
    base_ = static_cast<char*>(
        VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!base_) {
      CloseHandle(process_);
      fail("VirtualAllocEx failed: " + std::to_string(GetLastError()));
    }
  }
  ~RemoteMemory() {
    VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    CloseHandle(process_);
  }
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;

  char* at(size_t offset) const { return base_ + offset; }
  void write(size_t offset, const void* data, size_t n) {
    if (!WriteProcessMemory(process_, base_ + offset, data, n, nullptr)) fail("WriteProcessMemory failed");
  }
  void read(size_t offset, void* data, size_t n) {
    if (!ReadProcessMemory(process_, base_ + offset, data, n, nullptr)) fail("ReadProcessMemory failed");
  }
  size_t size() const { return size_; }

 private:
  HANDLE process_ = nullptr;
  char* base_ = nullptr;
  size_t size_;
};

LRESULT sendChecked(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(w, msg, wp, lp, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) {
    fail("message " + std::to_string(msg) + " got no answer");
  }
  return static_cast<LRESULT>(result);
}

constexpr size_t kTextOffset = 4096;
constexpr int kTextChars = 16384;

std::wstring remoteItemText(HWND list, RemoteMemory& mem, int row, int column) {
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = reinterpret_cast<LPWSTR>(mem.at(kTextOffset));
  item.cchTextMax = kTextChars;
  mem.write(0, &item, sizeof item);
  wchar_t zero = 0;
  mem.write(kTextOffset, &zero, sizeof zero);
  LRESULT n = sendChecked(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                          reinterpret_cast<LPARAM>(mem.at(0)));
  if (n <= 0) return {};
  if (n >= kTextChars) n = kTextChars - 1;
  std::wstring s(static_cast<size_t>(n), L'\0');
  mem.read(kTextOffset, s.data(), static_cast<size_t>(n) * sizeof(wchar_t));
  return s;
}

std::wstring remoteColumnText(HWND list, RemoteMemory& mem, int column) {
  LVCOLUMNW col{};
  col.mask = LVCF_TEXT;
  col.pszText = reinterpret_cast<LPWSTR>(mem.at(kTextOffset));
  col.cchTextMax = kTextChars;
  mem.write(0, &col, sizeof col);
  std::vector<wchar_t> zeros(256, 0);
  mem.write(kTextOffset, zeros.data(), zeros.size() * sizeof(wchar_t));
  if (!sendChecked(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column),
                   reinterpret_cast<LPARAM>(mem.at(0)))) {
    return {};
  }
  std::vector<wchar_t> buf(kTextChars, 0);
  mem.read(kTextOffset, buf.data(), buf.size() * sizeof(wchar_t));
  buf.back() = 0;
  return buf.data();
}

// ---- commands -------------------------------------------------------------

using Args = std::vector<std::wstring>;

void needArgs(const Args& a, size_t n, const char* form) {
  if (a.size() < n) fail(std::string("usage: ") + form);
}

// find CLASS [TIMEOUT_MS] [any]: top-level windows of a class (visible ones
// unless "any"), waiting up to TIMEOUT_MS for the first.
int cmdFind(Json& j, const Args& a) {
  needArgs(a, 1, "find CLASS [TIMEOUT_MS] [any]");
  DWORD timeout = a.size() > 1 ? static_cast<DWORD>(number(a[1])) : 0;
  bool visibleOnly = !(a.size() > 2 && a[2] == L"any");
  ULONGLONG end = now() + timeout;
  std::vector<HWND> found;
  for (;;) {
    found = topWindows(a[0], 0, visibleOnly);
    if (!found.empty() || now() >= end) break;
    Sleep(kPollMs);
  }
  j.key("windows").beginArray();
  for (HWND w : found) writeWindow(j, w);
  j.endArray();
  return found.empty() ? 1 : 0;
}

// info HWND
int cmdInfo(Json& j, const Args& a) {
  needArgs(a, 1, "info HWND");
  j.key("window");
  writeWindow(j, windowArg(a[0]));
  return 0;
}

// wait-title HWND equals|contains|differs HEXTEXT TIMEOUT_MS
int cmdWaitTitle(Json& j, const Args& a) {
  needArgs(a, 4, "wait-title HWND equals|contains|differs HEXTEXT TIMEOUT_MS");
  HWND w = windowArg(a[0]);
  std::wstring text = hexText(a[2]);
  ULONGLONG end = now() + static_cast<ULONGLONG>(number(a[3]));
  bool matched = false;
  for (;;) {
    if (!IsWindow(w)) break;
    std::wstring title = windowName(w);
    if (a[1] == L"equals") matched = title == text;
    else if (a[1] == L"contains") matched = title.find(text) != std::wstring::npos;
    else if (a[1] == L"differs") matched = title != text;
    else fail("unknown match mode");
    if (matched || now() >= end) break;
    Sleep(kPollMs);
  }
  j.key("matched").boolean(matched);
  j.key("exists").boolean(IsWindow(w));
  if (IsWindow(w)) {
    j.key("window");
    writeWindow(j, w);
  }
  return matched ? 0 : 1;
}

// wait-gone HWND TIMEOUT_MS
int cmdWaitGone(Json& j, const Args& a) {
  needArgs(a, 2, "wait-gone HWND TIMEOUT_MS");
  HWND w = reinterpret_cast<HWND>(static_cast<uintptr_t>(number(a[0])));
  ULONGLONG end = now() + static_cast<ULONGLONG>(number(a[1]));
  while (IsWindow(w) && now() < end) Sleep(kPollMs);
  j.key("gone").boolean(!IsWindow(w));
  return IsWindow(w) ? 1 : 0;
}

// post HWND MSG WPARAM LPARAM / send HWND MSG WPARAM LPARAM
int cmdPost(Json& j, const Args& a, bool send) {
  needArgs(a, 4, "post|send HWND MSG WPARAM LPARAM");
  HWND w = windowArg(a[0]);
  UINT msg = static_cast<UINT>(number(a[1]));
  WPARAM wp = static_cast<WPARAM>(number(a[2]));
  LPARAM lp = static_cast<LPARAM>(number(a[3]));
  if (send) {
    j.key("result").num(sendChecked(w, msg, wp, lp));
    return 0;
  }
  BOOL ok = PostMessageW(w, msg, wp, lp);
  j.key("posted").boolean(ok);
  return ok ? 0 : 1;
}

// command HWND ID: a menu command, as the menu posts it.
int cmdCommand(Json& j, const Args& a) {
  needArgs(a, 2, "command HWND ID");
  BOOL ok = PostMessageW(windowArg(a[0]), WM_COMMAND, MAKEWPARAM(number(a[1]), 0), 0);
  j.key("posted").boolean(ok);
  return ok ? 0 : 1;
}

// close HWND [sc|wm]: the close box (SC_CLOSE, default) or WM_CLOSE.
int cmdClose(Json& j, const Args& a) {
  needArgs(a, 1, "close HWND [sc|wm]");
  HWND w = windowArg(a[0]);
  bool wm = a.size() > 1 && a[1] == L"wm";
  BOOL ok = wm ? PostMessageW(w, WM_CLOSE, 0, 0) : PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);
  j.key("posted").boolean(ok);
  return ok ? 0 : 1;
}

// show HWND SW: ShowWindowAsync with a SW_* number (6 minimise, 0 hide).
int cmdShow(Json& j, const Args& a) {
  needArgs(a, 2, "show HWND SW");
  HWND w = windowArg(a[0]);
  ShowWindowAsync(w, static_cast<int>(number(a[1])));
  j.key("done").boolean(true);
  return 0;
}

// foreground: the foreground window, if any.
int cmdForeground(Json& j, const Args&) {
  HWND w = GetForegroundWindow();
  j.key("window");
  if (w) writeWindow(j, w);
  else j.null();
  return 0;
}

// children HWND: the tree of child windows with their texts.
int cmdChildren(Json& j, const Args& a) {
  needArgs(a, 1, "children HWND");
  j.key("tree");
  writeTree(j, windowArg(a[0]));
  return 0;
}

// text HWND PATH: a child's text (WM_GETTEXT).
int cmdText(Json& j, const Args& a) {
  needArgs(a, 1, "text HWND [PATH]");
  HWND c = resolvePath(windowArg(a[0]), a.size() > 1 ? a[1] : L"");
  j.key("hwnd").unum(handleValue(c));
  j.key("text").str(controlText(c));
  return 0;
}

// list HWND PATH: every row and column of a list view, hidden columns too.
int cmdList(Json& j, const Args& a) {
  needArgs(a, 1, "list HWND [PATH]");
  HWND list = resolvePath(windowArg(a[0]), a.size() > 1 ? a[1] : L"");
  HWND header = reinterpret_cast<HWND>(sendChecked(list, LVM_GETHEADER, 0, 0));
  int columns = header ? static_cast<int>(sendChecked(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  int rows = static_cast<int>(sendChecked(list, LVM_GETITEMCOUNT, 0, 0));
  RemoteMemory mem(processOf(list), kTextOffset + kTextChars * sizeof(wchar_t));
  RECT r;
  GetWindowRect(list, &r);
  j.key("hwnd").unum(handleValue(list));
  j.key("class").str(className(list));
  j.key("rect").rect(r);
  j.key("visible").boolean(IsWindowVisible(list));
  j.key("view").unum(static_cast<DWORD>(GetWindowLongPtrW(list, GWL_STYLE)) & LVS_TYPEMASK);
  j.key("count").num(rows);
  j.key("columns").beginArray();
  for (int c = 0; c < columns; ++c) {
    j.beginObject();
    j.key("text").str(remoteColumnText(list, mem, c));
    j.key("width").num(sendChecked(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(c), 0));
    j.endObject();
  }
  j.endArray();
  std::vector<int> selected;
  int focused = -1;
  j.key("rows").beginArray();
  for (int row = 0; row < rows; ++row) {
    j.beginArray();
    for (int c = 0; c < columns; ++c) j.str(remoteItemText(list, mem, row, c));
    j.endArray();
    LRESULT state = sendChecked(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row),
                                LVIS_SELECTED | LVIS_FOCUSED);
    if (state & LVIS_SELECTED) selected.push_back(row);
    if (state & LVIS_FOCUSED) focused = row;
  }
  j.endArray();
  j.key("selected").beginArray();
  for (int s : selected) j.num(s);
  j.endArray();
  j.key("focused").num(focused);
  return 0;
}

void writeDialog(Json& j, HWND d) {
  j.beginObject();
  j.key("hwnd").unum(handleValue(d));
  j.key("pid").unum(processOf(d));
  j.key("title").str(windowName(d));
  j.key("owner").unum(handleValue(GetWindow(d, GW_OWNER)));
  HWND message = GetDlgItem(d, 0xFFFF);
  j.key("text");
  if (message) j.str(controlText(message));
  else j.null();
  j.key("controls").beginArray();
  for (HWND c : directChildren(d)) {
    j.beginObject();
    j.key("hwnd").unum(handleValue(c));
    j.key("id").num(GetDlgCtrlID(c) & 0xFFFF);
    j.key("class").str(className(c));
    j.key("text").str(controlText(c));
    j.key("visible").boolean(IsWindowVisible(c));
    j.key("enabled").boolean(IsWindowEnabled(c));
    if (className(c) == L"Button") j.key("checked").boolean(SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED);
    j.endObject();
  }
  j.endArray();
  j.endObject();
}

// dialogs PID TIMEOUT_MS: visible dialogs ("#32770") of a process (PID 0:
// of any process), waiting up to TIMEOUT_MS for the first.
int cmdDialogs(Json& j, const Args& a) {
  needArgs(a, 2, "dialogs PID TIMEOUT_MS");
  DWORD pid = static_cast<DWORD>(number(a[0]));
  ULONGLONG end = now() + static_cast<ULONGLONG>(number(a[1]));
  std::vector<HWND> found;
  for (;;) {
    found = topWindows(L"#32770", pid, true);
    if (!found.empty() || now() >= end) break;
    Sleep(kPollMs);
  }
  j.key("dialogs").beginArray();
  for (HWND d : found) writeDialog(j, d);
  j.endArray();
  return found.empty() ? 1 : 0;
}

// press DIALOG ID: clicks a button of a dialog.
int cmdPress(Json& j, const Args& a) {
  needArgs(a, 2, "press HWND ID");
  HWND d = windowArg(a[0]);
  int id = static_cast<int>(number(a[1]));
  HWND button = GetDlgItem(d, id);
  BOOL ok = PostMessageW(d, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  j.key("posted").boolean(ok);
  j.key("button").boolean(button != nullptr);
  return ok ? 0 : 1;
}

// set-text DIALOG ID HEXTEXT: types a text into a dialog's control
// (WM_SETTEXT, which Windows carries across processes).
int cmdSetText(Json& j, const Args& a) {
  needArgs(a, 3, "set-text HWND ID HEXTEXT");
  HWND c = dialogControl(windowArg(a[0]), static_cast<int>(number(a[1])));
  std::wstring text = hexText(a[2]);
  DWORD_PTR result = 0;
  BOOL ok = SendMessageTimeoutW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_BLOCK, 5000,
                                &result) != 0;
  j.key("set").boolean(ok && result);
  return ok && result ? 0 : 1;
}

// check DIALOG ID 0|1: clicks a check box until it shows the state, as a
// user would (the dialog hears BN_CLICKED).
int cmdCheck(Json& j, const Args& a) {
  needArgs(a, 3, "check HWND ID 0|1");
  HWND d = windowArg(a[0]);
  int id = static_cast<int>(number(a[1]));
  HWND c = dialogControl(d, id);
  bool want = number(a[2]) != 0;
  bool is = SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
  if (is != want) SendMessageW(c, BM_CLICK, 0, 0);
  j.key("checked").boolean(SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED);
  return 0;
}

// browse-select DIALOG HEXPATH: moves the shell's folder browser to a
// folder (BFFM_SETSELECTIONW with the path in the dialog's process), as a
// user would by opening the tree down to it.
int cmdBrowseSelect(Json& j, const Args& a) {
  needArgs(a, 2, "browse-select HWND HEXPATH");
  HWND d = windowArg(a[0]);
  std::wstring path = hexText(a[1]);
  size_t bytes = (path.size() + 1) * sizeof(wchar_t);
  RemoteMemory mem(processOf(d), bytes);
  mem.write(0, path.c_str(), bytes);
  DWORD_PTR result = 0;
  SendMessageTimeoutW(d, WM_USER + 103, TRUE, reinterpret_cast<LPARAM>(mem.at(0)), SMTO_BLOCK, 5000, &result);
  j.key("sent").boolean(true);
  return 0;
}

// The files of an OLE drop: CF_HDROP with wide names, nothing else.
class DropData : public IDataObject {
 public:
  explicit DropData(const std::vector<std::wstring>& files) {
    for (const std::wstring& f : files) names_ += f + L'\0';
    names_ += L'\0';
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDataObject) { *out = this; AddRef(); return S_OK; }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the stack
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* f, STGMEDIUM* m) override {
    if (QueryGetData(f) != S_OK) return DV_E_FORMATETC;
    size_t bytes = sizeof(DROPFILES) + names_.size() * sizeof(wchar_t);
    HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    auto* d = static_cast<DROPFILES*>(GlobalLock(g));
    d->pFiles = sizeof(DROPFILES);
    d->fWide = TRUE;
    memcpy(reinterpret_cast<char*>(d) + sizeof(DROPFILES), names_.data(), names_.size() * sizeof(wchar_t));
    GlobalUnlock(g);
    m->tymed = TYMED_HGLOBAL;
    m->hGlobal = g;
    m->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* f) override {
    return f && f->cfFormat == CF_HDROP && (f->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dir, IEnumFORMATETC** out) override {
    if (dir != DATADIR_GET) return E_NOTIMPL;
    FORMATETC f{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return SHCreateStdEnumFmtEtc(1, &f, out);
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  std::wstring names_;
  ULONG refs_ = 1;
};

// Lets the drag pass over the target a few times, then drops.
class DropAfterAWhile : public IDropSource {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDropSource) { *out = this; AddRef(); return S_OK; }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL, DWORD) override {
    return ++calls_ < 5 ? S_OK : DRAGDROP_S_DROP;
  }
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

 private:
  int calls_ = 0;
};

// drop-files HWND FILE...: an OLE drag of the files (CF_HDROP) that ends
// over the middle of the window, as a user's drag from a file manager.
int cmdDropFiles(Json& j, const Args& a) {
  needArgs(a, 2, "drop-files HWND FILE...");
  HWND w = windowArg(a[0]);
  RECT r;
  GetWindowRect(w, &r);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  OleInitialize(nullptr);
  DropData data(std::vector<std::wstring>(a.begin() + 1, a.end()));
  DropAfterAWhile source;
  DWORD effect = DROPEFFECT_NONE;
  HRESULT hr = DoDragDrop(&data, &source, DROPEFFECT_COPY | DROPEFFECT_MOVE, &effect);
  OleUninitialize();
  j.key("result").num(static_cast<long long>(hr));
  j.key("effect").num(effect);
  return hr == DRAGDROP_S_DROP ? 0 : 1;
}

void writeMenu(Json& j, HMENU menu) {
  j.beginArray();
  int n = GetMenuItemCount(menu);
  for (int i = 0; i < n; ++i) {
    wchar_t text[512] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 511;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    j.beginObject();
    bool separator = (info.fType & MFT_SEPARATOR) != 0;
    j.key("separator").boolean(separator);
    j.key("text").str(separator ? std::wstring() : std::wstring(text));
    j.key("id").num(info.hSubMenu ? -1 : static_cast<long long>(info.wID));
    j.key("grayed").boolean((info.fState & MFS_GRAYED) != 0);
    j.key("checked").boolean((info.fState & MFS_CHECKED) != 0);
    j.key("items");
    if (info.hSubMenu) writeMenu(j, info.hSubMenu);
    else j.null();
    j.endObject();
  }
  j.endArray();
}

// menu EXE NAME: a menu resource of a program file (NAME, or #id).
int cmdMenu(Json& j, const Args& a) {
  needArgs(a, 2, "menu EXE NAME");
  HMODULE module = LoadLibraryExW(a[0].c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) fail("cannot load " + qvd::toUtf8(a[0]) + ": " + std::to_string(GetLastError()));
  LPCWSTR name = a[1][0] == L'#' ? MAKEINTRESOURCEW(number(a[1].substr(1))) : a[1].c_str();
  HMENU menu = LoadMenuW(module, name);
  if (!menu) {
    FreeLibrary(module);
    fail("no menu " + qvd::toUtf8(a[1]));
  }
  j.key("items");
  writeMenu(j, menu);
  DestroyMenu(menu);
  FreeLibrary(module);
  return 0;
}

// open-mutex NAME: whether a named mutex exists.
int cmdOpenMutex(Json& j, const Args& a) {
  needArgs(a, 1, "open-mutex NAME");
  HANDLE m = OpenMutexW(SYNCHRONIZE, FALSE, a[0].c_str());
  j.key("exists").boolean(m != nullptr);
  if (m) CloseHandle(m);
  return 0;
}

// version-info FILE: the fixed version, the string blocks of the version
// information (read back with GetFileVersionInfoW) and the manifest.
int cmdVersionInfo(Json& j, const Args& a) {
  needArgs(a, 1, "version-info FILE");
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(a[0].c_str(), &ignored);
  if (!size) fail("no version information in " + qvd::toUtf8(a[0]) + ": " + std::to_string(GetLastError()));
  std::vector<char> block(size);
  if (!GetFileVersionInfoW(a[0].c_str(), 0, size, block.data())) fail("GetFileVersionInfoW failed");
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    auto* fixed = static_cast<VS_FIXEDFILEINFO*>(value);
    j.key("fixed").beginArray().num(HIWORD(fixed->dwFileVersionMS)).num(LOWORD(fixed->dwFileVersionMS))
        .num(HIWORD(fixed->dwFileVersionLS)).num(LOWORD(fixed->dwFileVersionLS)).endArray();
    j.key("fileType").num(fixed->dwFileType);
  }
  j.key("blocks").beginObject();
  struct Translation { WORD language, codePage; };
  if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length)) {
    auto* t = static_cast<Translation*>(value);
    for (UINT i = 0; i < length / sizeof(Translation); ++i) {
      wchar_t name[16];
      wsprintfW(name, L"%04X%04X", t[i].language, t[i].codePage);
      j.key(qvd::toUtf8(name).c_str()).beginObject();
      for (const wchar_t* field : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                                   L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
        std::wstring path = std::wstring(L"\\StringFileInfo\\") + name + L"\\" + field;
        if (VerQueryValueW(block.data(), path.c_str(), &value, &length) && length)
          j.key(qvd::toUtf8(field).c_str()).str(std::wstring(static_cast<wchar_t*>(value)));
      }
      j.endObject();
    }
  }
  j.endObject();
  HMODULE module = LoadLibraryExW(a[0].c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  HRSRC manifest = module ? FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) : nullptr;
  if (manifest) {
    HGLOBAL data = LoadResource(module, manifest);
    const char* text = static_cast<const char*>(LockResource(data));
    j.key("manifest").str(std::string(text, SizeofResource(module, manifest)));
  }
  if (module) FreeLibrary(module);
  return 0;
}

// shortcut LNK: the target, arguments and working folder of a shell link.
int cmdShortcut(Json& j, const Args& a) {
  needArgs(a, 1, "shortcut LNK");
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    fail("no shell link object");
  if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) ||
      FAILED(file->Load(a[0].c_str(), STGM_READ))) {
    if (file) file->Release();
    link->Release();
    fail("cannot read " + qvd::toUtf8(a[0]));
  }
  wchar_t text[MAX_PATH * 2] = {};
  link->GetPath(text, MAX_PATH * 2, nullptr, SLGP_RAWPATH);
  j.key("target").str(std::wstring(text));
  text[0] = 0;
  link->GetArguments(text, MAX_PATH * 2);
  j.key("arguments").str(std::wstring(text));
  text[0] = 0;
  link->GetWorkingDirectory(text, MAX_PATH * 2);
  j.key("workdir").str(std::wstring(text));
  file->Release();
  link->Release();
  return 0;
}

void usage() {
  fail(
      "commands: find CLASS [MS] [any] | info HWND | wait-title HWND equals|contains|differs HEX MS"
      " | wait-gone HWND MS | post|send HWND MSG WP LP | command HWND ID | close HWND [sc|wm]"
      " | show HWND SW | foreground | children HWND | text HWND [PATH] | list HWND [PATH]"
      " | dialogs PID MS | press HWND ID | menu EXE NAME | open-mutex NAME | hold-mutex NAME MS"
      " | hold-file PATH MS | version-info FILE | shortcut LNK");
}

void emit(const std::wstring& outPath, const std::string& text) {
  std::string data = text + "\n";
  HANDLE h = outPath.empty() ? GetStdHandle(STD_OUTPUT_HANDLE)
                             : CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE || !h) return;
  DWORD written = 0;
  WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  if (outPath.empty()) FlushFileBuffers(h);
  else CloseHandle(h);
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  Args args(argv + 1, argv + argc);
  LocalFree(argv);

  std::wstring outPath;
  if (args.size() >= 2 && args[0] == L"-o") {
    outPath = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  Json j;
  j.beginObject();
  int rc = 0;
  try {
    if (args.empty()) usage();
    std::wstring cmd = args[0];
    Args a(args.begin() + 1, args.end());
    if (cmd == L"hold-mutex") {
      // Holds a named mutex for MS milliseconds (until killed); reports first.
      needArgs(a, 2, "hold-mutex NAME MS");
      HANDLE m = CreateMutexW(nullptr, FALSE, a[0].c_str());
      j.key("ok").boolean(m != nullptr).endObject();
      emit(outPath, j.text());
      Sleep(static_cast<DWORD>(number(a[1])));
      return m ? 0 : 1;
    }
    if (cmd == L"hold-file") {
      // Keeps a file open with no sharing but reading for MS milliseconds
      // (until killed), as a running program holds its exe; reports first.
      needArgs(a, 2, "hold-file PATH MS");
      HANDLE f = CreateFileW(a[0].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      j.key("ok").boolean(f != INVALID_HANDLE_VALUE).endObject();
      emit(outPath, j.text());
      Sleep(static_cast<DWORD>(number(a[1])));
      return f != INVALID_HANDLE_VALUE ? 0 : 1;
    }
    if (cmd == L"find") rc = cmdFind(j, a);
    else if (cmd == L"info") rc = cmdInfo(j, a);
    else if (cmd == L"wait-title") rc = cmdWaitTitle(j, a);
    else if (cmd == L"wait-gone") rc = cmdWaitGone(j, a);
    else if (cmd == L"post") rc = cmdPost(j, a, false);
    else if (cmd == L"send") rc = cmdPost(j, a, true);
    else if (cmd == L"command") rc = cmdCommand(j, a);
    else if (cmd == L"close") rc = cmdClose(j, a);
    else if (cmd == L"show") rc = cmdShow(j, a);
    else if (cmd == L"foreground") rc = cmdForeground(j, a);
    else if (cmd == L"children") rc = cmdChildren(j, a);
    else if (cmd == L"text") rc = cmdText(j, a);
    else if (cmd == L"list") rc = cmdList(j, a);
    else if (cmd == L"dialogs") rc = cmdDialogs(j, a);
    else if (cmd == L"press") rc = cmdPress(j, a);
    else if (cmd == L"set-text") rc = cmdSetText(j, a);
    else if (cmd == L"check") rc = cmdCheck(j, a);
    else if (cmd == L"browse-select") rc = cmdBrowseSelect(j, a);
    else if (cmd == L"drop-files") rc = cmdDropFiles(j, a);
    else if (cmd == L"menu") rc = cmdMenu(j, a);
    else if (cmd == L"open-mutex") rc = cmdOpenMutex(j, a);
    else if (cmd == L"version-info") rc = cmdVersionInfo(j, a);
    else if (cmd == L"shortcut") rc = cmdShortcut(j, a);
    else usage();
    j.key("ok").boolean(true);
  } catch (const Failure& f) {
    // Start over: a half-written document is no use to the reader.
    j = Json();
    j.beginObject().key("ok").boolean(false).key("error").str(f.message);
    rc = 2;
  }
  j.endObject();
  emit(outPath, j.text());
  return rc;
}
