#include "Reliability.h"

#include <psapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------------------
// Figures, the summary table, and the hang watchdog

namespace {

std::mutex figuresMutex;
std::vector<Figure>& Figures() {
    static std::vector<Figure> figures;
    return figures;
}

class SummaryTable : public ::testing::Environment {
public:
    void TearDown() override {
        if (InChildProcess()) return;  // the parent prints the child's figures
        std::lock_guard<std::mutex> lock(figuresMutex);
        const char* arch = sizeof(void*) == 8 ? "x86_64" : "i686";
        std::printf("\nReliability figures (%s)\n", arch);
        std::printf("%-44s %10s  %s\n", "scenario", "tried", "result / leak figures");
        std::printf("%s\n", std::string(120, '-').c_str());
        for (const Figure& f : Figures()) {
            std::printf("%-44s %10llu  %s\n", f.scenario.c_str(), static_cast<unsigned long long>(f.tried),
                        f.result.c_str());
            if (!f.leaks.empty()) std::printf("%-44s %10s  %s\n", "", "", f.leaks.c_str());
        }
        std::printf("%s\n", std::string(120, '-').c_str());
        std::fflush(stdout);
    }
};

// A test that runs far past any of the suite's workloads is hung: report it
// and end the process, so that CTest sees a failure instead of waiting.
class Watchdog : public ::testing::EmptyTestEventListener {
public:
    Watchdog() {
        const char* seconds = std::getenv("QUENNEL_HANG_SECONDS");
        limitMs_ = (seconds && std::atoi(seconds) > 0 ? std::atoi(seconds) : 300) * 1000ULL;
        CloseHandle(CreateThread(nullptr, 0, &Watchdog::Run, this, 0, nullptr));
    }
    void OnTestStart(const ::testing::TestInfo& info) override {
        std::lock_guard<std::mutex> lock(mutex_);
        name_ = std::string(info.test_suite_name()) + "." + info.name();
        start_ = GetTickCount64();
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        // The settings key is shared with the other test programs of the
        // prefix: whatever a test left there goes.
        DeleteSettingsKey();
        std::lock_guard<std::mutex> lock(mutex_);
        start_ = 0;
    }

private:
    static DWORD WINAPI Run(void* self) {
        auto* dog = static_cast<Watchdog*>(self);
        for (;;) {
            Sleep(1000);
            std::lock_guard<std::mutex> lock(dog->mutex_);
            if (dog->start_ && GetTickCount64() - dog->start_ > dog->limitMs_) {
                std::fprintf(stderr, "\nHANG: %s ran past %llu s; ending the process\n", dog->name_.c_str(),
                             dog->limitMs_ / 1000);
                std::fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 3);
            }
        }
        return 0;
    }
    std::mutex mutex_;
    std::string name_;
    ULONGLONG start_ = 0;
    ULONGLONG limitMs_;
};

[[maybe_unused]] const bool registered = [] {
    ::testing::AddGlobalTestEnvironment(new SummaryTable);
    ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
    return true;
}();

}  // namespace

namespace {
constexpr char kChildVariable[] = "QUENNEL_RELIABILITY_CHILD";
constexpr char kFigureMark[] = "@@FIGURE\t";
constexpr char kProgressMark[] = "@@PROGRESS\t";

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return text;
}
}  // namespace

bool InChildProcess() {
    char value[8];
    return GetEnvironmentVariableA(kChildVariable, value, sizeof value) > 0;
}

void AddFigure(const Figure& figure) {
    std::lock_guard<std::mutex> lock(figuresMutex);
    Figures().push_back(figure);
    if (InChildProcess()) {
        std::printf("%s%s\t%llu\t%s\t%s\n", kFigureMark, OneLine(figure.scenario).c_str(),
                    static_cast<unsigned long long>(figure.tried), OneLine(figure.result).c_str(),
                    OneLine(figure.leaks).c_str());
        std::fflush(stdout);
    }
}

