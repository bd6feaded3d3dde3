#include "ExplorerCommandHost.h"


#include "Selection.h"
#include "Text.h"
#include "support/seams/ShellHostSeams.h"

namespace {

// The menu's site: Windows hands its commands one; ours serves nothing
// beyond IUnknown, which is all a command may count on.
class HostSite final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }

private:
    LONG references_ = 1;
};

std::wstring TakeTaskText(LPWSTR text) {
    std::wstring copy = text ? text : L"";
    CoTaskMemFree(text);
    return copy;
}

void GiveSite(IUnknown* object, IUnknown* site) {
    IObjectWithSite* withSite = nullptr;
    if (SUCCEEDED(object->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)))) {
        withSite->SetSite(site);
        withSite->Release();
    }
}

void ReleaseTree(CommandEntry& entry) {
    for (CommandEntry& child : entry.children) ReleaseTree(child);
    if (entry.command) entry.command->Release();
    entry.command = nullptr;
    entry.children.clear();
}

// Whether the icon GetIcon names loads, and its size, as the menu would draw it.
std::string IconCheck(const std::wstring& location) {
    const size_t comma = location.rfind(L',');
    if (comma == std::wstring::npos) return "no \",id\" in it";
    const std::wstring file = location.substr(0, comma);
    const int index = _wtoi(location.c_str() + comma + 1);
    if (index >= 0) return "an icon by index, not by resource id";
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return "its file does not load";
    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(-index), IMAGE_ICON, 0, 0, 0));
    std::string result = "no icon resource " + std::to_string(-index);
    if (icon) {
        ICONINFO info = {};
        BITMAP bitmap = {};
        if (GetIconInfo(icon, &info) && info.hbmColor && GetObjectW(info.hbmColor, sizeof bitmap, &bitmap))
            result = std::to_string(bitmap.bmWidth) + "x" + std::to_string(bitmap.bmHeight);
        else
            result = "an icon without colour";
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    FreeLibrary(module);
    return result;
}

void ReadEntry(IExplorerCommand* command, IShellItemArray* items, IUnknown* site, CommandEntry& entry) {
    entry.command = command;
    GiveSite(command, site);
    LPWSTR text = nullptr;
    entry.titleResult = command->GetTitle(items, &text);
    entry.title = TakeTaskText(text);
    text = nullptr;
    entry.iconResult = command->GetIcon(items, &text);
    entry.icon = TakeTaskText(text);
    text = nullptr;
    entry.toolTipResult = command->GetToolTip(items, &text);
    entry.toolTip = TakeTaskText(text);
    // Explorer asks quickly first, and again when the command says it needs time.
    entry.stateResult = command->GetState(items, FALSE, &entry.state);
    if (entry.stateResult == E_PENDING) {
        entry.pendingFirst = true;
        entry.stateResult = command->GetState(items, TRUE, &entry.state);
    }
    if (FAILED(command->GetFlags(&entry.flags))) entry.flags = ECF_DEFAULT;
    // A hidden command's sub-commands are never asked for.
    if (!(entry.flags & ECF_HASSUBCOMMANDS) || (SUCCEEDED(entry.stateResult) && (entry.state & ECS_HIDDEN))) return;
    IEnumExplorerCommand* children = nullptr;
    if (FAILED(command->EnumSubCommands(&children)) || !children) return;
    for (;;) {
        IExplorerCommand* child = nullptr;
        ULONG fetched = 0;
        if (children->Next(1, &child, &fetched) != S_OK || fetched != 1 || !child) break;
        entry.children.emplace_back();
        ReadEntry(child, items, site, entry.children.back());
    }
    children->Release();
}

std::string StateText(const CommandEntry& entry) {
    if (FAILED(entry.stateResult)) return "state failed: " + HresultText(entry.stateResult);
    if (entry.state & ECS_HIDDEN) return "hidden";
    if (entry.state & ECS_DISABLED) return "disabled";
    return "enabled";
}

