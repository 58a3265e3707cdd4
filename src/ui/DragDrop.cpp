#include "ui/DragDrop.h"

#include <shellapi.h>
#include <shlobj.h>

#include <new>
#include <vector>

#include "platform/AppMessages.h"
#include "platform/Sjis.h"
#include "platform/Text.h"
#include "ui/DropFiles.h"

namespace ui {
namespace {

constexpr size_t kMaxPath = 259;
bool g_dragging = false;
DroppedFile g_dropped;

FORMATETC formatOf(CLIPFORMAT format) { return FORMATETC{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

// Movable, zero-initialised global memory holding `bytes`.
HGLOBAL globalCopy(const std::string& bytes) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes.size());
  if (!memory) return nullptr;
  if (void* p = GlobalLock(memory)) {
    memcpy(p, bytes.data(), bytes.size());
    GlobalUnlock(memory);
    return memory;
  }
  GlobalFree(memory);
  return nullptr;
}

// The stored formats, handed out as copies, enumerated in the order stored.
class DataObject final : public ComObject<IDataObject> {
 public:
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    int i = find(format);
    if (i < 0) return DV_E_FORMATETC;
    medium->tymed = media_[i].tymed;
    medium->pUnkForRelease = nullptr;
    medium->hGlobal = static_cast<HGLOBAL>(OleDuplicateData(media_[i].hGlobal, formats_[i].cfFormat, 0));
    return medium->hGlobal ? S_OK : STG_E_MEDIUMFULL;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
    return find(format) >= 0 ? S_OK : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override {
    if (!format || !medium || medium->tymed != TYMED_HGLOBAL) return E_INVALIDARG;
    STGMEDIUM kept = *medium;
    if (!release) {
      kept.hGlobal = static_cast<HGLOBAL>(OleDuplicateData(medium->hGlobal, format->cfFormat, 0));
      if (!kept.hGlobal) return E_OUTOFMEMORY;
      kept.pUnkForRelease = nullptr;
    }
    try {
      formats_.push_back(*format);
      media_.push_back(kept);
    } catch (const std::bad_alloc&) {
      if (!release) ReleaseStgMedium(&kept);
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
    if (direction != DATADIR_GET) return E_NOTIMPL;
    return SHCreateStdEnumFmtEtc(static_cast<UINT>(formats_.size()), formats_.data(), out);
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  ~DataObject() override {
    for (STGMEDIUM& m : media_) ReleaseStgMedium(&m);
  }
  int find(const FORMATETC* f) const {
    if (!f) return -1;
    for (size_t i = 0; i < formats_.size(); ++i)
      if (formats_[i].cfFormat == f->cfFormat && (formats_[i].tymed & f->tymed) &&
          formats_[i].dwAspect == f->dwAspect)
        return static_cast<int>(i);
    return -1;
  }

  std::vector<FORMATETC> formats_;
  std::vector<STGMEDIUM> media_;
};

class DropSource final : public ComObject<IDropSource> {
 public:
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD keys) override {
    if (escape || (keys & (MK_LBUTTON | MK_RBUTTON)) == (MK_LBUTTON | MK_RBUTTON)) return DRAGDROP_S_CANCEL;
    if (keys & (MK_LBUTTON | MK_RBUTTON)) return S_OK;
    return DRAGDROP_S_DROP;
  }
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }
};

bool storeFormat(IDataObject* data, CLIPFORMAT format, const std::string& bytes) {
  FORMATETC f = formatOf(format);
  STGMEDIUM m{};
  m.tymed = TYMED_HGLOBAL;
  m.hGlobal = globalCopy(bytes);
  if (!m.hGlobal) return false;
  if (SUCCEEDED(data->SetData(&f, &m, TRUE))) return true;
  GlobalFree(m.hGlobal);
  return false;
}

bool offers(IDataObject* data, CLIPFORMAT format) {
  FORMATETC f = formatOf(format);
  return data && data->QueryGetData(&f) == S_OK;
}

}  // namespace

std::string& dragPath() {
  static std::string path;
  return path;
}

bool dragInProgress() { return g_dragging; }

IDataObject* createDragData(const std::string& path) {
  auto* data = new (std::nothrow) DataObject;
  if (!data) return nullptr;
  std::string cut = path.substr(0, platform::sjisCutLength(path.data(), path.size(), kMaxPath));
  std::wstring wide = platform::toWide(cut.c_str());
  std::u16string utf16(wide.begin(), wide.end());
  if (storeFormat(data, CF_TEXT, cut + '\0') && storeFormat(data, CF_HDROP, dropFilesBlock(utf16))) return data;
  data->Release();
  return nullptr;
}

bool startDrag(HWND mainWindow, UINT prepareMessage, int index) {
  if (index < 0) return false;
  dragPath().clear();
  SendMessageW(mainWindow, prepareMessage, static_cast<WPARAM>(index), 0);
  IDataObject* data = createDragData(dragPath());
  if (!data) return false;
  auto* source = new (std::nothrow) DropSource;
  if (source) {
    DWORD effect = DROPEFFECT_NONE;
    g_dragging = true;
    DoDragDrop(data, source, DROPEFFECT_MOVE, &effect);
    g_dragging = false;
    source->Release();
  }
  data->Release();
  return source != nullptr;
}

// ---- drop target ----

DroppedFile takeDroppedFile() {
  DroppedFile taken = std::move(g_dropped);
  g_dropped = DroppedFile{};
  return taken;
}

HRESULT DropTarget::DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) {
  // The panel's own mail or attachment dropped back on it is no new mail.
  effect_ = !dragInProgress() && (offers(data, CF_HDROP) || offers(data, CF_TEXT)) ? DROPEFFECT_COPY
                                                                                   : DROPEFFECT_NONE;
  *effect = effect_;
  PostMessageW(panel_, appmsg::kDragEntered, 0, 0);
  return S_OK;
}

