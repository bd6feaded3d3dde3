// Registration through the real tools and exports: regsvr32, DllRegisterServer
// and DllUnregisterServer of the built DLL, COM's own CoCreateInstance, and
// the registry read back afterwards in this process's view (the 32-bit view
// for the i686 build in a 64-bit prefix, like the DLL's own).
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "RegistryTree.h"
#include "support/ExtensionDll.h"
#include "support/ImportPatch.h"

namespace {

const char kClsidText[] = "{5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}";
const std::string kClassKey = std::string("CLSID\\") + kClsidText;
const std::string kServerKey = kClassKey + "\\InprocServer32";
const char kShellExtensions[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions";
const std::string kApproved = std::string(kShellExtensions) + "\\Approved";
const char kFolderShellex[] = "Folder\\shellex";
const char kFileShellex[] = "*\\shellex";

struct Entry {
    HKEY root;
    std::string key;
    std::string name;
    std::string data;  // "<server>" stands for the expected server path
};

// The ten entries in the order a pass writes them.
std::vector<Entry> ExpectedEntries(const std::string& serverPath) {
    return {
        {HKEY_CLASSES_ROOT, kClassKey, "", "Vardel Quennel"},
        {HKEY_CLASSES_ROOT, kServerKey, "", serverPath},
        {HKEY_CLASSES_ROOT, kServerKey, "ThreadingModel", "Apartment"},
        {HKEY_CLASSES_ROOT, "Folder\\shellex", "", ""},
        {HKEY_CLASSES_ROOT, "Folder\\shellex\\ContextMenuHandlers", "", ""},
        {HKEY_CLASSES_ROOT, "Folder\\shellex\\ContextMenuHandlers\\Vardel Quennel", "", kClsidText},
        {HKEY_CLASSES_ROOT, "*\\shellex", "", ""},
        {HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers", "", ""},
        {HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\Vardel Quennel", "", kClsidText},
        {HKEY_LOCAL_MACHINE, kApproved, kClsidText, "Vardel Quennel"},
    };
}

bool EntryWritten(const Entry& entry) {
    return ReadValue(entry.root, entry.key, entry.name) == Sz(entry.data);
}

// The subtree one handler root gets: "shellex" with its handler key.
RegTree HandlerTree() {
    RegTree handler{true, {{"", Sz(kClsidText)}}, {}};
    RegTree handlers{true, {{"", Sz("")}}, {{"Vardel Quennel", handler}}};
    return RegTree{true, {{"", Sz("")}}, {{"ContextMenuHandlers", handlers}}};
}

RegTree ClassTree(const std::string& serverPath) {
    RegTree server{true, {{"", Sz(serverPath)}, {"ThreadingModel", Sz("Apartment")}}, {}};
    return RegTree{true, {{"", Sz("Vardel Quennel")}}, {{"InprocServer32", server}}};
}

std::string LongPathOf(const std::string& path) {
    char buffer[MAX_PATH * 2] = {};
    const DWORD n = GetLongPathNameA(path.c_str(), buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

std::string ShortPathOf(const std::string& path) {
    char buffer[MAX_PATH * 2] = {};
    const DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// What COM must find for a module at `path`: the long form, or the 8.3 form
// when the long form has a blank.
std::string ExpectedServerPath(const std::string& path) {
    const std::string longPath = LongPathOf(path);
    return longPath.find(' ') == std::string::npos ? longPath : ShortPathOf(longPath);
}

// Starts a program and waits (bounded) for its exit code; ~0u when it could
// not be started or did not end.
DWORD RunProgram(const std::string& commandLine) {
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, ~0u);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The registry view of the other bitness, when this process has one.
std::optional<REGSAM> OtherView() {
#ifdef _WIN64
    return KEY_WOW64_32KEY;
#else
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) return KEY_WOW64_64KEY;
    return std::nullopt;
#endif
}

// A copy of the built DLL in a folder of its own below the temp folder,
// loaded through `loadPath` (by default the copy's own path) and driven
// through its exports.
class DllCopy {
public:
    explicit DllCopy(const std::string& folderName) {
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof temp, temp);
        folder_ = LongPathOf(temp) + folderName;
        path_ = folder_ + "\\QuennelExt.dll";
        CreateDirectoryA(folder_.c_str(), nullptr);
        copied_ = CopyFileA(ExtensionDllPath().c_str(), path_.c_str(), FALSE) != FALSE;
    }
    ~DllCopy() {
        Unload();
        DeleteFileA(path_.c_str());
        RemoveDirectoryA(folder_.c_str());
    }
    bool Load(const std::string& loadPath) {
        module_ = LoadLibraryA(loadPath.c_str());
        return module_ != nullptr;
    }
    void Unload() {
        if (module_) FreeLibrary(module_);
        module_ = nullptr;
    }
    HRESULT Call(const char* exportName) const {
        auto fn = reinterpret_cast<ExtensionDll::NoArgFn>(GetProcAddress(module_, exportName));
        return fn ? fn() : E_UNEXPECTED;
    }
    std::string ModuleFileName() const {
        char buffer[MAX_PATH * 2] = {};
        const DWORD n = GetModuleFileNameA(module_, buffer, sizeof buffer);
        return std::string(buffer, n);
    }
    bool Copied() const { return copied_; }
    const std::string& Folder() const { return folder_; }
    const std::string& Path() const { return path_; }
    HMODULE Module() const { return module_; }

private:
    std::string folder_;
    std::string path_;
    bool copied_ = false;
    HMODULE module_ = nullptr;
};

// Every test starts with nothing of the extension in the registry and puts
// back afterwards what was there before: the prefix is shared with the other
// test programs. A fresh prefix has empty "ContextMenuHandlers" keys under
// "*" and "Folder", which an unregistration deletes; they come back here.
class Registration : public ::testing::Test {
protected:
    struct SavedTree {
        HKEY root;
        std::string path;
        RegTree tree;
    };
    struct SavedValue {
        HKEY root;
        std::string path;
        std::string name;
        std::optional<RegValue> value;
    };

    void SetUp() override {
        for (const auto& [root, path] : GuardedTrees()) savedTrees_.push_back({root, path, ReadTree(root, path)});
        for (const auto& [path, name] : GuardedApprovalValues())
            savedValues_.push_back({HKEY_LOCAL_MACHINE, path, name, ReadValue(HKEY_LOCAL_MACHINE, path, name)});
        ClearRegistration();
    }

    void TearDown() override {
        for (const SavedTree& saved : savedTrees_) RestoreTree(saved.root, saved.path, saved.tree);
        for (const SavedValue& saved : savedValues_) {
            if (saved.value)
                WriteValue(saved.root, saved.path, saved.name, *saved.value);
            else
                DeleteValue(saved.root, saved.path, saved.name);
        }
    }

    static std::vector<std::pair<HKEY, std::string>> GuardedTrees() {
        // "Approved" directly below HKEY_LOCAL_MACHINE is where a careless
        // approval write would land; it is watched, not expected.
        return {{HKEY_CLASSES_ROOT, kClassKey},
                {HKEY_CLASSES_ROOT, kFolderShellex},
                {HKEY_CLASSES_ROOT, kFileShellex},
                {HKEY_LOCAL_MACHINE, "Approved"}};
    }
    static std::vector<std::pair<std::string, std::string>> GuardedApprovalValues() {
        return {{kApproved, kClsidText}, {kShellExtensions, kClsidText}};
    }

    static void ClearRegistration() {
        for (const auto& [root, path] : GuardedTrees()) DeleteTree(root, path);
        for (const auto& [path, name] : GuardedApprovalValues()) DeleteValue(HKEY_LOCAL_MACHINE, path, name);
    }

    // Gives the four parent keys a default value that registration must
    // replace by an empty text, so that "written" can be told from "there".
    static void MarkParentDefaults() {
        for (const char* key : {"Folder\\shellex", "Folder\\shellex\\ContextMenuHandlers", "*\\shellex",
                                "*\\shellex\\ContextMenuHandlers"})
            WriteValue(HKEY_CLASSES_ROOT, key, "", Sz("left by another program"));
    }

    static RegTree HandlerTreeOf(const char* shellex) { return ReadTree(HKEY_CLASSES_ROOT, shellex); }

    // Checks that exactly the entries before `firstMissing` (0-based) hold
    // their data.
    static void ExpectWrittenUpTo(size_t firstMissing, const std::string& serverPath) {
        const std::vector<Entry> entries = ExpectedEntries(serverPath);
        for (size_t i = 0; i < entries.size(); ++i)
            EXPECT_EQ(EntryWritten(entries[i]), i < firstMissing) << "entry " << i + 1;
    }

private:
    std::vector<SavedTree> savedTrees_;
    std::vector<SavedValue> savedValues_;
};

// ---------------------------------------------------------------------------
// The real registration tool

TEST_F(Registration, RegsvrWritesExactlyTheEntriesAndRemovesThem) {
    const std::string dll = ExtensionDllPath();
    const std::string serverPath = ExpectedServerPath(dll);
    ASSERT_FALSE(serverPath.empty());

    // CreateProcess finds the regsvr32 of this process's bitness: the one in
    // SysWOW64 for a 32-bit test in a 64-bit prefix.
    ASSERT_EQ(RunProgram("regsvr32 /s \"" + dll + "\""), 0u);

    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, kClassKey), ClassTree(serverPath));
    EXPECT_EQ(HandlerTreeOf(kFolderShellex), HandlerTree());
    EXPECT_EQ(HandlerTreeOf(kFileShellex), HandlerTree());
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kApproved, kClsidText), Sz("Vardel Quennel"));
    ExpectWrittenUpTo(10, serverPath);
    if (const auto other = OtherView()) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey, *other)) << "class landed in the other view";
    }

    ASSERT_EQ(RunProgram("regsvr32 /s /u \"" + dll + "\""), 0u);

    EXPECT_FALSE(ReadTree(HKEY_CLASSES_ROOT, kClassKey).exists);
    EXPECT_FALSE(HandlerTreeOf(kFolderShellex).exists);
    EXPECT_FALSE(HandlerTreeOf(kFileShellex).exists);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kApproved, kClsidText), Sz("Vardel Quennel"));
}

