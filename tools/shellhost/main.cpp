// shellhost.exe: the part of Explorer that puts context-menu handlers to work,
// for machines without Explorer. It right-clicks files and folders the way the
// shell does (handlers from the registry, the shell's own data object, an STA,
// QueryContextMenu on a real popup menu), prints the menu with the help texts
// the status bar would show, and can choose an entry and report what the
// converter received.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <memory>
#include <string>
#include <vector>

#include "ContextMenu.h"
#include "ExplorerCommandHost.h"
#include "ConverterLog.h"
#include "Handlers.h"
#include "MenuModel.h"
#include "MenuWindow.h"
#include "SecondInstance.h"
#include "Selection.h"
#include "StaticVerb.h"
#include "support/PathItems.h"
#include "Text.h"

namespace {

// True once no process of that image name runs; the converter is started
// without a handle to wait on, as Explorer starts it, so it is looked for by
// name. It gets a moment to appear first.
bool WaitForExit(const std::wstring& name, unsigned timeoutMs) {
    const DWORD start = GetTickCount();
    bool seen = false;
    for (;;) {
        bool running = false;
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot != INVALID_HANDLE_VALUE) {
            PROCESSENTRY32W entry = {};
            entry.dwSize = sizeof entry;
            for (BOOL more = Process32FirstW(snapshot, &entry); more && !running;
                 more = Process32NextW(snapshot, &entry))
                running = lstrcmpiW(entry.szExeFile, name.c_str()) == 0;
            CloseHandle(snapshot);
        }
        seen = seen || running;
        const DWORD elapsed = GetTickCount() - start;
        if (!running && (seen || elapsed > 3000)) return true;
        if (elapsed > timeoutMs) return false;
        Sleep(50);
    }
}

