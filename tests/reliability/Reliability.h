// Shared scaffolding of the reliability suite: the figures table printed at
// the end, process meters (handles, private bytes), a hang watchdog, the
// import-table spies and faults, scratch folders, hostile data objects and a
// registry snapshot for the keys that registration touches.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/DropDataObject.h"
#include "support/ExtensionDll.h"
#include "support/ImportPatch.h"
#include "support/TestFiles.h"
#include "support/SettingsKey.h"

// ---------------------------------------------------------------------------
// Figures

// One line of the summary table: what was tried how often, what came of it,
// and how the process's handles and private bytes moved meanwhile.
struct Figure {
    std::string scenario;
    uint64_t tried = 0;
    std::string result;
    std::string leaks;
};
void AddFigure(const Figure& figure);

// Scenarios that may take the whole process down (a crash, an abort when a
// per-load leak runs out) run in a child process of this program: the parent
// starts itself with a test filter and the child's figures come back through
// its output. True in the child.
bool InChildProcess();
struct ChildRun {
    bool started = false;
    bool finished = false;  // false: it ran past the bound and was ended
    DWORD exitCode = 0;
    std::string output;
    std::vector<Figure> figures;
    std::string lastProgress;
};
ChildRun RunInChild(const std::string& gtestFilter, DWORD boundMs);
// A line the parent picks up from a child's output.
void ReportProgress(const std::string& text);

// The lowest free Win32 TLS index of this process. A process has 1,088; a
// module that keeps one per load pushes this up by one per load. (Counting
// every free index instead would touch the expansion slots, after which Wine
// gives each new thread a table of its own, which blurs the memory figures.)
DWORD LowestFreeTlsIndex();

// Handles and private bytes of this process.
struct ProcessUse {
    DWORD handles = 0;
    uint64_t privateBytes = 0;
    static ProcessUse Now();
};

// Handles the module's C++ runtime makes once per load, on the first error
// raised inside it (2 on i686, 4 on x86_64; the Lifecycle tests show what
// happens to them at unload). A stretch of work within one load may grow by
// these; anything per call would show as dozens.
constexpr long kOncePerLoadHandles = 4;

// Measures a stretch of work; Text() reads "handles 123→123, private 4.1→4.1 MiB".
class Meter {
public:
    Meter() : before_(ProcessUse::Now()) {}
    void Stop() { after_ = ProcessUse::Now(); stopped_ = true; }
    long HandleGrowth() const;
    int64_t PrivateGrowth() const;
    std::string Text() const;

private:
    ProcessUse before_;
    ProcessUse after_;
    bool stopped_ = false;
};

// ---------------------------------------------------------------------------
// Spies and faults on the DLL's imports. Every spy counts and, unless a fault
// is armed, passes the call on. They are process-wide: one DLL at a time.

namespace Spy {

struct Counts {
    std::atomic<long> createFile{0}, writeFile{0}, closeHandle{0}, shellExecute{0};
    std::atomic<long> regOpen{0}, regCreate{0}, regQuery{0}, regSet{0};
    std::atomic<long> malloc{0}, messageBox{0}, createPopup{0}, destroyMenu{0};
    void Reset();
    long RegistryReads() const { return regOpen + regCreate + regQuery; }
};
extern Counts calls;

// How WriteFile misbehaves.
enum class WriteFault { None, FailNothingWritten, ShortWrite, ReportShort, FailAfterWriting };
extern std::atomic<WriteFault> writeFault;
extern std::atomic<DWORD> writeFaultError;  // the code a failing WriteFile leaves
// CreateFileA fails, leaving this code, while createFileFails is set.
extern std::atomic<bool> createFileFails;
extern std::atomic<DWORD> createFileError;
// The Nth call (1-based, counted from arming) of RegSetValueExA,
// RegCreateKeyExA or malloc fails; 0: none fails.
extern std::atomic<long> failRegSetAt, failRegCreateAt, failMallocAt;
extern std::atomic<long> regSetSinceArm, regCreateSinceArm, mallocSinceArm;
void Disarm();
// ShellExecuteA is recorded and, unless this is set, not passed on.
extern std::atomic<bool> startConverter;
// Popups the DLL made, for leak checks.
std::vector<HMENU> Popups();
std::vector<std::string> ShellExecuteFiles();

// Patches every spied import of `module` for its lifetime.
class Patches {
public:
    explicit Patches(HMODULE module, bool withMalloc = false);
    ~Patches();
    bool Applied() const;

private:
    std::vector<std::unique_ptr<ImportPatch>> patches_;
};

}  // namespace Spy