// ---------------------------------------------------------------------------
// The exports

TEST_F(Registration, RegisteringAgainChangesNothingAndEmptiesParentDefaults) {
    MarkParentDefaults();
    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    ASSERT_EQ(dll.RegisterServer(), S_OK);
    EXPECT_EQ(HandlerTreeOf(kFileShellex), HandlerTree());
    EXPECT_EQ(HandlerTreeOf(kFolderShellex), HandlerTree());

    std::vector<RegTree> once;
    for (const auto& [root, path] : GuardedTrees()) once.push_back(ReadTree(root, path));
    const auto approvalOnce = ReadValue(HKEY_LOCAL_MACHINE, kApproved, kClsidText);

    ASSERT_EQ(dll.RegisterServer(), S_OK);
    size_t i = 0;
    for (const auto& [root, path] : GuardedTrees()) EXPECT_EQ(ReadTree(root, path), once[i++]) << path;
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kApproved, kClsidText), approvalOnce);
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, kClassKey), ClassTree(ExpectedServerPath(ExtensionDllPath())));
}

TEST_F(Registration, UnregisteringSparesForeignSubkeysAndTheApproval) {
    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    ASSERT_EQ(dll.RegisterServer(), S_OK);
    const std::string foreignHandler = "*\\shellex\\ContextMenuHandlers\\Other Handler";
    WriteValue(HKEY_CLASSES_ROOT, foreignHandler, "", Sz("{00000000-1111-2222-3333-444444444444}"));
    WriteValue(HKEY_CLASSES_ROOT, kClassKey + "\\Implemented Categories", "", Sz("foreign"));

    ASSERT_EQ(dll.UnregisterServer(), S_OK);

    // Under "*" only our handler goes; the keys above it still hold a subkey.
    RegTree files = HandlerTree();
    files.subkeys["ContextMenuHandlers"].subkeys.clear();
    files.subkeys["ContextMenuHandlers"].subkeys["Other Handler"] =
        RegTree{true, {{"", Sz("{00000000-1111-2222-3333-444444444444}")}}, {}};
    EXPECT_EQ(HandlerTreeOf(kFileShellex), files);
    // "Folder\shellex" held nothing but ours: all three keys are gone.
    EXPECT_FALSE(HandlerTreeOf(kFolderShellex).exists);
    // The class key survives for its foreign subkey; the server key does not.
    const RegTree classKey{true,
                           {{"", Sz("Vardel Quennel")}},
                           {{"Implemented Categories", RegTree{true, {{"", Sz("foreign")}}, {}}}}};
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, kClassKey), classKey);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kApproved, kClsidText), Sz("Vardel Quennel"));
}

