// Windows 11's first context menu, as far as it concerns a command of a
// sparse package: the class is created from its module (the package's COM
// registration, which Wine does not have), given a site and the selection as
// an IShellItemArray, and asked for what the menu shows; the chosen
// sub-command is invoked.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <vector>

class Selection;

struct CommandEntry {
    std::wstring title;
    std::wstring icon;        // GetIcon's "path,-id", empty when none
    std::wstring toolTip;
    HRESULT titleResult = E_FAIL;
    HRESULT iconResult = E_FAIL;
    HRESULT toolTipResult = E_FAIL;
    EXPCMDSTATE state = ECS_ENABLED;
    HRESULT stateResult = E_FAIL;
    bool pendingFirst = false;  // the quick GetState answered E_PENDING
    EXPCMDFLAGS flags = ECF_DEFAULT;
    IExplorerCommand* command = nullptr;  // one reference, released by the host
    std::vector<CommandEntry> children;
};

class ExplorerCommandHost {
public:
    ExplorerCommandHost() = default;
    ~ExplorerCommandHost();
    ExplorerCommandHost(const ExplorerCommandHost&) = delete;
    ExplorerCommandHost& operator=(const ExplorerCommandHost&) = delete;

    // LoadLibrary, DllGetClassObject(clsid), CreateInstance(IExplorerCommand),
    // SetSite. On failure `step` names the call that failed.
    HRESULT Create(const std::wstring& module, const CLSID& clsid, std::string& step);
    // The root's and its sub-commands' answers, for the selection.
    HRESULT Read(const Selection& selection, std::string& step);
    // The same for items made another way; takes a reference of its own.
    void Read(IShellItemArray* items);
    const CommandEntry& Root() const { return root_; }
    bool Hidden() const { return (root_.state & ECS_HIDDEN) != 0; }
    void Print() const;

    // The sub-command whose title contains `text` (one whose title equals it
    // wins); nullptr when none or several.
    const CommandEntry* Find(const std::wstring& text, size_t& matches) const;
    HRESULT Invoke(const CommandEntry& entry) const;

private:
    HMODULE module_ = nullptr;
    IExplorerCommand* rootCommand_ = nullptr;
    IUnknown* site_ = nullptr;
    IShellItemArray* items_ = nullptr;
    CommandEntry root_;
};