void ReportProgress(const std::string& text) {
    std::printf("%s%s\n", kProgressMark, OneLine(text).c_str());
    std::fflush(stdout);
}

ChildRun RunInChild(const std::string& gtestFilter, DWORD boundMs) {
    ChildRun run;
    char exe[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string commandLine = std::string("\"") + exe + "\" --gtest_filter=" + gtestFilter;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    {
        ScopedEnvironment child(kChildVariable, "1");
        run.started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                     &startup, &process) != FALSE;
    }
    CloseHandle(writeEnd);
    if (!run.started) {
        CloseHandle(readEnd);
        return run;
    }
    // Read until the child closes its end; a reader thread keeps the bound.
    struct Reader {
        HANDLE pipe;
        std::string* out;
        static DWORD WINAPI Run(void* self) {
            auto* r = static_cast<Reader*>(self);
            char buffer[4096];
            DWORD got = 0;
            while (ReadFile(r->pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) r->out->append(buffer, got);
            return 0;
        }
    } reader{readEnd, &run.output};
    const HANDLE thread = CreateThread(nullptr, 0, &Reader::Run, &reader, 0, nullptr);
    run.finished = WaitForSingleObject(process.hProcess, boundMs) == WAIT_OBJECT_0;
    if (!run.finished) TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(readEnd);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    size_t pos = 0;
    while (pos < run.output.size()) {
        size_t end = run.output.find('\n', pos);
        if (end == std::string::npos) end = run.output.size();
        std::string line = run.output.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = end + 1;
        if (line.compare(0, sizeof kProgressMark - 1, kProgressMark) == 0) {
            run.lastProgress = line.substr(sizeof kProgressMark - 1);
        } else if (line.compare(0, sizeof kFigureMark - 1, kFigureMark) == 0) {
            std::vector<std::string> fields;
            size_t start = sizeof kFigureMark - 1;
            for (;;) {
                const size_t tab = line.find('\t', start);
                fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
                if (tab == std::string::npos) break;
                start = tab + 1;
            }
            if (fields.size() == 4)
                run.figures.push_back({fields[0], std::strtoull(fields[1].c_str(), nullptr, 10), fields[2], fields[3]});
        }
    }
    return run;
}

DWORD LowestFreeTlsIndex() {
    const DWORD index = TlsAlloc();
    if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
    return index;
}

namespace {

// The system's handle table, counted for this process. Wine answers
// GetProcessHandleCount with 0, but lists every handle here (registry keys
// included), as Windows does.
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

DWORD HandlesFromSystemTable() {
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const Query query =
        reinterpret_cast<Query>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
    if (!query) return 0;
    constexpr ULONG SystemHandleInformation = 16;
    constexpr LONG InfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<char> buffer(1 << 18);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(SystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == InfoLengthMismatch) {
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status != 0) return 0;
        const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
        DWORD mine = 0;
        for (ULONG i = 0; i < table->count; ++i)
            if (table->entries[i].ownerPid == GetCurrentProcessId()) ++mine;
        return mine;
    }
    return 0;
}

}  // namespace

ProcessUse ProcessUse::Now() {
    ProcessUse use;
    if (!GetProcessHandleCount(GetCurrentProcess(), &use.handles) || use.handles == 0)
        use.handles = HandlesFromSystemTable();
    // The commit charge: the process's private memory (Wine leaves
    // PrivateUsage at 0 and keeps PagefileUsage, which Windows sets equal).
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters))
        use.privateBytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
    return use;
}

long Meter::HandleGrowth() const {
    return static_cast<long>(after_.handles) - static_cast<long>(before_.handles);
}

int64_t Meter::PrivateGrowth() const {
    return static_cast<int64_t>(after_.privateBytes) - static_cast<int64_t>(before_.privateBytes);
}

