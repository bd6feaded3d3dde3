// IExplorerCommand for Windows 11's first context menu, and Windows 10's
// static verb with sub-commands. The texts, the order, the presets and how
// the converter is started come from the classic extension's code
// (quennel_commands); the selection is this module's own (ItemSelection.h):
// every path whole, in the converter's UTF-8 list.
//
// How Windows 11 calls it: it creates the root from the package's class,
// hands it a site (IObjectWithSite), asks GetState with the selection (hidden
// means no entry at all), GetTitle, GetIcon and GetFlags; ECF_HASSUBCOMMANDS
// makes it ask EnumSubCommands and then each sub-command's GetTitle,
// GetToolTip and GetState; the chosen one gets Invoke with the selection.
// Every method answers an HRESULT: no exception leaves it.
#include "menu11/ExplorerCommands.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "menu11/ItemSelection.h"
#include "menu11/MenuClass.h"
#include "settings/ModulePath.h"
#include "untMain/CommandExecution.h"
#include "untMain/Presets.h"

namespace {

// The module's texts are code page 1252 bytes, whatever the system's code page.
std::wstring WideFrom1252(const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    const int length = MultiByteToWideChar(1252, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(1252, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], length);
    return wide;
}

// A string the caller frees with CoTaskMemFree, as the interface demands.
HRESULT TaskCopy(const std::wstring& text, LPWSTR* out) {
    const size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!copy) return E_OUTOFMEMORY;
    CopyMemory(copy, text.c_str(), bytes);
    *out = copy;
    return S_OK;
}