// Explorer builds the menu from at most this many of the selected items and,
// for a larger selection, invokes the chosen entry on a second instance
// initialised with the whole selection.
constexpr size_t kMenuItemLimit = 16;

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
    "  --wait-for-exit NAME  instead of reading a log, wait until no program NAME\n"
    "                        (e.g. transform.exe) runs any more: the real converter\n"
    "  --timeout SECONDS     how long to wait for the converter (default 30)\n"
    "  --show-menu           show the menu in a window, opened to the chosen entry\n"
    "  --menu-handshake FILE with --show-menu: FILE is created once the menu is drawn;\n"
    "                        deleting it closes the menu\n"
    "  --win11 MODULE --clsid {CLSID}\n"
    "                        Windows 11's first menu instead: the IExplorerCommand class\n"
    "                        CLSID of MODULE (as its package registers it) is given the\n"
    "                        selection as an IShellItemArray and a site; with --choose\n"
    "                        the sub-command whose title contains TEXT is invoked\n"
    "  --items-as-paths      with --win11: hand the command the paths as items that give\n"
    "                        only their file-system path, without the shell's parsing\n"
    "                        (Wine's shell cannot make items of paths beyond 260 characters)\n"
    "  --win10-verb          Windows 10's static verb instead: the verb under\n"
    "                        HKCR\\SystemFileAssociations\\<ext>\\shell whose ExplorerCommandHandler\n"
    "                        names a class, for the first item's extension; the class is loaded\n"
    "                        from its InprocServer32 (or from --win11 MODULE) and asked as above\n"
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
    std::wstring waitForExit;
    unsigned timeoutMs = 30000;
    bool showMenu = false;
    std::wstring handshake;
    std::wstring win11Module;
    std::wstring clsid;
    bool win10Verb = false;
    bool itemsAsPaths = false;
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
        } else if (arg == L"--wait-for-exit") {
            if (!value(options.waitForExit)) return false;
        } else if (arg == L"--timeout") {
            long seconds = 0;
            if (!value(text)) return false;
            if (!ParseNumber(text, seconds) || seconds > 3600) {
                error = "--timeout needs seconds (0 to 3600)";
                return false;
            }
            options.timeoutMs = static_cast<unsigned>(seconds) * 1000;
        } else if (arg == L"--win11") {
            if (!value(options.win11Module)) return false;
        } else if (arg == L"--clsid") {
            if (!value(options.clsid)) return false;
        } else if (arg == L"--items-as-paths") {
            options.itemsAsPaths = true;
        } else if (arg == L"--win10-verb") {
            options.win10Verb = true;
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
    if (!options.win10Verb && options.win11Module.empty() != options.clsid.empty()) {
        error = "--win11 and --clsid go together";
        return false;
    }
    if (options.itemsAsPaths && (options.win11Module.empty() || options.win10Verb || !options.allOf.empty())) {
        error = "--items-as-paths goes with --win11 and paths";
        return false;
    }
    if (options.win10Verb && !options.clsid.empty()) {
        error = "--win10-verb finds the class in the registry: no --clsid";
        return false;
    }
    if ((options.win10Verb || !options.win11Module.empty()) && (options.offset >= 0 || options.id >= 0 || options.showMenu)) {
        error = "Windows 11's menu has no identifiers and is not drawn here: choose with --choose";
        return false;
    }
    if (options.paths.empty() == options.allOf.empty()) {
        error = options.paths.empty() ? "nothing to right-click: give paths or --all FOLDER"
                                      : "give either paths or --all FOLDER, not both";
        return false;
    }
    return true;
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

// The entry named on the command line; nullptr with `code` set when there is
// none to choose, nullptr with kOk when nothing was asked for.
const MenuEntry* EntryToChoose(const Options& options, const ContextMenu& menu, int& code) {
    code = kOk;
    const MenuEntry* chosen = nullptr;
    if (!options.choose.empty()) {
        std::vector<const MenuEntry*> found = FindByCaption(menu.Entries(), options.choose);
        if (found.size() != 1) {
            Err("shellhost: " + std::string(found.empty() ? "no" : "more than one") + " menu entry with \"" +
                Utf8(options.choose) + "\" in its caption\n");
            code = kNoSuchEntry;
            return nullptr;
        }
        chosen = found[0];
    } else if (options.offset >= 0 || options.id >= 0) {
        const UINT id = options.id >= 0 ? static_cast<UINT>(options.id)
                                        : menu.First().instance->FirstId() + static_cast<UINT>(options.offset);
        chosen = FindById(menu.Entries(), id);
        if (!chosen) {
            Err("shellhost: the menu has no entry with identifier " + std::to_string(id) + "\n");
            code = kNoSuchEntry;
        }
    }
    return chosen;
}

// Shows the menu in the host's window, opened to `chosen` (or to the first
// entry of the first submenu); returns the entry the user picked, if any.
const MenuEntry* ShowMenu(const Options& options, const Selection& selection, const ContextMenu& menu,
                          const MenuEntry* chosen, HostWindow& window, POINT& at) {
    MenuShow show;
    show.menu = menu.Handle();
    show.folder = selection.FolderPath();
    for (size_t i = 0; i < selection.Count(); ++i) show.items.push_back(BaseName(selection.Path(i)));
    const std::vector<MenuEntry>& entries = menu.Entries();
    const MenuEntry* highlight = chosen;
    if (!highlight && entries[0].submenu && !entries[0].children.empty()) highlight = &entries[0].children[0];
    if (!highlight) highlight = &entries[0];
    MenuPath path;
    if (FindById(entries, highlight->id, &path)) show.openPath = path.positions;
    show.helpText = [&menu](UINT id) { return Utf8(WideFromCodePage(menu.HelpText(id), 1252)); };
    show.handshakeFile = options.handshake;
    bool shown = false;
    const UINT picked = window.Show(show, at, shown);
    if (!shown) Err("shellhost: the menu could not be shown (is there an X display?)\n");
    if (picked == 0) return nullptr;
    Out("chosen in the menu window: identifier " + std::to_string(picked) + "\n");
    return FindById(entries, picked);
}

// InvokeCommand on the handler that built the menu, or, for a selection larger
// than the menu saw, on a second instance that sees all of it.
HRESULT Invoke(const Selection& selection, const ContextMenu& menu, const MenuEntry& chosen, HWND owner,
               POINT at) {
    const ContextMenu::Loaded& handler = *menu.OwnerOf(chosen.id);
    const HandlerInstance& instance = *handler.instance;
    const UINT offset = chosen.id - instance.FirstId();
    Out("choosing \"" + Utf8(chosen.caption) + "\" (identifier " + std::to_string(chosen.id) + ", offset " +
        std::to_string(offset) + ")\n");
    if (selection.Count() <= kMenuItemLimit) {
        const HRESULT hr = instance.Invoke(offset, owner, selection.FolderPath(), at);
        Out("InvokeCommand: " + HresultText(hr) + "\n");
        return hr;
    }

    SecondInstanceRequest request;
    request.selection = &selection;
    request.handler = handler.registered;
    request.owner = owner;
    request.at = at;
    request.insertedAt = instance.InsertedAt();
    FindById(menu.Entries(), chosen.id, &request.path);
    const HRESULT verbW = instance.VerbW(offset, request.verbW);
    HRESULT verbA = S_OK;
    if (request.verbW.empty()) {
        std::string ansi;
        verbA = instance.VerbA(offset, ansi);
        request.verbW = WideFromCodePage(ansi, CP_ACP);
    }
    Out("the selection has " + std::to_string(selection.Count()) + " items: invoking on a second instance of \"" +
        Utf8(handler.registered.keyName) + "\" initialised with all of them, on a background thread\n");
    if (request.verbW.empty())
        Out("  no canonical verb for it (GetCommandString GCS_VERBW " + HresultText(verbW) + ", GCS_VERBA " +
            HresultText(verbA) + ", nothing written): found by caption and position\n");
    else
        Out("  found by its canonical verb \"" + Utf8(request.verbW) + "\"\n");
    const SecondInstanceResult result = RunSecondInstance(request);
    if (!result.message.empty()) Out("  " + result.message + "\n");
    Out("InvokeCommand (second instance): " + HresultText(result.hr) + "\n");
    return result.hr;
}

// `items` stands in for the selection's shell items when given.
int RunCommand(const Options& options, const Selection* selection, IShellItemArray* items, const std::wstring& module,
               const std::wstring& clsidText) {
    CLSID clsid;
    if (FAILED(CLSIDFromString(clsidText.c_str(), &clsid))) {
        Err("shellhost: \"" + Utf8(clsidText) + "\" is no CLSID\n");
        return kUsage;
    }
    ExplorerCommandHost host;
    std::string step;
    HRESULT hr = host.Create(module, clsid, step);
    if (SUCCEEDED(hr)) {
        if (items)
            host.Read(items);
        else
            hr = host.Read(*selection, step);
    }
    if (FAILED(hr)) {
        Err("shellhost: " + step + " failed: " + HresultText(hr) + "\n");
        return kNoHandler;
    }
    host.Print();
    if (host.Hidden()) {
        Err("shellhost: the command hides itself for this selection\n");
        return kEmptyMenu;
    }
    if (options.choose.empty()) return kOk;
    size_t matches = 0;
    const CommandEntry* chosen = host.Find(options.choose, matches);
    if (!chosen) {
        Err("shellhost: " + std::string(matches == 0 ? "no" : "more than one") + " command with \"" +
            Utf8(options.choose) + "\" in its title\n");
        return kNoSuchEntry;
    }
    Out("choosing \"" + Utf8(chosen->title) + "\"\n");
    const std::string logPath =
        ConverterLog::Locate(options.converterLog.empty() ? std::string() : AnsiFromWide(options.converterLog));
    ConverterLog log(logPath);
    if (!logPath.empty()) log.Mark();
    hr = host.Invoke(*chosen);
    Out("Invoke: " + HresultText(hr) + "\n");
    if (FAILED(hr)) return kInvokeFailed;
    if (!options.waitForExit.empty()) {
        if (!WaitForExit(options.waitForExit, options.timeoutMs)) return kNoConverter;
        Out("the converter has finished\n");
        return kOk;
    }
    TransformLog::Run run;
    if (logPath.empty() || !log.Wait(options.timeoutMs, run)) {
        Err("shellhost: the converter logged no run in time\n");
        return kNoConverter;
    }
    PrintConverterRun(run);
    return kOk;
}

// Windows 10: the static verb of the first item's kind, then the command as
// Windows 11 would ask it; its sub-commands are the verb's submenu.
int RunWin10Verb(const Options& options, const Selection& selection) {
    StaticVerb verb;
    std::wstring problem;
    if (selection.IsFolder(0) || !FindStaticVerb(selection.Path(0), verb, problem)) {
        Err("shellhost: " + (problem.empty() ? std::string("a folder has no kind's static verbs") : Utf8(problem)) +
            "\n");
        return kNoHandler;
    }
    const std::wstring module = options.win11Module.empty() ? verb.module : options.win11Module;
    Out("static verb HKCR\\" + Utf8(verb.keyPath) + ": ExplorerCommandHandler " + Utf8(verb.clsid) + ", module " +
        (module.empty() ? std::string("none registered") : Utf8(module)) + "\n");
    if (module.empty()) return kNoHandler;
    return RunCommand(options, &selection, nullptr, module, verb.clsid);
}

// The paths as items that give their file-system path alone.
int RunWithPathItems(const Options& options) {
    std::vector<std::wstring> paths;
    Out("selection: " + std::to_string(options.paths.size()) + " item(s), handed as their paths alone\n");
    for (const std::wstring& given : options.paths) {
        static wchar_t full[32768];
        const DWORD length = GetFullPathNameW(given.c_str(), 32768, full, nullptr);
        const std::wstring path = length > 0 && length < 32768 ? std::wstring(full, length) : given;
        const std::wstring probe = path.size() >= MAX_PATH && path.compare(0, 4, L"\\\\?\\") != 0 ? L"\\\\?\\" + path : path;
        if (GetFileAttributesW(probe.c_str()) == INVALID_FILE_ATTRIBUTES) {
            Err("shellhost: \"" + Utf8(given) + "\" does not exist\n");
            return kUsage;
        }
        paths.push_back(path);
        Out("  " + Utf8(path) + "  (as a path alone)\n");
    }
    IShellItemArray* items = CreatePathItems(paths);
    const int code = RunCommand(options, nullptr, items, options.win11Module, options.clsid);
    items->Release();
    return code;
}

int Run(const Options& options) {
    if (options.itemsAsPaths) return RunWithPathItems(options);
    Selection selection;
    std::wstring problem;
    const bool selected = options.allOf.empty() ? selection.AddPaths(options.paths, problem)
                                                : selection.AddFolderContents(options.allOf, problem);
    if (!selected) {
        Err("shellhost: " + Utf8(problem) + "\n");
        return kUsage;
    }
    PrintSelection(selection);
    if (GetACP() != 1252)
        Err("shellhost: note: the ANSI code page is " + std::to_string(GetACP()) +
            ", not 1252; handlers' 8-bit captions are read as code page 1252\n");
    if (options.win10Verb) return RunWin10Verb(options, selection);
    if (!options.win11Module.empty())
        return RunCommand(options, &selection, nullptr, options.win11Module, options.clsid);

    // Explorer offers the handlers of the item that was right-clicked: the first.
    const std::wstring classKey = selection.IsFolder(0) ? L"Folder" : L"*";
    std::vector<std::wstring> skipped;
    const std::vector<RegisteredHandler> registered = FindHandlers(classKey, skipped);
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
    ContextMenu menu;
    Out("handlers under HKCR\\" + Utf8(HandlersKeyPath(classKey)) + ":\n");
    menu.Build(registered, selection, data);
    data->Release();
    if (menu.Empty()) {
        Err("shellhost: no handler added an entry to the context menu\n");
        return kEmptyMenu;
    }
    menu.Print();

    int code = kOk;
    const MenuEntry* chosen = EntryToChoose(options, menu, code);
    if (code != kOk) return code;
    POINT at = {0, 0};
    if (options.showMenu) {
        const MenuEntry* picked = ShowMenu(options, selection, menu, chosen, window, at);
        if (!chosen) chosen = picked;
    }
    if (!chosen) return kOk;
    if (chosen->submenu) {
        Err("shellhost: \"" + Utf8(chosen->caption) + "\" opens a submenu; Explorer cannot choose it\n");
        return kNoSuchEntry;
    }
    if (!menu.OwnerOf(chosen->id)) {
        Err("shellhost: no handler owns identifier " + std::to_string(chosen->id) + "\n");
        return kNoSuchEntry;
    }

    if (!options.waitForExit.empty()) {
        hr = Invoke(selection, menu, *chosen, window.Handle(), at);
        if (FAILED(hr)) {
            Err("shellhost: invoking the entry failed: " + HresultText(hr) + "\n");
            return kInvokeFailed;
        }
        if (!WaitForExit(options.waitForExit, options.timeoutMs)) {
            Err("shellhost: " + Utf8(options.waitForExit) + " still runs after " +
                std::to_string(options.timeoutMs / 1000) + " s\n");
            return kNoConverter;
        }
        Out("the converter has finished\n");
        return kOk;
    }

    const std::string logPath =
        ConverterLog::Locate(options.converterLog.empty() ? std::string() : AnsiFromWide(options.converterLog));
    ConverterLog log(logPath);
    if (!logPath.empty()) log.Mark();

    hr = Invoke(selection, menu, *chosen, window.Handle(), at);
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
        if (error.empty()) {  // --help
            Out(kUsageText);
            return kOk;
        }
        Err("shellhost: " + error + "\n");
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