std::string Meter::Text() const {
    char text[160];
    std::snprintf(text, sizeof text, "handles %lu -> %lu (%+ld), private bytes %.2f -> %.2f MiB (%+lld KiB)",
                  before_.handles, after_.handles, HandleGrowth(), before_.privateBytes / 1048576.0,
                  after_.privateBytes / 1048576.0, static_cast<long long>(PrivateGrowth() / 1024));
    return text;
}

// ---------------------------------------------------------------------------
// Spies

namespace Spy {

Counts calls;
std::atomic<WriteFault> writeFault{WriteFault::None};
std::atomic<DWORD> writeFaultError{ERROR_DISK_FULL};
std::atomic<bool> createFileFails{false};
std::atomic<DWORD> createFileError{0};
std::atomic<long> failRegSetAt{0}, failRegCreateAt{0}, failMallocAt{0};
std::atomic<long> regSetSinceArm{0}, regCreateSinceArm{0}, mallocSinceArm{0};
std::atomic<bool> startConverter{false};

namespace {
std::mutex recordMutex;
std::vector<HMENU> popups;
std::vector<std::string> shellExecuteFiles;

using CreateFileFn = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using WriteFileFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
using ShellExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
using RegOpenFn = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
using RegCreateFn = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, const LPSECURITY_ATTRIBUTES, PHKEY,
                                  LPDWORD);
using RegQueryFn = LONG(WINAPI*)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
using RegSetFn = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
using MallocFn = void*(__cdecl*)(size_t);
using MessageBoxFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
using CreatePopupFn = HMENU(WINAPI*)();
using DestroyMenuFn = BOOL(WINAPI*)(HMENU);

CreateFileFn realCreateFile;
WriteFileFn realWriteFile;
CloseHandleFn realCloseHandle;
ShellExecuteFn realShellExecute;
RegOpenFn realRegOpen;
RegCreateFn realRegCreate;
RegQueryFn realRegQuery;
RegSetFn realRegSet;
MallocFn realMalloc;
CreatePopupFn realCreatePopup;
DestroyMenuFn realDestroyMenu;

HANDLE WINAPI CreateFileSpy(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE templ) {
    ++calls.createFile;
    if (createFileFails) {
        SetLastError(createFileError);
        return INVALID_HANDLE_VALUE;
    }
    return realCreateFile(name, access, share, security, disposition, flags, templ);
}

BOOL WINAPI WriteFileSpy(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    ++calls.writeFile;
    switch (writeFault.load()) {
    case WriteFault::None:
        return realWriteFile(file, data, size, written, overlapped);
    case WriteFault::FailNothingWritten:
        if (written) *written = 0;
        SetLastError(writeFaultError);
        return FALSE;
    case WriteFault::ShortWrite:
        return realWriteFile(file, data, size / 2, written, overlapped);
    case WriteFault::ReportShort: {
        const BOOL ok = realWriteFile(file, data, size, written, overlapped);
        if (ok && written && *written > 0) --*written;
        return ok;
    }
    case WriteFault::FailAfterWriting:
        realWriteFile(file, data, size, written, overlapped);
        SetLastError(writeFaultError);
        return FALSE;
    }
    return FALSE;
}

BOOL WINAPI CloseHandleSpy(HANDLE handle) {
    ++calls.closeHandle;
    return realCloseHandle(handle);
}

HINSTANCE WINAPI ShellExecuteSpy(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                 INT show) {
    ++calls.shellExecute;
    {
        std::lock_guard<std::mutex> lock(recordMutex);
        shellExecuteFiles.push_back(file ? file : "");
    }
    if (startConverter) return realShellExecute(owner, operation, file, parameters, directory, show);
    return reinterpret_cast<HINSTANCE>(42);
}

LONG WINAPI RegOpenSpy(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    ++calls.regOpen;
    return realRegOpen(key, subKey, options, access, result);
}

LONG WINAPI RegCreateSpy(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                         const LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
    ++calls.regCreate;
    const long at = failRegCreateAt;
    if (at && ++regCreateSinceArm == at) return ERROR_ACCESS_DENIED;
    return realRegCreate(key, subKey, reserved, keyClass, options, access, security, result, disposition);
}

LONG WINAPI RegQuerySpy(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    ++calls.regQuery;
    return realRegQuery(key, name, reserved, type, data, size);
}

LONG WINAPI RegSetSpy(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    ++calls.regSet;
    const long at = failRegSetAt;
    if (at && ++regSetSinceArm == at) return ERROR_ACCESS_DENIED;
    return realRegSet(key, name, reserved, type, data, size);
}

void* __cdecl MallocSpy(size_t size) {
    ++calls.malloc;
    const long at = failMallocAt;
    if (at && ++mallocSinceArm == at) {
        errno = ENOMEM;
        return nullptr;
    }
    return realMalloc(size);
}

int WINAPI MessageBoxSpy(HWND, LPCSTR, LPCSTR, UINT) {
    ++calls.messageBox;
    return IDOK;
}

HMENU WINAPI CreatePopupSpy() {
    ++calls.createPopup;
    const HMENU menu = realCreatePopup();
    std::lock_guard<std::mutex> lock(recordMutex);
    popups.push_back(menu);
    return menu;
}

BOOL WINAPI DestroyMenuSpy(HMENU menu) {
    ++calls.destroyMenu;
    return realDestroyMenu(menu);
}

template <typename Fn>
void Install(std::vector<std::unique_ptr<ImportPatch>>& patches, HMODULE module, const char* dll,
             const char* function, Fn spy, Fn& original) {
    patches.emplace_back(new ImportPatch(module, dll, function, reinterpret_cast<void*>(spy)));
    if (patches.back()->Applied()) original = reinterpret_cast<Fn>(patches.back()->Original());
}

}  // namespace