TEST_F(Registration, UnregisteringWhatWasNeverRegisteredSucceedsAndChangesNothing) {
    // As on a machine with other handlers: both handler lists have an entry.
    WriteValue(HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\Other", "", Sz("{1}"));
    WriteValue(HKEY_CLASSES_ROOT, "Folder\\shellex\\ContextMenuHandlers\\Other", "", Sz("{2}"));
    std::vector<RegTree> before;
    for (const auto& [root, path] : GuardedTrees()) before.push_back(ReadTree(root, path));

    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    EXPECT_EQ(dll.UnregisterServer(), S_OK);
    EXPECT_EQ(dll.UnregisterServer(), S_OK);

    size_t i = 0;
    for (const auto& [root, path] : GuardedTrees()) EXPECT_EQ(ReadTree(root, path), before[i++]) << path;
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kApproved, kClsidText).has_value());

    // With nothing at all below "*" and "Folder" it still succeeds.
    ClearRegistration();
    EXPECT_EQ(dll.UnregisterServer(), S_OK);
    for (const auto& [root, path] : GuardedTrees()) EXPECT_FALSE(ReadTree(root, path).exists) << path;
}

TEST_F(Registration, PathWithBlankIsRegisteredInItsShortForm) {
    DllCopy copy("Quennel Reg Blank");
    ASSERT_TRUE(copy.Copied());
    ASSERT_TRUE(copy.Load(copy.Path()));
    ASSERT_EQ(copy.Call("DllRegisterServer"), S_OK);

    const auto server = ReadValue(HKEY_CLASSES_ROOT, kServerKey, "");
    ASSERT_TRUE(server.has_value());
    const std::string registered = server->data.substr(0, server->data.size() - 1);
    EXPECT_EQ(registered.find(' '), std::string::npos) << registered;
    EXPECT_EQ(*server, Sz(ShortPathOf(copy.Path())));
    EXPECT_EQ(LongPathOf(registered), copy.Path()) << "names another file";
    EXPECT_EQ(copy.Call("DllUnregisterServer"), S_OK);
}