// ---------------------------------------------------------------------------
// Files, folders and the environment

std::string ScratchRoot();                    // the temp folder at program start
std::string NewScratchDir(const char* tag);   // made, with a trailing backslash
uint64_t Fnv1a(const std::string& bytes);


// ---------------------------------------------------------------------------
// The extension as the shell drives it

constexpr HRESULT kMenuBuilt = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 26);

// A fresh DLL load with one extension object, a scratch folder with the
// folders "install" and "temp" ("temp" points at the one, INSTDIR_P1 at the
// other), and the spies patched in. The settings key is removed before and
// after.
class ExtensionHost {
public:
    explicit ExtensionHost(const char* tag, bool withMalloc = false);
    ~ExtensionHost();
    bool Ready() const { return ready_; }

    HRESULT Select(const std::vector<std::string>& paths);
    HRESULT Select(IDataObject* data);
    HRESULT Invoke(UINT_PTR verb);
    // QueryContextMenu into a fresh menu, destroyed again; the result.
    HRESULT MenuResult(UINT flags = CMF_NORMAL, int* popupItems = nullptr);

    IContextMenu* Menu() const { return menu_.Get(); }
    IShellExtInit* Init() const { return init_.Get(); }
    const ExtensionDll& Dll() const { return *dll_; }
    HMODULE Module() const { return dll_->Module(); }

    std::string Scratch() const { return scratch_; }
    std::string InstallDir() const { return scratch_ + "install\\"; }
    std::string TempDir() const { return scratch_ + "temp\\"; }
    std::string ListFile() const { return TempDir() + "files.txt"; }
    void ReleaseObject();  // drops the object (the DLL stays loaded)

private:
    bool ready_ = false;
    std::unique_ptr<ComApartment> apartment_;
    std::unique_ptr<ExtensionDll> dll_;
    Ref<IContextMenu> menu_;
    Ref<IShellExtInit> init_;
    std::string scratch_;
    std::unique_ptr<ScopedEnvironment> temp_;
    std::unique_ptr<Spy::Patches> patches_;
};

// The list file's bytes for a list of paths: each followed by CR LF.
std::string ListBytes(const std::vector<std::string>& paths);

// ---------------------------------------------------------------------------
// A data object that answers GetData with a chosen code and medium type.

class HostileDataObject : public IDataObject {
public:
    enum class Kind { HGlobal, NullHGlobal, Stream, Storage, File, Gdi, EnhMetafile, MetafilePict, Null, Unknown };
    HostileDataObject(Kind kind, HRESULT result, HGLOBAL list = nullptr);
    virtual ~HostileDataObject();

    LONG Refs() const { return refs_; }
    LONG MediaOutstanding() const { return releaser_.Refs(); }
    // For Stream and Storage: references the receiver did not give back.
    LONG InterfaceRefsOutstanding();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs_); }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return S_OK; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    Kind kind_;
    HRESULT result_;
    HGLOBAL list_;
    volatile LONG refs_ = 0;
    ReleaseCounter releaser_;
    IStream* stream_ = nullptr;
    IStorage* storage_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HENHMETAFILE enhMetafile_ = nullptr;
    HGLOBAL metafilePict_ = nullptr;
    LPOLESTR fileName_ = nullptr;
};

// ---------------------------------------------------------------------------
// The registry keys that registration writes, saved and put back.

class RegistrySnapshot {
public:
    RegistrySnapshot(HKEY root, std::string path);
    // Puts the key back as it was: its whole subtree, or its absence.
    void Restore() const;
    // Values and subkeys of the saved state as text, for comparisons.
    std::string Text() const;
    static std::string TextOf(HKEY root, const std::string& path);

private:
    struct Value {
        std::string name;
        DWORD type;
        std::string data;
    };
    struct Node {
        std::string name;
        std::vector<Value> values;
        std::vector<Node> children;
    };
    static bool Load(HKEY key, Node& node);
    static void Save(HKEY parent, const Node& node);
    static void Describe(const Node& node, const std::string& prefix, std::string& out);

    HKEY root_;
    std::string path_;
    bool existed_ = false;
    Node node_;
};