void Counts::Reset() {
    for (std::atomic<long>* c : {&createFile, &writeFile, &closeHandle, &shellExecute, &regOpen, &regCreate,
                                 &regQuery, &regSet, &malloc, &messageBox, &createPopup, &destroyMenu})
        *c = 0;
    std::lock_guard<std::mutex> lock(recordMutex);
    popups.clear();
    shellExecuteFiles.clear();
}

void Disarm() {
    writeFault = WriteFault::None;
    writeFaultError = ERROR_DISK_FULL;
    createFileFails = false;
    createFileError = 0;
    failRegSetAt = 0;
    failRegCreateAt = 0;
    failMallocAt = 0;
    regSetSinceArm = 0;
    regCreateSinceArm = 0;
    mallocSinceArm = 0;
    startConverter = false;
}

std::vector<HMENU> Popups() {
    std::lock_guard<std::mutex> lock(recordMutex);
    return popups;
}

std::vector<std::string> ShellExecuteFiles() {
    std::lock_guard<std::mutex> lock(recordMutex);
    return shellExecuteFiles;
}

Patches::Patches(HMODULE module, bool withMalloc) {
    Install(patches_, module, "KERNEL32.dll", "CreateFileA", &CreateFileSpy, realCreateFile);
    Install(patches_, module, "KERNEL32.dll", "WriteFile", &WriteFileSpy, realWriteFile);
    Install(patches_, module, "KERNEL32.dll", "CloseHandle", &CloseHandleSpy, realCloseHandle);
    Install(patches_, module, "SHELL32.dll", "ShellExecuteA", &ShellExecuteSpy, realShellExecute);
    Install(patches_, module, "ADVAPI32.dll", "RegOpenKeyExA", &RegOpenSpy, realRegOpen);
    Install(patches_, module, "ADVAPI32.dll", "RegCreateKeyExA", &RegCreateSpy, realRegCreate);
    Install(patches_, module, "ADVAPI32.dll", "RegQueryValueExA", &RegQuerySpy, realRegQuery);
    Install(patches_, module, "ADVAPI32.dll", "RegSetValueExA", &RegSetSpy, realRegSet);
    Install(patches_, module, "USER32.dll", "CreatePopupMenu", &CreatePopupSpy, realCreatePopup);
    Install(patches_, module, "USER32.dll", "DestroyMenu", &DestroyMenuSpy, realDestroyMenu);
    MessageBoxFn unusedOriginal = nullptr;  // a message box never blocks a test
    Install(patches_, module, "USER32.dll", "MessageBoxA", &MessageBoxSpy, unusedOriginal);
    if (withMalloc) Install(patches_, module, "msvcrt.dll", "malloc", &MallocSpy, realMalloc);
}