TEST_F(Registration, ShortFormUnavailableRegistersTheLongPath) {
    DllCopy copy("Quennel Reg NoShort");
    ASSERT_TRUE(copy.Copied());
    ASSERT_TRUE(copy.Load(copy.Path()));
    static DWORD calls;
    calls = 0;
    struct Fail {
        static DWORD WINAPI GetShortPathNameA(LPCSTR, LPSTR, DWORD) {
            ++calls;
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
    };
    ImportPatch patch(copy.Module(), "KERNEL32.dll", "GetShortPathNameA",
                      reinterpret_cast<void*>(&Fail::GetShortPathNameA));
    ASSERT_TRUE(patch.Applied());

    ASSERT_EQ(copy.Call("DllRegisterServer"), S_OK);
    EXPECT_GE(calls, 1u);
    EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, kServerKey, ""), Sz(copy.Path()));
    EXPECT_EQ(copy.Call("DllUnregisterServer"), S_OK);
}

TEST_F(Registration, ShortLoadPathIsRegisteredInItsLongForm) {
    DllCopy copy("QuennelRegistrationLongFolder");
    ASSERT_TRUE(copy.Copied());
    ASSERT_EQ(copy.Path().find(' '), std::string::npos) << "temp folder has a blank: " << copy.Path();
    const std::string shortPath = ShortPathOf(copy.Path());
    ASSERT_NE(shortPath, copy.Path()) << "no 8.3 names here";
    ASSERT_TRUE(copy.Load(shortPath));
    // The loader hands the short path on; the long one must be rebuilt.
    ASSERT_EQ(copy.ModuleFileName(), shortPath);

    ASSERT_EQ(copy.Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, kServerKey, ""), Sz(copy.Path()));
    EXPECT_EQ(copy.Call("DllUnregisterServer"), S_OK);
}