void PrintEntry(const CommandEntry& entry, int depth) {
    std::string line = std::string(2 + depth * 4, ' ') + "\"" + Utf8(entry.title) + "\"";
    if (SUCCEEDED(entry.iconResult) && !entry.icon.empty())
        line += " (icon \"" + Utf8(entry.icon) + "\": " + IconCheck(entry.icon) + ")";
    line += " (" + StateText(entry) + ")";
    if (entry.flags & ECF_HASSUBCOMMANDS) line += " >";
    if (SUCCEEDED(entry.toolTipResult) && !entry.toolTip.empty())
        line += "  tip: \"" + Utf8(entry.toolTip) + "\"";
    else
        line += "  tip: none (" + HresultText(entry.toolTipResult) + ")";
    Out(line + "\n");
    for (const CommandEntry& child : entry.children) PrintEntry(child, depth + 1);
}

}  // namespace

ExplorerCommandHost::~ExplorerCommandHost() {
    ReleaseTree(root_);
    if (rootCommand_) {
        GiveSite(rootCommand_, nullptr);
        rootCommand_->Release();
    }
    if (items_) items_->Release();
    if (site_) site_->Release();
    if (module_) {
        using CanUnload = HRESULT(STDAPICALLTYPE*)();
        auto canUnload = reinterpret_cast<CanUnload>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
        if (canUnload && canUnload() != S_OK)
            Err("shellhost: the module still holds objects after every reference was released\n");
        FreeLibrary(module_);
    }
}

HRESULT ExplorerCommandHost::Create(const std::wstring& module, const CLSID& clsid, std::string& step) {
    step = "LoadLibrary";
    module_ = LoadLibraryW(module.c_str());
    if (!module_) return HRESULT_FROM_WIN32(GetLastError());
    ShellHostSeams::Apply(module_);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    step = "DllGetClassObject";
    if (!getClassObject) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    step = "IClassFactory::CreateInstance(IID_IExplorerCommand)";
    hr = factory->CreateInstance(nullptr, IID_IExplorerCommand, reinterpret_cast<void**>(&rootCommand_));
    factory->Release();
    if (FAILED(hr)) return hr;
    site_ = new HostSite;
    step = "IObjectWithSite::SetSite";
    IObjectWithSite* withSite = nullptr;
    hr = rootCommand_->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite));
    if (FAILED(hr)) return hr;
    hr = withSite->SetSite(site_);
    IUnknown* back = nullptr;
    if (SUCCEEDED(hr) && (FAILED(withSite->GetSite(IID_IUnknown, reinterpret_cast<void**>(&back))) || back != site_))
        hr = E_UNEXPECTED;  // the site must come back as it was given
    if (back) back->Release();
    withSite->Release();
    return hr;
}

HRESULT ExplorerCommandHost::Read(const Selection& selection, std::string& step) {
    step = "SHCreateShellItemArrayFromIDLists";
    IShellItemArray* items = nullptr;
    HRESULT hr = selection.CreateItemArray(&items);
    if (FAILED(hr)) return hr;
    Read(items);
    items->Release();
    return S_OK;
}

void ExplorerCommandHost::Read(IShellItemArray* items) {
    items->AddRef();
    items_ = items;
    rootCommand_->AddRef();
    ReadEntry(rootCommand_, items_, site_, root_);
}

void ExplorerCommandHost::Print() const {
    size_t count = root_.children.size() + 1;
    if (root_.pendingFirst) Out("GetState asked quickly answered E_PENDING; asked again as the slow call\n");
    Out("Windows 11 menu (" + std::to_string(count) + " commands):\n");
    PrintEntry(root_, 0);
}

const CommandEntry* ExplorerCommandHost::Find(const std::wstring& text, size_t& matches) const {
    matches = 0;
    const CommandEntry* found = nullptr;
    for (const CommandEntry& child : root_.children) {
        if (EqualNoCase(child.title, text)) {
            matches = 1;
            return &child;
        }
        if (ContainsNoCase(child.title, text)) {
            ++matches;
            found = &child;
        }
    }
    return matches == 1 ? found : nullptr;
}

HRESULT ExplorerCommandHost::Invoke(const CommandEntry& entry) const {
    IBindCtx* bind = nullptr;
    HRESULT hr = CreateBindCtx(0, &bind);
    if (FAILED(hr)) return hr;
    hr = entry.command->Invoke(items_, bind);
    bind->Release();
    return hr;
}
