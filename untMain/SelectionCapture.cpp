// IShellExtInit::Initialize: takes the selected paths out of the shell's data
// object and keeps the pictures and directories for the menu and the commands.
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "untMain/DropList.h"
#include "untMain/ImageExtensions.h"
#include "untMain/KontextMenuShellExt.h"
#include "untMain/ModuleState.h"
#include "untMain/SelectionRules.h"

namespace {

// One reference on the data object for the length of the call.
class CallReference {
public:
    explicit CallReference(IUnknown* object) : object_(object) {
        if (object_) object_->AddRef();
    }
    ~CallReference() {
        if (object_) object_->Release();
    }
    CallReference(const CallReference&) = delete;
    CallReference& operator=(const CallReference&) = delete;

private:
    IUnknown* object_;
};

// The medium GetData filled: ours to free, on every way out.
class OwnedMedium {
public:
    OwnedMedium() = default;
    ~OwnedMedium() { Release(); }
    OwnedMedium(const OwnedMedium&) = delete;
    OwnedMedium& operator=(const OwnedMedium&) = delete;

    STGMEDIUM* Fill() { return &medium_; }
    void Own() { owned_ = true; }
    void Release() {
        if (owned_) ReleaseStgMedium(&medium_);
        owned_ = false;
    }
    // The drop handle, or null when the medium is not the global memory that
    // was asked for: anything else would be misread as a drop list.
    HGLOBAL DropHandle() const {
        return medium_.tymed == TYMED_HGLOBAL ? medium_.hGlobal : nullptr;
    }

private:
    STGMEDIUM medium_ = {};
    bool owned_ = false;
};

bool CaptureSelection(HGLOBAL dropHandle, TStringList& built) {
    SelectionBuilder builder(built);
    DropList list(dropHandle);
    DropPath path;
    while (list.Next(path)) builder.Take(path);
    return builder.Accepted();
}

// A call that got the data and then failed still replaces the selection: the
// previous one must not live on under a failed call.
HRESULT Abandon(bool dataObtained, HRESULT result) noexcept {
    if (dataObtained) {
        TStringList empty;
        PublishSelection(empty, false);
    }
    return result;
}

}  // namespace

STDMETHODIMP TKontextMenuShellExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pdtobj, HKEY) {
    const CallReference hold(pdtobj);
    HasSelection.store(false);
    if (!pdtobj) return E_INVALIDARG;
    bool dataObtained = false;
    try {
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        OwnedMedium medium;
        const HRESULT fetched = pdtobj->GetData(&format, medium.Fill());
        if (FAILED(fetched)) return fetched;
        medium.Own();
        dataObtained = true;
        // The list is built apart and swapped in whole, so that a thread
        // reading the selection meanwhile sees the old list or the new one.
        TStringList built;
        const HGLOBAL dropHandle = medium.DropHandle();
        const bool accepted = dropHandle && CaptureSelection(dropHandle, built);
        medium.Release();
        // Growth by doubling leaves up to half the list's memory unused
        // for as long as the selection lives.
        built.ShrinkToFit();
        PublishSelection(built, accepted);
        return accepted ? S_OK : E_INVALIDARG;
    } catch (const std::bad_alloc&) {
        return Abandon(dataObtained, E_OUTOFMEMORY);
    } catch (...) {
        return Abandon(dataObtained, E_UNEXPECTED);
    }
}
