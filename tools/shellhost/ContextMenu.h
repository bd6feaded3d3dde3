// The context menu of one selection, built as Explorer builds it: every
// registered handler created, initialised with the selection's data object
// and asked to add its entries to one popup menu, each with its own range of
// identifiers.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Handlers.h"
#include "MenuModel.h"
#include "Selection.h"

class ContextMenu {
public:
    static constexpr UINT kIdCmdFirst = 1;
    static constexpr UINT kIdCmdLast = 0x7FFF;

    ContextMenu();
    ~ContextMenu();
    ContextMenu(const ContextMenu&) = delete;
    ContextMenu& operator=(const ContextMenu&) = delete;

    // Creates, initialises and queries each handler in turn; a handler that
    // fails is reported and adds nothing, as in Explorer.
    void Build(const std::vector<RegisteredHandler>& handlers, const Selection& selection, IDataObject* data);

    HMENU Handle() const { return menu_; }
    bool Empty() const { return loaded_.empty() || entries_.empty(); }
    const std::vector<MenuEntry>& Entries() const { return entries_; }

    struct Loaded {
        RegisteredHandler registered;
        std::unique_ptr<HandlerInstance> instance;
    };
    const Loaded* OwnerOf(UINT id) const;
    const Loaded& First() const { return loaded_.front(); }

    // The status-bar text of an entry as the handler gives it (code page 1252
    // bytes), and the handler's result.
    std::string HelpText(UINT id, HRESULT* result = nullptr) const;

    // The tree with identifiers, offsets, captions and help texts.
    void Print() const;

private:
    void PrintLevel(const std::vector<MenuEntry>& level, int depth) const;

    HMENU menu_ = nullptr;
    std::vector<Loaded> loaded_;
    std::vector<MenuEntry> entries_;
};