// ---------------------------------------------------------------------------
// COM finds the class through the entries

TEST_F(Registration, ComCreatesTheRegisteredClassUntilItIsUnregistered) {
    ComApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.Result()));
    {
        ExtensionDll dll;
        ASSERT_TRUE(dll.Loaded());
        ASSERT_EQ(dll.RegisterServer(), S_OK);
    }
    {
        Ref<IContextMenu> menu;
        ASSERT_EQ(CoCreateInstance(kExtensionClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                                   menu.OutVoid()),
                  S_OK);
        Ref<IShellExtInit> init;
        EXPECT_EQ(menu->QueryInterface(IID_IShellExtInit, init.OutVoid()), S_OK);
        Ref<IContextMenu> again;
        EXPECT_EQ(init->QueryInterface(IID_IContextMenu, again.OutVoid()), S_OK);
    }
    {
        ExtensionDll dll;
        ASSERT_TRUE(dll.Loaded());
        ASSERT_EQ(dll.UnregisterServer(), S_OK);
    }
    Ref<IContextMenu> gone;
    EXPECT_EQ(CoCreateInstance(kExtensionClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu, gone.OutVoid()),
              REGDB_E_CLASSNOTREG);
}

// ---------------------------------------------------------------------------
// Failures

// Fails the Nth call of a registry function made through the DLL's imports.
struct NthCall {
    static int failAt;
    static int calls;
    static bool Fails() { return ++calls == failAt; }
};
int NthCall::failAt = 0;
int NthCall::calls = 0;

LONG WINAPI FailingRegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                  DWORD size) {
    if (NthCall::Fails()) return ERROR_ACCESS_DENIED;
    return RegSetValueExA(key, name, reserved, type, data, size);
}

LONG WINAPI FailingRegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR cls, DWORD options,
                                   REGSAM access, const SECURITY_ATTRIBUTES* security, PHKEY result,
                                   LPDWORD disposition) {
    if (NthCall::Fails()) return ERROR_ACCESS_DENIED;
    return RegCreateKeyExA(key, subKey, reserved, cls, options, access,
                           const_cast<SECURITY_ATTRIBUTES*>(security), result, disposition);
}

int messageBoxes = 0;
int WINAPI CountingMessageBoxA(HWND, LPCSTR, LPCSTR, UINT) {
    ++messageBoxes;
    return IDOK;
}

