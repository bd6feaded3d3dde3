// shellhost.exe: the part of Explorer that puts context-menu handlers to work,
// for machines without Explorer. It right-clicks files and folders the way the
// shell does (handlers from the registry, the shell's own data object, an STA,
// QueryContextMenu on a real popup menu), prints the menu with the help texts
// the status bar would show, and can choose an entry and report what the
// converter received.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "ConverterLog.h"
#include "Handlers.h"
#include "MenuModel.h"
#include "MenuWindow.h"
#include "SecondInstance.h"
#include "Selection.h"
#include "Text.h"

namespace {

// Explorer builds the menu from at most this many of the selected items and,
// for a larger selection, invokes the chosen entry on a second instance
// initialised with the whole selection.
constexpr size_t kMenuItemLimit = 16;
constexpr UINT kIdCmdFirst = 1;
constexpr UINT kIdCmdLast = 0x7FFF;

enum ExitCode {
    kOk = 0,
    kUsage = 1,          // bad arguments, missing or scattered paths
    kNoHandler = 2,      // nothing registered for the selection
    kEmptyMenu = 3,      // no handler added an entry (each failed or declined)
    kNoSuchEntry = 4,    // the entry to choose is not in the menu, or ambiguous
    kInvokeFailed = 5,   // InvokeCommand or the second instance failed
    kNoConverter = 6,    // the converter's log shows no new run in time
};

const char kUsageText[] =
    "usage: shellhost.exe [options] PATH...\n"
    "       shellhost.exe [options] --all FOLDER\n"
    "Right-clicks the given files and folders (all in one folder) as Explorer does\n"
    "and prints the context menu that the registered handlers build.\n"
    "  --all FOLDER          select everything in FOLDER (Ctrl+A), folders first, by name\n"
    "  --choose TEXT         choose the entry whose caption contains TEXT\n"
    "  --offset N            choose the entry at offset N of the first handler that added entries\n"
    "  --id N                choose the entry with menu identifier N\n"
    "  --converter-log FILE  the converter stand-in's log (default: %QUENNEL_TRANSFORM_LOG%,\n"
    "                        else transform.log in the suite's install directory)\n"
    "  --timeout SECONDS     how long to wait for the converter (default 30)\n"
    "  --show-menu           show the menu in a window, opened to the chosen entry\n"
    "  --menu-handshake FILE with --show-menu: FILE is created once the menu is drawn;\n"
    "                        deleting it closes the menu\n"
    "Exit codes: 0 done, 1 usage or selection error, 2 no handler registered,\n"
    "3 no handler added an entry, 4 entry not found, 5 invoke failed,\n"
    "6 the converter did not report in time.\n";

struct Options {
    std::vector<std::wstring> paths;
    std::wstring allOf;
    std::wstring choose;
    long offset = -1;
    long id = -1;
    std::wstring converterLog;
    unsigned timeoutMs = 30000;
    bool showMenu = false;
    std::wstring handshake;
};

bool ParseNumber(const std::wstring& text, long& value) {
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    value = wcstol(text.c_str(), &end, 0);
    return *end == L'\0' && value >= 0;
}

bool ParseOptions(Options& options, std::string& error) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) {
        error = "cannot read the command line";
        return false;
    }
    std::vector<std::wstring> args(argv + 1, argv + argc);
    LocalFree(argv);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        auto value = [&](std::wstring& out) {
            if (i + 1 >= args.size()) {
                error = Utf8(arg) + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::wstring text;
        if (arg == L"--all") {
            if (!value(options.allOf)) return false;
        } else if (arg == L"--choose") {
            if (!value(options.choose)) return false;
        } else if (arg == L"--offset" || arg == L"--id") {
            if (!value(text)) return false;
            long number = 0;
            if (!ParseNumber(text, number)) {
                error = Utf8(arg) + " needs a number, not \"" + Utf8(text) + "\"";
                return false;
            }
            (arg == L"--offset" ? options.offset : options.id) = number;
        } else if (arg == L"--converter-log") {
            if (!value(options.converterLog)) return false;
        } else if (arg == L"--timeout") {
            long seconds = 0;
            if (!value(text)) return false;
            if (!ParseNumber(text, seconds) || seconds > 3600) {
                error = "--timeout needs seconds (0 to 3600)";
                return false;
            }
            options.timeoutMs = static_cast<unsigned>(seconds) * 1000;
        } else if (arg == L"--show-menu") {
            options.showMenu = true;
        } else if (arg == L"--menu-handshake") {
            if (!value(options.handshake)) return false;
        } else if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            error = "";
            return false;
        } else if (arg.size() > 2 && arg.compare(0, 2, L"--") == 0) {
            error = "unknown option " + Utf8(arg);
            return false;
        } else {
            options.paths.push_back(arg);
        }
    }
    int choices = (!options.choose.empty()) + (options.offset >= 0) + (options.id >= 0);
    if (choices > 1) {
        error = "choose one entry: --choose, --offset or --id";
        return false;
    }
    if (options.paths.empty() == options.allOf.empty()) {
        error = options.paths.empty() ? "nothing to right-click: give paths or --all FOLDER"
                                      : "give either paths or --all FOLDER, not both";
        return false;
    }
    return true;
}

