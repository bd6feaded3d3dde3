#include "ContextMenu.h"

#include "Text.h"

namespace {

size_t CountEntries(const std::vector<MenuEntry>& menu) {
    size_t count = 0;
    for (const MenuEntry& entry : menu)
        if (!entry.separator) count += 1 + CountEntries(entry.children);
    return count;
}

}  // namespace

ContextMenu::ContextMenu() : menu_(CreatePopupMenu()) {}

ContextMenu::~ContextMenu() {
    // Explorer destroys the menu before it lets go of the handlers.
    if (menu_) DestroyMenu(menu_);
    loaded_.clear();
}

void ContextMenu::Build(const std::vector<RegisteredHandler>& handlers, const Selection& selection,
                        IDataObject* data) {
    UINT nextId = kIdCmdFirst;
    for (const RegisteredHandler& handler : handlers) {
        const std::string label = "  \"" + Utf8(handler.keyName) + "\" " + Utf8(handler.clsidText) +
                                  (handler.perUser ? " (HKCU)" : "") + ": ";
        auto instance = std::make_unique<HandlerInstance>();
        std::string step;
        HRESULT hr = instance->Create(handler, selection.FolderPidl(), data, step);
        if (SUCCEEDED(hr)) {
            step = "QueryContextMenu";
            hr = instance->AddToMenu(menu_, nextId, kIdCmdLast, CMF_NORMAL);
        }
        if (FAILED(hr)) {
            Out(label + step + " failed: " + HresultText(hr) + "; the handler adds nothing\n");
            Err("shellhost: handler \"" + Utf8(handler.keyName) + "\": " + step + " failed: " + HresultText(hr) +
                "\n");
            continue;
        }
        const UINT count = instance->IdCount();
        Out(label + "Initialize " + HresultText(instance->InitializeResult()) + ", QueryContextMenu " +
            HresultText(hr) + ": " +
            (count ? "identifiers " + std::to_string(nextId) + " to " + std::to_string(nextId + count - 1)
                   : std::string("nothing added")) +
            "\n");
        if (count == 0) continue;
        nextId += count;
        loaded_.push_back({handler, std::move(instance)});
    }
    entries_ = ReadMenu(menu_);
}

const ContextMenu::Loaded* ContextMenu::OwnerOf(UINT id) const {
    for (const Loaded& handler : loaded_)
        if (handler.instance->Owns(id)) return &handler;
    return nullptr;
}

std::string ContextMenu::HelpText(UINT id, HRESULT* result) const {
    const Loaded* owner = OwnerOf(id);
    std::string text;
    HRESULT hr = E_INVALIDARG;
    if (owner) hr = owner->instance->HelpText(id - owner->instance->FirstId(), text);
    if (result) *result = hr;
    return text;
}

void ContextMenu::Print() const {
    Out("menu (" + std::to_string(CountEntries(entries_)) + " entries; idCmdFirst " + std::to_string(kIdCmdFirst) +
        ", idCmdLast " + std::to_string(kIdCmdLast) + ", CMF_NORMAL):\n");
    PrintLevel(entries_, 0);
}

void ContextMenu::PrintLevel(const std::vector<MenuEntry>& level, int depth) const {
    const std::string indent(2 + depth * 4, ' ');
    for (const MenuEntry& entry : level) {
        if (entry.separator) {
            Out(indent + "----\n");
            continue;
        }
        std::string line = indent + "[id " + std::to_string(entry.id);
        const Loaded* owner = OwnerOf(entry.id);
        if (owner) line += ", offset " + std::to_string(entry.id - owner->instance->FirstId());
        line += "] \"" + Utf8(entry.caption) + "\"";
        if (entry.bitmap) line += " (bitmap)";
        if (entry.disabled) line += " (disabled)";
        if (entry.submenu) line += " >";
        if (owner) {
            HRESULT hr = E_INVALIDARG;
            const std::string help = HelpText(entry.id, &hr);
            if (SUCCEEDED(hr) && !help.empty())
                line += "  help: \"" + Utf8(WideFromCodePage(help, 1252)) + "\"";
            else
                line += "  help: none (" + HresultText(hr) + ")";
        }
        Out(line + "\n");
        if (entry.submenu) PrintLevel(entry.children, depth + 1);
    }
}
