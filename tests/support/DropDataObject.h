// Test data objects that hand out a selection as the shell does: a CF_HDROP
// medium in global memory holding a DROPFILES list.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <string>
#include <vector>

// A DROPFILES block (ANSI or wide) followed by the zero-terminated paths and
// the final zero. The caller owns the handle.
HGLOBAL MakeDropList(const std::vector<std::string>& paths);
HGLOBAL MakeDropListW(const std::vector<std::wstring>& paths);

// Counts its own Release calls; handed out as pUnkForRelease so a test can
// see that the receiver released the medium.
class ReleaseCounter : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs_); }
    LONG Refs() const { return refs_; }

private:
    volatile LONG refs_ = 0;
};

// An IDataObject on the stack or heap whose only real operation is GetData
// for CF_HDROP. Its reference count is watched by tests, never frees itself.
class DropDataObject : public IDataObject {
public:
    explicit DropDataObject(std::vector<std::string> paths);
    explicit DropDataObject(std::vector<std::wstring> paths);
    // Hands out `list` as it is (a hand-made or malformed block); takes it over.
    explicit DropDataObject(HGLOBAL list);
    virtual ~DropDataObject();

    // What GetData answers instead of the list.
    HRESULT failWith = S_OK;     // a failure code to return
    DWORD tymed = TYMED_HGLOBAL; // the medium type handed back
    bool nullHandle = false;     // hand back a null hGlobal

    LONG Refs() const { return refs_; }
    int GetDataCalls() const { return getDataCalls_; }
    // The reference count seen by the latest GetData call.
    LONG RefsDuringGetData() const { return refsDuringGetData_; }
    // Media handed out that the receiver has not released yet.
    LONG OutstandingMedia() const { return releaser_.Refs(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs_); }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    HGLOBAL list_;
    volatile LONG refs_ = 0;
    int getDataCalls_ = 0;
    LONG refsDuringGetData_ = 0;
    ReleaseCounter releaser_;
};

// The shell's own data object for real items (files or folders with one
// common parent folder), as Explorer hands it to a handler. Null on failure.
IDataObject* ShellDataObject(const std::vector<std::string>& paths);
// The same for paths given as UTF-16, for names outside the ANSI code page.
IDataObject* ShellDataObjectW(const std::vector<std::wstring>& paths);