// The handlers that made it into the menu, each with its identifiers.
struct LoadedHandler {
    RegisteredHandler registered;
    std::unique_ptr<HandlerInstance> instance;
};

const LoadedHandler* OwnerOf(const std::vector<LoadedHandler>& loaded, UINT id) {
    for (const LoadedHandler& handler : loaded)
        if (handler.instance->Owns(id)) return &handler;
    return nullptr;
}

std::string HelpFor(const std::vector<LoadedHandler>& loaded, UINT id, HRESULT* result = nullptr) {
    const LoadedHandler* owner = OwnerOf(loaded, id);
    std::string text;
    HRESULT hr = E_INVALIDARG;
    if (owner) hr = owner->instance->HelpText(id - owner->instance->FirstId(), text);
    if (result) *result = hr;
    return text;
}

void PrintMenu(const std::vector<MenuEntry>& menu, const std::vector<LoadedHandler>& loaded, int depth) {
    const std::string indent(2 + depth * 4, ' ');
    for (const MenuEntry& entry : menu) {
        if (entry.separator) {
            Out(indent + "----\n");
            continue;
        }
        std::string line = indent + "[id " + std::to_string(entry.id);
        const LoadedHandler* owner = OwnerOf(loaded, entry.id);
        if (owner) line += ", offset " + std::to_string(entry.id - owner->instance->FirstId());
        line += "] \"" + Utf8(entry.caption) + "\"";
        if (entry.bitmap) line += " (bitmap)";
        if (entry.disabled) line += " (disabled)";
        if (entry.submenu) line += " >";
        HRESULT hr = E_INVALIDARG;
        std::string help = owner ? HelpFor(loaded, entry.id, &hr) : std::string();
        if (owner) {
            if (SUCCEEDED(hr) && !help.empty())
                line += "  help: \"" + Utf8(WideFromCodePage(help, 1252)) + "\"";
            else
                line += "  help: none (" + HresultText(hr) + ")";
        }
        Out(line + "\n");
        if (entry.submenu) PrintMenu(entry.children, loaded, depth + 1);
    }
}

size_t CountEntries(const std::vector<MenuEntry>& menu) {
    size_t count = 0;
    for (const MenuEntry& entry : menu)
        if (!entry.separator) count += 1 + CountEntries(entry.children);
    return count;
}

void PrintSelection(const Selection& selection) {
    Out("selection: " + std::to_string(selection.Count()) + " item(s) in " + Utf8(selection.FolderPath()) + "\n");
    const size_t shown = selection.Count() <= 20 ? selection.Count() : kMenuItemLimit;
    for (size_t i = 0; i < shown; ++i)
        Out("  " + Utf8(selection.Path(i)) + (selection.IsFolder(i) ? "  (folder)" : "") + "\n");
    if (shown < selection.Count())
        Out("  ... and " + std::to_string(selection.Count() - shown) + " more, to " +
            Utf8(selection.Path(selection.Count() - 1)) + "\n");
}