Patches::~Patches() {
    Disarm();
    // Put the originals back in reverse order.
    while (!patches_.empty()) patches_.pop_back();
}

bool Patches::Applied() const {
    for (const auto& p : patches_)
        if (!p->Applied()) return false;
    return !patches_.empty();
}

}  // namespace Spy

// ---------------------------------------------------------------------------
// Files and the environment

std::string ScratchRoot() {
    static const std::string root = [] {
        char path[MAX_PATH + 1] = {};
        GetTempPathA(sizeof path, path);  // read once, before any test changes "temp"
        return std::string(path);
    }();
    return root;
}

std::string NewScratchDir(const char* tag) {
    static std::atomic<int> counter{0};
    const std::string dir = ScratchRoot() + "qrel_" + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" +
                            std::to_string(++counter) + "\\";
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

// ---------------------------------------------------------------------------
// ExtensionHost

ExtensionHost::ExtensionHost(const char* tag, bool withMalloc) {
    DeleteSettingsKey();
    Spy::Disarm();
    apartment_.reset(new ComApartment());
    dll_.reset(new ExtensionDll());
    if (!dll_->Loaded()) return;
    if (FAILED(dll_->CreateExtension(IID_IContextMenu, menu_.OutVoid()))) return;
    if (FAILED(menu_->QueryInterface(IID_IShellExtInit, init_.OutVoid()))) return;
    scratch_ = NewScratchDir(tag);
    CreateDirectoryA(InstallDir().c_str(), nullptr);
    CreateDirectoryA(TempDir().c_str(), nullptr);
    if (!CopyFileA((ProgramDir() + "transformlog.exe").c_str(), (InstallDir() + "transform.exe").c_str(), FALSE))
        return;
    temp_.reset(new ScopedEnvironment("temp", TempDir().c_str()));
    if (!WriteSettingText("INSTDIR_P1", InstallDir())) return;
    patches_.reset(new Spy::Patches(dll_->Module(), withMalloc));
    Spy::calls.Reset();
    ready_ = patches_->Applied();
}

ExtensionHost::~ExtensionHost() {
    patches_.reset();
    init_.Reset();
    menu_.Reset();
    dll_.reset();
    apartment_.reset();
    temp_.reset();
    DeleteSettingsKey();
    if (!scratch_.empty()) RemoveTree(scratch_);
}

void ExtensionHost::ReleaseObject() {
    init_.Reset();
    menu_.Reset();
}

HRESULT ExtensionHost::Select(const std::vector<std::string>& paths) {
    DropDataObject data(paths);
    return init_->Initialize(nullptr, &data, nullptr);
}

HRESULT ExtensionHost::Select(IDataObject* data) {
    return init_->Initialize(nullptr, data, nullptr);
}

HRESULT ExtensionHost::Invoke(UINT_PTR verb) {
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.lpVerb = reinterpret_cast<LPCSTR>(verb);
    info.nShow = SW_SHOWNORMAL;
    return menu_->InvokeCommand(&info);
}

HRESULT ExtensionHost::MenuResult(UINT flags, int* popupItems) {
    const HMENU menu = CreatePopupMenu();
    const HRESULT hr = menu_->QueryContextMenu(menu, 0, 1000, 2000, flags);
    if (popupItems) {
        const HMENU popup = GetSubMenu(menu, 0);
        *popupItems = popup ? GetMenuItemCount(popup) : -1;
    }
    DestroyMenu(menu);
    return hr;
}

std::string ListBytes(const std::vector<std::string>& paths) {
    std::string out;
    for (const auto& p : paths) {
        out += p;
        out += "\r\n";
    }
    return out;
}

// ---------------------------------------------------------------------------
// HostileDataObject

HostileDataObject::HostileDataObject(Kind kind, HRESULT result, HGLOBAL list)
    : kind_(kind), result_(result), list_(list) {
    if (!list_) list_ = MakeDropList({"C:\\Bilder\\a.jpg", "C:\\Bilder\\b.png"});
    switch (kind_) {
    case Kind::Stream: {
        CreateStreamOnHGlobal(nullptr, TRUE, &stream_);
        const void* bytes = GlobalLock(list_);
        if (stream_ && bytes) stream_->Write(bytes, static_cast<ULONG>(GlobalSize(list_)), nullptr);
        GlobalUnlock(list_);
        break;
    }
    case Kind::Storage: {
        ILockBytes* lockBytes = nullptr;
        if (SUCCEEDED(CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes))) {
            StgCreateDocfileOnILockBytes(lockBytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                         &storage_);
            lockBytes->Release();
        }
        break;
    }
    case Kind::File: {
        static const wchar_t name[] = L"C:\\Bilder\\medium.jpg";
        fileName_ = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof name));
        if (fileName_) std::memcpy(fileName_, name, sizeof name);
        break;
    }
    case Kind::Gdi:
        bitmap_ = CreateBitmap(4, 4, 1, 32, nullptr);
        break;
    case Kind::EnhMetafile: {
        const HDC dc = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
        Rectangle(dc, 0, 0, 10, 10);
        enhMetafile_ = CloseEnhMetaFile(dc);
        break;
    }
    case Kind::MetafilePict: {
        const HDC dc = CreateMetaFileA(nullptr);
        Rectangle(dc, 0, 0, 10, 10);
        const HMETAFILE metafile = CloseMetaFile(dc);
        metafilePict_ = GlobalAlloc(GHND, sizeof(METAFILEPICT));
        auto* pict = static_cast<METAFILEPICT*>(GlobalLock(metafilePict_));
        *pict = {MM_ANISOTROPIC, 100, 100, metafile};
        GlobalUnlock(metafilePict_);
        break;
    }
    default:
        break;
    }
}