TEST_F(Registration, FailedWriteEndsThePassAndKeepsWhatWasWritten) {
    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    const std::string serverPath = ExpectedServerPath(ExtensionDllPath());
    messageBoxes = 0;
    ImportPatch boxes(dll.Module(), "USER32.dll", "MessageBoxA", reinterpret_cast<void*>(&CountingMessageBoxA));
    ASSERT_TRUE(boxes.Applied());

    struct Seam {
        const char* function;
        void* replacement;
        int writes;  // entries that go through it
    };
    // Entry 10's two opens are covered by the next test; its write is the
    // tenth RegSetValueExA.
    for (const Seam& seam : {Seam{"RegSetValueExA", reinterpret_cast<void*>(&FailingRegSetValueExA), 10},
                             Seam{"RegCreateKeyExA", reinterpret_cast<void*>(&FailingRegCreateKeyExA), 9}}) {
        for (int n = 1; n <= seam.writes; ++n) {
            SCOPED_TRACE(std::string(seam.function) + " fails for entry " + std::to_string(n));
            ClearRegistration();
            MarkParentDefaults();
            NthCall::calls = 0;
            NthCall::failAt = n;
            {
                ImportPatch patch(dll.Module(), "ADVAPI32.dll", seam.function, seam.replacement);
                ASSERT_TRUE(patch.Applied());
                EXPECT_EQ(dll.RegisterServer(), E_FAIL);
                EXPECT_EQ(NthCall::calls, n) << "the pass went on after the failure";
            }
            ExpectWrittenUpTo(static_cast<size_t>(n - 1), serverPath);
        }
    }
    EXPECT_EQ(messageBoxes, 0);
}

// Fails RegCreateKeyExA for one of the two opens of the approval.
enum class ApprovalOpen { ShellExtensions, Approved };
ApprovalOpen failingOpen;
LONG WINAPI FailingApprovalOpen(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR cls, DWORD options, REGSAM access,
                                const SECURITY_ATTRIBUTES* security, PHKEY result, LPDWORD disposition) {
    const bool first = subKey && lstrcmpiA(subKey, kShellExtensions) == 0;
    const bool second = subKey && lstrcmpiA(subKey, "Approved") == 0;
    if ((failingOpen == ApprovalOpen::ShellExtensions && first) ||
        (failingOpen == ApprovalOpen::Approved && second))
        return ERROR_ACCESS_DENIED;
    return RegCreateKeyExA(key, subKey, reserved, cls, options, access, const_cast<SECURITY_ATTRIBUTES*>(security),
                           result, disposition);
}

TEST_F(Registration, ApprovalGoesIntoApprovedOrNowhere) {
    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    const std::string serverPath = ExpectedServerPath(ExtensionDllPath());
    for (ApprovalOpen open : {ApprovalOpen::ShellExtensions, ApprovalOpen::Approved}) {
        SCOPED_TRACE(open == ApprovalOpen::ShellExtensions ? "Shell Extensions cannot be opened"
                                                           : "Approved cannot be opened");
        ClearRegistration();
        failingOpen = open;
        {
            ImportPatch patch(dll.Module(), "ADVAPI32.dll", "RegCreateKeyExA",
                              reinterpret_cast<void*>(&FailingApprovalOpen));
            ASSERT_TRUE(patch.Applied());
            EXPECT_EQ(dll.RegisterServer(), E_FAIL);
        }
        ExpectWrittenUpTo(9, serverPath);
        EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kShellExtensions, kClsidText).has_value());
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Approved"));
        EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kApproved, kClsidText).has_value());
    }
}

HRESULT WINAPI FailingStringFromCLSID(REFCLSID, LPOLESTR* out) {
    if (out) *out = nullptr;
    return E_OUTOFMEMORY;
}

TEST_F(Registration, ClassIdTextFailureFailsBothPasses) {
    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    ASSERT_EQ(dll.RegisterServer(), S_OK);
    {
        ImportPatch patch(dll.Module(), "ole32.dll", "StringFromCLSID",
                          reinterpret_cast<void*>(&FailingStringFromCLSID));
        ASSERT_TRUE(patch.Applied());
        EXPECT_EQ(dll.RegisterServer(), E_FAIL);
        EXPECT_EQ(dll.UnregisterServer(), E_FAIL);
    }
    // The class keys need the CLSID text, so they are still there.
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kServerKey));
    EXPECT_EQ(dll.UnregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}

}  // namespace