std::wstring BaseName(const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

int Run(const Options& options) {
    Selection selection;
    std::wstring problem;
    bool selected = options.allOf.empty() ? selection.AddPaths(options.paths, problem)
                                          : selection.AddFolderContents(options.allOf, problem);
    if (!selected) {
        Err("shellhost: " + Utf8(problem) + "\n");
        return kUsage;
    }
    PrintSelection(selection);
    if (GetACP() != 1252)
        Err("shellhost: note: the ANSI code page is " + std::to_string(GetACP()) +
            ", not 1252; handlers' 8-bit captions are read as code page 1252\n");

    // Explorer offers the handlers of the item that was right-clicked: the first.
    const std::wstring classKey = selection.IsFolder(0) ? L"Folder" : L"*";
    std::vector<std::wstring> skipped;
    std::vector<RegisteredHandler> registered = FindHandlers(classKey, skipped);
    for (const std::wstring& name : skipped)
        Err("shellhost: handler key \"" + Utf8(name) + "\" names no CLSID; skipped\n");
    if (registered.empty()) {
        Err("shellhost: no context-menu handler is registered under HKCR\\" + Utf8(HandlersKeyPath(classKey)) +
            "\n");
        return kNoHandler;
    }

    const size_t menuCount = selection.Count() < kMenuItemLimit ? selection.Count() : kMenuItemLimit;
    IDataObject* data = nullptr;
    HRESULT hr = selection.CreateDataObject(menuCount, &data);
    if (FAILED(hr)) {
        Err("shellhost: the folder gave no data object for the selection: " + HresultText(hr) + "\n");
        return kUsage;
    }
    if (menuCount < selection.Count())
        Out("the menu is built from the first " + std::to_string(menuCount) + " of " +
            std::to_string(selection.Count()) + " items, as Explorer does\n");

    HostWindow window;
    HMENU menu = CreatePopupMenu();
    std::vector<LoadedHandler> loaded;
    UINT nextId = kIdCmdFirst;
    Out("handlers under HKCR\\" + Utf8(HandlersKeyPath(classKey)) + ":\n");
    for (const RegisteredHandler& handler : registered) {
        std::string label = "  \"" + Utf8(handler.keyName) + "\" " + Utf8(handler.clsidText) + ": ";
        auto instance = std::make_unique<HandlerInstance>();
        std::string step;
        hr = instance->Create(handler, selection.FolderPidl(), data, step);
        if (FAILED(hr)) {
            Out(label + step + " failed: " + HresultText(hr) + "; the handler adds nothing\n");
            Err("shellhost: handler \"" + Utf8(handler.keyName) + "\": " + step + " failed: " + HresultText(hr) +
                "\n");
            continue;
        }
        hr = instance->AddToMenu(menu, nextId, kIdCmdLast, CMF_NORMAL);
        if (FAILED(hr)) {
            Out(label + "QueryContextMenu failed: " + HresultText(hr) + "; the handler adds nothing\n");
            Err("shellhost: handler \"" + Utf8(handler.keyName) + "\": QueryContextMenu failed: " +
                HresultText(hr) + "\n");
            continue;
        }
        UINT count = instance->IdCount();
        Out(label + "Initialize S_OK, QueryContextMenu " + HresultText(hr) + ": " +
            (count ? "identifiers " + std::to_string(nextId) + " to " + std::to_string(nextId + count - 1)
                   : std::string("nothing added")) +
            "\n");
        if (count == 0) continue;
        nextId += count;
        loaded.push_back({handler, std::move(instance)});
    }
    data->Release();

    std::vector<MenuEntry> entries = ReadMenu(menu);
    if (loaded.empty() || entries.empty()) {
        Err("shellhost: no handler added an entry to the context menu\n");
        DestroyMenu(menu);
        return kEmptyMenu;
    }
    Out("menu (" + std::to_string(CountEntries(entries)) + " entries; idCmdFirst " + std::to_string(kIdCmdFirst) +
        ", idCmdLast " + std::to_string(kIdCmdLast) + ", CMF_NORMAL):\n");
    PrintMenu(entries, loaded, 0);

    // The entry to choose.
    const MenuEntry* chosen = nullptr;
    if (!options.choose.empty()) {
        std::vector<const MenuEntry*> found = FindByCaption(entries, options.choose);
        if (found.size() != 1) {
            Err("shellhost: " + std::string(found.empty() ? "no" : "more than one") + " menu entry with \"" +
                Utf8(options.choose) + "\" in its caption\n");
            DestroyMenu(menu);
            return kNoSuchEntry;
        }
        chosen = found[0];
    } else if (options.offset >= 0 || options.id >= 0) {
        UINT id = options.id >= 0 ? static_cast<UINT>(options.id)
                                  : loaded.front().instance->FirstId() + static_cast<UINT>(options.offset);
        chosen = FindById(entries, id);
        if (!chosen) {
            Err("shellhost: the menu has no entry with identifier " + std::to_string(id) + "\n");
            DestroyMenu(menu);
            return kNoSuchEntry;
        }
    }

    POINT at = {0, 0};
    if (options.showMenu) {
        MenuShow show;
        show.menu = menu;
        show.folder = selection.FolderPath();
        for (size_t i = 0; i < selection.Count(); ++i) show.items.push_back(BaseName(selection.Path(i)));
        MenuPath path;
        const MenuEntry* highlight = chosen;
        if (!highlight && !entries.empty() && entries[0].submenu && !entries[0].children.empty())
            highlight = &entries[0].children[0];
        if (highlight && FindById(entries, highlight->id, &path)) show.openPath = path.positions;
        show.helpText = [&loaded](UINT id) { return Utf8(WideFromCodePage(HelpFor(loaded, id), 1252)); };
        show.handshakeFile = options.handshake;
        UINT picked = window.Show(show, at);
        if (picked != 0 && !chosen) {
            chosen = FindById(entries, picked);
            Out("chosen in the menu window: identifier " + std::to_string(picked) + "\n");
        }
    }

    if (!chosen) {
        DestroyMenu(menu);
        return kOk;
    }
    if (chosen->submenu) {
        Err("shellhost: \"" + Utf8(chosen->caption) + "\" opens a submenu; Explorer cannot choose it\n");
        DestroyMenu(menu);
        return kNoSuchEntry;
    }
    const LoadedHandler* owner = OwnerOf(loaded, chosen->id);
    if (!owner) {
        Err("shellhost: no handler owns identifier " + std::to_string(chosen->id) + "\n");
        DestroyMenu(menu);
        return kNoSuchEntry;
    }
    const UINT offset = chosen->id - owner->instance->FirstId();

    const std::string logPath =
        ConverterLog::Locate(options.converterLog.empty() ? std::string() : AnsiFromWide(options.converterLog));
    ConverterLog log(logPath);
    if (!logPath.empty()) log.Mark();

    Out("choosing \"" + Utf8(chosen->caption) + "\" (identifier " + std::to_string(chosen->id) + ", offset " +
        std::to_string(offset) + ")\n");
    if (selection.Count() <= kMenuItemLimit) {
        hr = owner->instance->Invoke(offset, window.Handle(), selection.FolderPath(), at);
        Out("InvokeCommand: " + HresultText(hr) + "\n");
    } else {
        SecondInstanceRequest request;
        request.selection = &selection;
        request.handler = owner->registered;
        request.owner = window.Handle();
        request.at = at;
        request.insertedAt = owner->instance->InsertedAt();
        FindById(entries, chosen->id, &request.path);
        HRESULT verbW = owner->instance->VerbW(offset, request.verbW);
        HRESULT verbA = S_OK;
        if (request.verbW.empty()) {
            std::string ansi;
            verbA = owner->instance->VerbA(offset, ansi);
            request.verbW = WideFromCodePage(ansi, CP_ACP);
        }
        Out("the selection has " + std::to_string(selection.Count()) + " items: invoking on a second instance of \"" +
            Utf8(owner->registered.keyName) + "\" initialised with all of them, on a background thread\n");
        if (request.verbW.empty())
            Out("  no canonical verb for it (GetCommandString GCS_VERBW " + HresultText(verbW) + ", GCS_VERBA " +
                HresultText(verbA) + ", nothing written): found by caption and position\n");
        else
            Out("  found by its canonical verb \"" + Utf8(request.verbW) + "\"\n");
        SecondInstanceResult result = RunSecondInstance(request);
        if (!result.message.empty()) Out("  " + result.message + "\n");
        hr = result.hr;
        Out("InvokeCommand (second instance): " + HresultText(hr) + "\n");
    }
    DestroyMenu(menu);
    if (FAILED(hr)) {
        Err("shellhost: invoking the entry failed: " + HresultText(hr) + "\n");
        return kInvokeFailed;
    }

    if (logPath.empty()) {
        Err("shellhost: no converter log to wait for: set INSTDIR_P1, %QUENNEL_TRANSFORM_LOG% or --converter-log\n");
        return kNoConverter;
    }
    TransformLog::Run run;
    if (!log.Wait(options.timeoutMs, run)) {
        Err("shellhost: the converter logged no run in " + logPath + " within " +
            std::to_string(options.timeoutMs / 1000) + " s\n");
        return kNoConverter;
    }
    PrintConverterRun(run);
    return kOk;
}

}  // namespace

int main() {
    Options options;
    std::string error;
    if (!ParseOptions(options, error)) {
        if (!error.empty()) Err("shellhost: " + error + "\n");
        Err(kUsageText);
        return kUsage;
    }
    HRESULT hr = OleInitialize(nullptr);
    if (FAILED(hr)) {
        Err("shellhost: OleInitialize failed: " + HresultText(hr) + "\n");
        return kUsage;
    }
    int code = Run(options);
    OleUninitialize();
    return code;
}