HostileDataObject::~HostileDataObject() {
    if (stream_) stream_->Release();
    if (storage_) storage_->Release();
    if (bitmap_) DeleteObject(bitmap_);
    if (enhMetafile_) DeleteEnhMetaFile(enhMetafile_);
    if (metafilePict_) {
        auto* pict = static_cast<METAFILEPICT*>(GlobalLock(metafilePict_));
        if (pict) DeleteMetaFile(pict->hMF);
        GlobalUnlock(metafilePict_);
        GlobalFree(metafilePict_);
    }
    if (fileName_) CoTaskMemFree(fileName_);
    if (list_) GlobalFree(list_);
}

LONG HostileDataObject::InterfaceRefsOutstanding() {
    IUnknown* object = stream_ ? static_cast<IUnknown*>(stream_) : storage_;
    if (!object) return 0;
    object->AddRef();
    return static_cast<LONG>(object->Release()) - 1;
}

STDMETHODIMP HostileDataObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDataObject)) {
        *ppv = static_cast<IDataObject*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP HostileDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (!format || !medium) return E_INVALIDARG;
    if (FAILED(result_)) return result_;
    std::memset(medium, 0, sizeof *medium);
    // Everything handed out stays ours; the release object tells that the
    // receiver let go of the medium.
    medium->pUnkForRelease = &releaser_;
    releaser_.AddRef();
    switch (kind_) {
    case Kind::HGlobal:
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = list_;
        break;
    case Kind::NullHGlobal:
        medium->tymed = TYMED_HGLOBAL;
        break;
    case Kind::Stream:
        medium->tymed = TYMED_ISTREAM;
        medium->pstm = stream_;
        if (stream_) stream_->AddRef();  // ReleaseStgMedium releases the stream itself
        break;
    case Kind::Storage:
        medium->tymed = TYMED_ISTORAGE;
        medium->pstg = storage_;
        if (storage_) storage_->AddRef();
        break;
    case Kind::File:
        medium->tymed = TYMED_FILE;
        medium->lpszFileName = fileName_;
        break;
    case Kind::Gdi:
        medium->tymed = TYMED_GDI;
        medium->hBitmap = bitmap_;
        break;
    case Kind::EnhMetafile:
        medium->tymed = TYMED_ENHMF;
        medium->hEnhMetaFile = enhMetafile_;
        break;
    case Kind::MetafilePict:
        medium->tymed = TYMED_MFPICT;
        medium->hMetaFilePict = metafilePict_;
        break;
    case Kind::Null:
        medium->tymed = TYMED_NULL;
        break;
    case Kind::Unknown:
        medium->tymed = 0x4000;
        medium->hGlobal = list_;
        break;
    }
    return result_;
}

