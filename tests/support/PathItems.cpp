#include "support/PathItems.h"

namespace {

HRESULT Copy(const std::wstring& text, LPWSTR* out) {
    const size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*out) return E_OUTOFMEMORY;
    CopyMemory(*out, text.c_str(), bytes);
    return S_OK;
}

template <class Interface>
class Counted : public Interface {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    virtual ~Counted() = default;

protected:
    HRESULT Query(REFIID riid, REFIID own, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, own)) return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }

private:
    volatile LONG references_ = 1;
};

class PathItem final : public Counted<IShellItem> {
public:
    explicit PathItem(std::wstring path) : path_(std::move(path)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return Query(riid, IID_IShellItem, ppv); }
    STDMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetParent(IShellItem** ppsi) override {
        if (ppsi) *ppsi = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetDisplayName(SIGDN sigdnName, LPWSTR* ppszName) override {
        if (!ppszName) return E_POINTER;
        *ppszName = nullptr;
        if (sigdnName != SIGDN_FILESYSPATH && sigdnName != SIGDN_DESKTOPABSOLUTEPARSING) return E_NOTIMPL;
        return Copy(path_, ppszName);
    }
    STDMETHODIMP GetAttributes(SFGAOF, SFGAOF* psfgaoAttribs) override {
        if (psfgaoAttribs) *psfgaoAttribs = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP Compare(IShellItem*, SICHINTF, int* piOrder) override {
        if (piOrder) *piOrder = 0;
        return E_NOTIMPL;
    }

private:
    std::wstring path_;
};

class PathItemArray final : public Counted<IShellItemArray> {
public:
    explicit PathItemArray(const std::vector<std::wstring>& paths) : paths_(paths) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return Query(riid, IID_IShellItemArray, ppv); }
    STDMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetAttributes(SIATTRIBFLAGS, SFGAOF, SFGAOF* psfgaoAttribs) override {
        if (psfgaoAttribs) *psfgaoAttribs = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetCount(DWORD* pdwNumItems) override {
        if (!pdwNumItems) return E_POINTER;
        *pdwNumItems = static_cast<DWORD>(paths_.size());
        return S_OK;
    }
    STDMETHODIMP GetItemAt(DWORD dwIndex, IShellItem** ppsi) override {
        if (!ppsi) return E_POINTER;
        *ppsi = nullptr;
        if (dwIndex >= paths_.size()) return E_INVALIDARG;
        *ppsi = new PathItem(paths_[dwIndex]);
        return S_OK;
    }
    STDMETHODIMP EnumItems(IEnumShellItems** ppenumShellItems) override {
        if (ppenumShellItems) *ppenumShellItems = nullptr;
        return E_NOTIMPL;
    }

private:
    std::vector<std::wstring> paths_;
};

}  // namespace

IShellItemArray* CreatePathItems(const std::vector<std::wstring>& paths) { return new PathItemArray(paths); }
