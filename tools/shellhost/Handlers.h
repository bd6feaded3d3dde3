// Context-menu handlers as the shell finds, creates and initialises them.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

struct RegisteredHandler {
    std::wstring classKey;   // "*" or "Folder"
    std::wstring keyName;    // the subkey below ContextMenuHandlers
    std::wstring clsidText;  // "{...}" as found in the default value or the key name
    CLSID clsid{};
    bool perUser = false;    // found below HKCU\Software\Classes
};

// "*\shellex\ContextMenuHandlers" or "Folder\shellex\ContextMenuHandlers".
std::wstring HandlersKeyPath(const std::wstring& classKey);

// The handlers registered below <classKey>\shellex\ContextMenuHandlers in the
// classes the shell sees: the user's own (HKCU\Software\Classes) first, then
// the machine's (HKCR) where the user has no key of the same name, each in
// key order. The CLSID is the key's default value when that is one, else the
// key's name (both forms are in use). Keys that name no CLSID are reported in
// `skipped` and left out.
std::vector<RegisteredHandler> FindHandlers(const std::wstring& classKey, std::vector<std::wstring>& skipped);

// One created and initialised handler object with the identifiers it took.
class HandlerInstance {
public:
    HandlerInstance() = default;
    ~HandlerInstance();
    HandlerInstance(const HandlerInstance&) = delete;
    HandlerInstance& operator=(const HandlerInstance&) = delete;

    // Creates the object (IShellExtInit) from the user's own registration of
    // the class if there is one, else by CoCreateInstance, and initialises
    // it. On failure `step` names the call that failed.
    HRESULT Create(const RegisteredHandler& handler, PCIDLIST_ABSOLUTE folder, IDataObject* data,
                   std::string& step);
    // QueryContextMenu at the end of `menu`; remembers the identifiers taken.
    HRESULT AddToMenu(HMENU menu, UINT idCmdFirst, UINT idCmdLast, UINT flags);

    IContextMenu* Menu() const { return menu_; }
    HRESULT InitializeResult() const { return initResult_; }
    UINT FirstId() const { return first_; }
    UINT IdCount() const { return count_; }
    UINT InsertedAt() const { return insertedAt_; }
    bool Owns(UINT id) const { return count_ != 0 && id >= first_ && id - first_ < count_; }

    // GetCommandString into a zeroed buffer; an untouched buffer reads as empty.
    HRESULT HelpText(UINT offset, std::string& text) const;
    HRESULT VerbW(UINT offset, std::wstring& verb) const;
    HRESULT VerbA(UINT offset, std::string& verb) const;

    // InvokeCommand by offset, with the record filled as Explorer fills it.
    HRESULT Invoke(UINT offset, HWND owner, const std::wstring& directory, POINT at) const;

private:
    IShellExtInit* init_ = nullptr;
    IContextMenu* menu_ = nullptr;
    HKEY classKey_ = nullptr;
    HMODULE module_ = nullptr;  // a per-user server, loaded by the host itself
    HRESULT initResult_ = E_FAIL;
    UINT first_ = 0;
    UINT count_ = 0;
    UINT insertedAt_ = 0;
};