HRESULT DropTarget::DragOver(DWORD, POINTL, DWORD* effect) {
  *effect = effect_;
  return S_OK;
}

HRESULT DropTarget::DragLeave() {
  PostMessageW(panel_, appmsg::kDragLeft, 0, 0);
  return S_OK;
}

HRESULT DropTarget::Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) {
  *effect = DROPEFFECT_NONE;
  if (dragInProgress() || !data) {
    PostMessageW(panel_, appmsg::kNothingDropped, 0, 0);
    return S_OK;
  }
  FORMATETC f = formatOf(CF_HDROP);
  STGMEDIUM m{};
  if (data->GetData(&f, &m) == S_OK) {
    auto drop = static_cast<HDROP>(GlobalLock(m.hGlobal));
    UINT files = drop ? DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) : 0;
    wchar_t first[MAX_PATH + 1] = {};
    if (files > 0) DragQueryFileW(drop, 0, first, MAX_PATH + 1);
    if (drop) GlobalUnlock(m.hGlobal);
    ReleaseStgMedium(&m);
    std::string path = platform::fromWide(first);
    if (files > 0 && !path.empty() && path.size() <= kMaxPath + 1) {
      g_dropped.path = path;
      g_dropped.files = files;
      *effect = DROPEFFECT_COPY;
      PostMessageW(panel_, appmsg::kImportMail, 0, 0);
      return S_OK;
    }
    PostMessageW(panel_, appmsg::kNothingDropped, 0, 0);
    return S_OK;
  }
  f = formatOf(CF_TEXT);
  if (data->GetData(&f, &m) == S_OK) {
    // A text selection is taken but not used.
    ReleaseStgMedium(&m);
    *effect = DROPEFFECT_COPY;
    PostMessageW(panel_, appmsg::kTextDropped, 0, 0);
    return S_OK;
  }
  PostMessageW(panel_, appmsg::kNothingDropped, 0, 0);
  return S_OK;
}

}  // namespace ui