HRESULT Fenced(const std::exception_ptr& failure) noexcept {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// The selection a call brings, in the list file's UTF-8 form.
class ItemsSource : public CommandExecution::ListSource {
public:
    explicit ItemsSource(IShellItemArray* items) : items_(items) {}
    std::string Text() const override { return ItemSelection::ListText(items_); }

private:
    IShellItemArray* items_;
};

// One command: the root (offset 0) or an entry of the submenu. Like the
// classic extension object it carries no selection: each call brings its own.
class TExplorerCommand final : public IExplorerCommand, public IObjectWithSite {
public:
    TExplorerCommand(CommandOffset offset, std::string caption)
        : offset_(offset), caption_(std::move(caption)) {
        MenuModule::ObjectCreated();
    }
    ~TExplorerCommand() {
        if (site_) site_->Release();
        MenuModule::ObjectDestroyed();
    }
    TExplorerCommand(const TExplorerCommand&) = delete;
    TExplorerCommand& operator=(const TExplorerCommand&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IExplorerCommand)) {
            *ppv = static_cast<IExplorerCommand*>(this);
        } else if (IsEqualIID(riid, IID_IObjectWithSite)) {
            *ppv = static_cast<IObjectWithSite*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IExplorerCommand
    STDMETHODIMP GetTitle(IShellItemArray*, LPWSTR* ppszName) override {
        if (!ppszName) return E_POINTER;
        *ppszName = nullptr;
        try {
            return TaskCopy(WideFrom1252(caption_), ppszName);
        } catch (...) {
            return Fenced(std::current_exception());
        }
    }

    // The root shows the classic entry's bitmap, as an icon resource of this
    // module; the sub-commands have none, as in the classic submenu.
    STDMETHODIMP GetIcon(IShellItemArray*, LPWSTR* ppszIcon) override {
        if (!ppszIcon) return E_POINTER;
        *ppszIcon = nullptr;
        if (offset_ != 0) return E_NOTIMPL;
        try {
            std::wstring path;
            if (!ModulePath(MenuModule::Instance(), path)) return HRESULT_FROM_WIN32(GetLastError());
            return TaskCopy(path + L",-" + std::to_wstring(IDI_MENU), ppszIcon);
        } catch (...) {
            return Fenced(std::current_exception());
        }
    }

    // The status-bar text of the classic entry; the root has none there either.
    STDMETHODIMP GetToolTip(IShellItemArray*, LPWSTR* ppszInfotip) override {
        if (!ppszInfotip) return E_POINTER;
        *ppszInfotip = nullptr;
        const char* help = CommandTable::HelpTextOf(offset_);
        if (!help) return E_NOTIMPL;
        try {
            return TaskCopy(WideFrom1252(help), ppszInfotip);
        } catch (...) {
            return Fenced(std::current_exception());
        }
    }

    STDMETHODIMP GetCanonicalName(GUID* pguidCommandName) override {
        if (!pguidCommandName) return E_POINTER;
        *pguidCommandName = offset_ == 0 ? CLSID_QuennelExplorerCommand : GUID_NULL;
        return offset_ == 0 ? S_OK : E_NOTIMPL;
    }

    // The root is shown only for a selection that holds a picture (by its
    // extension) or a folder; the sub-commands always are. The first such
    // item decides, and no list is built. Explorer calls this on its UI
    // thread with fOkToBeSlow FALSE: an item that needs the file system of
    // a drive that is not a local fixed one (a share, a mapped or removable
    // drive) is then not touched, and E_PENDING asks Explorer for the slow
    // call, which it makes on another thread.
    STDMETHODIMP GetState(IShellItemArray* psiItemArray, BOOL fOkToBeSlow, EXPCMDSTATE* pCmdState) override {
        if (!pCmdState) return E_POINTER;
        *pCmdState = ECS_ENABLED;
        if (offset_ != 0) return S_OK;
        try {
            switch (ItemSelection::FirstAccepted(psiItemArray, fOkToBeSlow != FALSE)) {
            case ItemSelection::Verdict::Accepted: return S_OK;
            case ItemSelection::Verdict::Pending: return E_PENDING;
            case ItemSelection::Verdict::NoneAccepted: break;
            }
            *pCmdState = ECS_HIDDEN;
            return S_OK;
        } catch (...) {
            *pCmdState = ECS_HIDDEN;
            return Fenced(std::current_exception());
        }
    }

    // The same list file and converter start as the classic InvokeCommand
    // with this entry's offset.
    STDMETHODIMP Invoke(IShellItemArray* psiItemArray, IBindCtx*) override {
        if (!psiItemArray) return E_INVALIDARG;
        return CommandExecution::Execute(offset_, ItemsSource(psiItemArray));
    }

    STDMETHODIMP GetFlags(EXPCMDFLAGS* pFlags) override {
        if (!pFlags) return E_POINTER;
        *pFlags = offset_ == 0 ? ECF_HASSUBCOMMANDS : ECF_DEFAULT;
        return S_OK;
    }

    STDMETHODIMP EnumSubCommands(IEnumExplorerCommand** ppEnum) override;

    // IObjectWithSite: the site is kept for the object's life and handed back.
    STDMETHODIMP SetSite(IUnknown* pUnkSite) override {
        if (pUnkSite) pUnkSite->AddRef();
        IUnknown* old = static_cast<IUnknown*>(InterlockedExchangePointer(reinterpret_cast<void**>(&site_), pUnkSite));
        if (old) old->Release();
        return S_OK;
    }
    STDMETHODIMP GetSite(REFIID riid, void** ppvSite) override {
        if (!ppvSite) return E_POINTER;
        *ppvSite = nullptr;
        return site_ ? site_->QueryInterface(riid, ppvSite) : E_FAIL;
    }

private:
    volatile LONG references_ = 1;
    const CommandOffset offset_;
    const std::string caption_;
    IUnknown* site_ = nullptr;
};

// The sub-commands, made once per EnumSubCommands and handed out in order.
class TCommandEnum final : public IEnumExplorerCommand {
public:
    explicit TCommandEnum(std::vector<IExplorerCommand*> commands) : commands_(std::move(commands)) {
        MenuModule::ObjectCreated();
    }
    ~TCommandEnum() {
        for (IExplorerCommand* command : commands_) command->Release();
        MenuModule::ObjectDestroyed();
    }
    TCommandEnum(const TCommandEnum&) = delete;
    TCommandEnum& operator=(const TCommandEnum&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumExplorerCommand)) {
            *ppv = static_cast<IEnumExplorerCommand*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // S_OK when all `celt` were handed out, S_FALSE when fewer were left.
    STDMETHODIMP Next(ULONG celt, IExplorerCommand** pUICommand, ULONG* pceltFetched) override {
        if (pceltFetched) *pceltFetched = 0;
        if (!pUICommand || (celt != 1 && !pceltFetched)) return E_POINTER;
        ULONG fetched = 0;
        while (fetched < celt && next_ < commands_.size()) {
            IExplorerCommand* command = commands_[next_++];
            command->AddRef();
            pUICommand[fetched++] = command;
        }
        if (pceltFetched) *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        const size_t left = commands_.size() - next_;
        next_ += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        next_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumExplorerCommand** ppenum) override {
        if (!ppenum) return E_POINTER;
        *ppenum = nullptr;
        try {
            // The copy is made before any reference is taken, so a failure
            // leaves nothing to undo.
            auto* copy = new TCommandEnum(commands_);
            for (IExplorerCommand* command : commands_) command->AddRef();
            copy->next_ = next_;
            *ppenum = copy;
            return S_OK;
        } catch (...) {
            return Fenced(std::current_exception());
        }
    }

private:
    volatile LONG references_ = 1;
    std::vector<IExplorerCommand*> commands_;
    size_t next_ = 0;
};

// Owns the references of commands not yet handed to an enumerator.
struct CommandBatch {
    std::vector<IExplorerCommand*> commands;
    ~CommandBatch() {
        for (IExplorerCommand* command : commands) command->Release();
    }
    void Add(CommandOffset offset, std::string caption) {
        commands.reserve(commands.size() + 1);
        commands.push_back(new TExplorerCommand(offset, std::move(caption)));
    }
};

// The wizard and the fourteen conversions, then the presets the settings
// offer, read afresh as the classic menu reads them for each right-click.
STDMETHODIMP TExplorerCommand::EnumSubCommands(IEnumExplorerCommand** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (offset_ != 0) return E_NOTIMPL;
    try {
        CommandBatch batch;
        for (CommandOffset k = 1; k < FirstPresetOffset; ++k) batch.Add(k, CommandTable::CaptionOf(k));
        for (const Presets::Preset& preset : Presets::Offered())
            batch.Add(preset.Offset(), CommandTable::PresetCaption(preset.width, preset.height));
        auto* enumerator = new TCommandEnum(batch.commands);
        batch.commands.clear();  // the enumerator holds them now
        *ppEnum = enumerator;
        return S_OK;
    } catch (...) {
        return Fenced(std::current_exception());
    }
}

}  // namespace

IExplorerCommand* CreateRootCommand() {
    return new TExplorerCommand(0, CommandTable::CaptionOf(0));
}
