// A small window to prove qvdriver against: a menu, a "SplitPanel" child
// holding a report list view (id 110, visible and zero-width columns), an
// edit control (id 100) and a message box on command 102.
//   100 sets the title to "表示しました"; 101 closes; 102 asks Yes/No and
//   puts the answer into the title ("回答 6" or "回答 7");
//   104 selects rows 0 and 2; 105 appends a row; 106 shows the ANSI code
//   page in the title ("ACP 932").
#include <windows.h>
#include <commctrl.h>

#include <string>

namespace {

HWND gList = nullptr;
HWND gEdit = nullptr;

const wchar_t* const kRows[][4] = {
    {L"一 般", L"2008/12/07 09:05 +0900", L"ソース表示の件", L"7"},
    {L"待 機", L"2008/12/15 21:00 +0900", L"能力表 \\ backslash", L"1234567"},
    {L"完 了", L"Sun, 7 Dec", L"", L"0"},
};

void addRow(const wchar_t* const texts[4]) {
  int row = ListView_GetItemCount(gList);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.pszText = const_cast<LPWSTR>(texts[0]);
  SendMessageW(gList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  for (int c = 1; c < 4; ++c) {
    // Column 3 is the hidden one (width 0).
    LVITEMW sub{};
    sub.iSubItem = c;
    sub.pszText = const_cast<LPWSTR>(texts[c]);
    SendMessageW(gList, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
  }
}

LRESULT CALLBACK panelProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_SIZE) {
    int width = LOWORD(lp), height = HIWORD(lp);
    MoveWindow(gList, 0, 0, width, 200, TRUE);
    MoveWindow(gEdit, 0, 210, width, height - 210, TRUE);
    return 0;
  }
  return DefWindowProcW(w, msg, wp, lp);
}

void createPanel(HWND main, HINSTANCE instance) {
  WNDCLASSW pc{};
  pc.lpfnWndProc = panelProc;
  pc.hInstance = instance;
  pc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  pc.lpszClassName = L"SplitPanel";
  RegisterClassW(&pc);
  HWND panel = CreateWindowExW(0, L"SplitPanel", L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 8, 0,
                               600, 400, main, nullptr, instance, nullptr);
  gList = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 600, 200,
                          panel, reinterpret_cast<HMENU>(110), instance, nullptr);
  SendMessageW(gList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  const wchar_t* headers[] = {L"状 況", L"送信日時", L"件 名", L""};
  const int widths[] = {50, 160, 200, 0};
  for (int c = 0; c < 4; ++c) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    col.fmt = LVCFMT_LEFT;
    col.cx = widths[c];
    col.pszText = const_cast<LPWSTR>(headers[c]);
    SendMessageW(gList, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
  }
  for (auto& row : kRows) addRow(row);
  ListView_SetItemState(gList, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  gEdit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE,
                          0, 210, 600, 190, panel, reinterpret_cast<HMENU>(100), instance, nullptr);
  SetWindowTextW(gEdit, L"本文の一行目\r\n二行目 ソ表");
}

LRESULT CALLBACK mainProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case 100:
          SetWindowTextW(w, L"表示しました");
          return 0;
        case 101:
          SendMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);
          return 0;
        case 102: {
          int answer = MessageBoxW(w, L"本当に表示しますか？\n二行目", L"Quorvel",
                                   MB_YESNO | MB_ICONEXCLAMATION);
          SetWindowTextW(w, (L"回答 " + std::to_wstring(answer)).c_str());
          return 0;
        }
        case 104:
          ListView_SetItemState(gList, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
          ListView_SetItemState(gList, 0, LVIS_SELECTED, LVIS_SELECTED);
          ListView_SetItemState(gList, 2, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
          return 0;
        case 106:
          SetWindowTextW(w, (L"ACP " + std::to_wstring(GetACP())).c_str());
          return 0;
        case 105: {
          const wchar_t* const row[4] = {L"無 効", L"追加", L"新しい行", L"42"};
          addRow(row);
          return 0;
        }
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(3);
      return 0;
  }
  return DefWindowProcW(w, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSW wc{};
  wc.lpfnWndProc = mainProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszMenuName = L"DEMOMENU";
  wc.lpszClassName = L"QVDEMO_MAIN";
  if (!RegisterClassW(&wc)) return 1;
  HWND w = CreateWindowExW(0, L"QVDEMO_MAIN", L"デモ窓 Demo", WS_OVERLAPPEDWINDOW, 10, 20, 640, 480,
                           nullptr, nullptr, instance, nullptr);
  if (!w) return 1;
  createPanel(w, instance);
  ShowWindow(w, SW_SHOW);
  UpdateWindow(w);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return static_cast<int>(m.wParam);
}