// ---------------------------------------------------------------------------
// RegistrySnapshot

RegistrySnapshot::RegistrySnapshot(HKEY root, std::string path) : root_(root), path_(std::move(path)) {
    HKEY key = nullptr;
    existed_ = RegOpenKeyExA(root_, path_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (existed_) {
        Load(key, node_);
        RegCloseKey(key);
    }
}

bool RegistrySnapshot::Load(HKEY key, Node& node) {
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameLength = sizeof name;
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::string data(size, '\0');
        DWORD got = size;
        nameLength = sizeof name;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.empty() ? nullptr : &data[0]), &got) != ERROR_SUCCESS)
            break;
        data.resize(got);
        node.values.push_back({std::string(name, nameLength), type, data});
    }
    for (DWORD i = 0;; ++i) {
        char name[1024];
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        Node child;
        child.name.assign(name, nameLength);
        HKEY sub = nullptr;
        if (RegOpenKeyExA(key, child.name.c_str(), 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            Load(sub, child);
            RegCloseKey(sub);
        }
        node.children.push_back(std::move(child));
    }
    std::sort(node.values.begin(), node.values.end(),
              [](const Value& a, const Value& b) { return a.name < b.name; });
    std::sort(node.children.begin(), node.children.end(),
              [](const Node& a, const Node& b) { return a.name < b.name; });
    return true;
}

void RegistrySnapshot::Save(HKEY key, const Node& node) {
    for (const Value& v : node.values)
        RegSetValueExA(key, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                       static_cast<DWORD>(v.data.size()));
    for (const Node& child : node.children) {
        HKEY sub = nullptr;
        if (RegCreateKeyExA(key, child.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr) ==
            ERROR_SUCCESS) {
            Save(sub, child);
            RegCloseKey(sub);
        }
    }
}

void RegistrySnapshot::Restore() const {
    RegDeleteTreeA(root_, path_.c_str());
    RegDeleteKeyA(root_, path_.c_str());
    if (!existed_) return;
    HKEY key = nullptr;
    if (RegCreateKeyExA(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    Save(key, node_);
    RegCloseKey(key);
}

void RegistrySnapshot::Describe(const Node& node, const std::string& prefix, std::string& out) {
    out += prefix + "\n";
    for (const Value& v : node.values) {
        out += "  [" + v.name + "] type " + std::to_string(v.type) + " = ";
        for (unsigned char c : v.data) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", c);
            out += hex;
        }
        out += "\n";
    }
    for (const Node& child : node.children) Describe(child, prefix + "\\" + child.name, out);
}

std::string RegistrySnapshot::Text() const {
    if (!existed_) return "(absent) " + path_ + "\n";
    std::string out;
    Describe(node_, path_, out);
    return out;
}

std::string RegistrySnapshot::TextOf(HKEY root, const std::string& path) {
    return RegistrySnapshot(root, path).Text();
}
