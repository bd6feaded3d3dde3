#include "support/DropDataObject.h"

#include <cstring>

namespace {

template <typename Char>
HGLOBAL BuildList(const std::vector<std::basic_string<Char>>& paths, BOOL wide) {
    size_t chars = 1;  // the final zero
    for (const auto& p : paths) chars += p.size() + 1;
    const size_t bytes = sizeof(DROPFILES) + chars * sizeof(Char);
    HGLOBAL handle = GlobalAlloc(GHND, bytes);
    if (!handle) return nullptr;
    auto* drop = static_cast<DROPFILES*>(GlobalLock(handle));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = wide;
    Char* out = reinterpret_cast<Char*>(reinterpret_cast<BYTE*>(drop) + sizeof(DROPFILES));
    for (const auto& p : paths) {
        std::memcpy(out, p.data(), p.size() * sizeof(Char));
        out += p.size();
        *out++ = 0;
    }
    *out = 0;
    GlobalUnlock(handle);
    return handle;
}

}  // namespace

HGLOBAL MakeDropList(const std::vector<std::string>& paths) { return BuildList(paths, FALSE); }
HGLOBAL MakeDropListW(const std::vector<std::wstring>& paths) { return BuildList(paths, TRUE); }

STDMETHODIMP ReleaseCounter::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown)) {
        *ppv = this;
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

DropDataObject::DropDataObject(std::vector<std::string> paths) : list_(MakeDropList(paths)) {}
DropDataObject::DropDataObject(std::vector<std::wstring> paths) : list_(MakeDropListW(paths)) {}

DropDataObject::DropDataObject(HGLOBAL list) : list_(list) {}

DropDataObject::~DropDataObject() {
    if (list_) GlobalFree(list_);
}

STDMETHODIMP DropDataObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDataObject)) {
        *ppv = static_cast<IDataObject*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP DropDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
    ++getDataCalls_;
    refsDuringGetData_ = refs_;
    if (!format || !medium) return E_INVALIDARG;
    if (FAILED(failWith)) return failWith;
    if (format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
    // The list stays ours: the medium carries a release object instead of
    // ownership, so a test can count that the receiver released it.
    medium->tymed = tymed;
    medium->hGlobal = nullHandle ? nullptr : list_;
    medium->pUnkForRelease = &releaser_;
    releaser_.AddRef();
    return failWith;  // a success code other than S_OK passes through too
}

STDMETHODIMP DropDataObject::QueryGetData(FORMATETC* format) {
    return format && format->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC;
}

STDMETHODIMP DropDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
    if (out) out->ptd = nullptr;
    return E_NOTIMPL;
}

namespace {

std::wstring Widen(const std::string& s) {
    const int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &w[0], n);
    return w;
}

}  // namespace

IDataObject* ShellDataObjectW(const std::vector<std::wstring>& paths) {
    if (paths.empty()) return nullptr;
    std::vector<PIDLIST_ABSOLUTE> absolute;
    std::vector<PCUITEMID_CHILD> children;
    IShellFolder* parent = nullptr;
    IDataObject* result = nullptr;
    bool ok = true;
    for (const auto& p : paths) {
        PIDLIST_ABSOLUTE pidl = nullptr;
        if (FAILED(SHParseDisplayName(p.c_str(), nullptr, &pidl, 0, nullptr))) {
            ok = false;
            break;
        }
        absolute.push_back(pidl);
        PCUITEMID_CHILD child = nullptr;
        IShellFolder* folder = nullptr;
        if (FAILED(SHBindToParent(pidl, IID_IShellFolder, reinterpret_cast<void**>(&folder), &child))) {
            ok = false;
            break;
        }
        children.push_back(child);
        if (!parent) {
            parent = folder;
        } else {
            folder->Release();
        }
    }
    if (ok && parent) {
        parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(),
                              IID_IDataObject, nullptr, reinterpret_cast<void**>(&result));
    }
    if (parent) parent->Release();
    for (auto pidl : absolute) CoTaskMemFree(pidl);
    return result;
}

IDataObject* ShellDataObject(const std::vector<std::string>& paths) {
    std::vector<std::wstring> wide;
    wide.reserve(paths.size());
    for (const auto& p : paths) wide.push_back(Widen(p));
    return ShellDataObjectW(wide);
}
