// Checks the drag-out data object under Wine: its two formats, their
// order, the copies it hands out. Prints "ok NAME" or "FAIL NAME" lines;
// the exit code is the number of failures.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Text.h"
#include "ui/DragDrop.h"

namespace {

int failures = 0;

void check(bool ok, const char* name) {
  std::printf("%s %s\n", ok ? "ok" : "FAIL", name);
  if (!ok) ++failures;
}

FORMATETC format(CLIPFORMAT f) { return FORMATETC{f, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

}  // namespace

int main() {
  OleInitialize(nullptr);
  const std::string path = "C:\\Temp\\件名(120000000).eml";
  IDataObject* data = ui::createDragData(path);
  check(data != nullptr, "created");
  if (!data) return 1;

  IEnumFORMATETC* formats = nullptr;
  CLIPFORMAT order[3] = {};
  ULONG got = 0;
  if (data->EnumFormatEtc(DATADIR_GET, &formats) == S_OK) {
    FORMATETC f[3];
    formats->Next(3, f, &got);
    for (ULONG i = 0; i < got; ++i) order[i] = f[i].cfFormat;
    formats->Release();
  }
  check(got == 2 && order[0] == CF_TEXT && order[1] == CF_HDROP, "formats in order");

  FORMATETC text = format(CF_TEXT);
  STGMEDIUM m1{}, m2{};
  bool both = data->GetData(&text, &m1) == S_OK && data->GetData(&text, &m2) == S_OK;
  check(both && m1.hGlobal != m2.hGlobal, "copies handed out");
  if (both) {
    check(std::strcmp(static_cast<const char*>(GlobalLock(m1.hGlobal)), path.c_str()) == 0, "text");
    GlobalUnlock(m1.hGlobal);
    ReleaseStgMedium(&m1);
    ReleaseStgMedium(&m2);
  }

  FORMATETC drop = format(CF_HDROP);
  STGMEDIUM m{};
  if (data->GetData(&drop, &m) == S_OK) {
    auto h = static_cast<HDROP>(GlobalLock(m.hGlobal));
    wchar_t name[MAX_PATH] = {};
    UINT count = DragQueryFileW(h, 0xFFFFFFFF, nullptr, 0);
    DragQueryFileW(h, 0, name, MAX_PATH);
    GlobalUnlock(m.hGlobal);
    ReleaseStgMedium(&m);
    check(count == 1 && platform::fromWide(name) == path, "file list");
  } else {
    check(false, "file list");
  }
  FORMATETC unicode = format(CF_UNICODETEXT);
  check(data->QueryGetData(&unicode) != S_OK, "no other format");
  data->Release();
  OleUninitialize();
  return failures;
}
