#include "CommandFixture.h"

#include <atomic>

bool ReadBytes(const std::string& path, std::string& bytes) {
    return TransformLog::ReadFileBytes(path, bytes);
}

namespace {
void SetInstallDirRaw(DWORD type, const BYTE* data, DWORD size) {
    HKEY key = nullptr;
    const std::string path = std::string(kSettingsKey) + "\\SETUP";
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "INSTDIR_P1", 0, type, data, size), ERROR_SUCCESS);
    RegCloseKey(key);
}
}  // namespace

void SetInstallDirValue(const std::string& text, DWORD type) {
    SetInstallDirRaw(type, reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
}

void SetInstallDirDword(DWORD value) {
    SetInstallDirRaw(REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// ---------------------------------------------------------------------------

Spies& Spies::Instance() {
    static Spies spies;
    return spies;
}

std::vector<ShellExecuteCall> Spies::ShellExecuteCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return shellExecute_;
}

std::vector<EnvironmentCall> Spies::EnvironmentCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return environment_;
}

int Spies::WriteFileCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writeFile_;
}

void Spies::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    shellExecute_.clear();
    environment_.clear();
    writeFile_ = 0;
}

HINSTANCE WINAPI Spies::ShellExecuteSpy(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters,
                                        LPCSTR directory, INT show) {
    Spies& s = Instance();
    ShellExecuteCall call{owner,
                          operation == nullptr, file == nullptr, parameters == nullptr, directory == nullptr,
                          operation ? operation : "", file ? file : "", parameters ? parameters : "",
                          directory ? directory : "", show};
    {
        std::lock_guard<std::mutex> lock(s.mutex_);
        s.shellExecute_.push_back(call);
    }
    return s.realShellExecute(owner, operation, file, parameters, directory, show);
}

DWORD WINAPI Spies::GetEnvironmentSpy(LPCSTR name, LPSTR buffer, DWORD size) {
    Spies& s = Instance();
    const DWORD result = s.realGetEnvironment(name, buffer, size);
    const DWORD error = GetLastError();
    {
        std::lock_guard<std::mutex> lock(s.mutex_);
        s.environment_.push_back({name ? name : "", buffer == nullptr, size, result});
    }
    SetLastError(error);
    return result;
}

BOOL WINAPI Spies::WriteFileSpy(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    Spies& s = Instance();
    {
        std::lock_guard<std::mutex> lock(s.mutex_);
        ++s.writeFile_;
    }
    return s.realWriteFile(file, data, size, written, overlapped);
}

// ---------------------------------------------------------------------------

namespace {
std::atomic<int> scratchCounter{0};

std::string ScratchRoot() {
    static const std::string root = [] {
        char path[MAX_PATH + 1] = {};
        GetTempPathA(sizeof path, path);  // read once, before any test changes "temp"
        return std::string(path);
    }();
    return root;
}
}  // namespace

void CommandTest::SetUp() {
    DeleteSettingsKey();
    apartment_.reset(new ComApartment());
    dll_.reset(new ExtensionDll());
    ASSERT_TRUE(dll_->Loaded()) << ExtensionDllPath();
    ASSERT_EQ(dll_->CreateExtension(IID_IContextMenu, menu_.OutVoid()), S_OK);
    ASSERT_EQ(menu_->QueryInterface(IID_IShellExtInit, init_.OutVoid()), S_OK);

    scratch_ = ScratchRoot() + "qcmd" + std::to_string(GetCurrentProcessId()) + "_" +
               std::to_string(++scratchCounter) + "\\";
    RemoveTree(scratch_);
    ASSERT_TRUE(CreateDirectoryA(scratch_.c_str(), nullptr)) << scratch_;
    ASSERT_TRUE(CreateDirectoryA(InstallDir().c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(TempDir().c_str(), nullptr));
    ASSERT_TRUE(CopyFileA((ProgramDir() + "transformlog.exe").c_str(), (InstallDir() + "transform.exe").c_str(), FALSE))
        << "transformlog.exe beside the test program";

    temp_.reset(new ScopedEnvironment("temp", TempDir().c_str()));
    SetInstallDirValue(InstallDir());

    Spies& s = spies();
    s.Reset();
    shellExecutePatch_.reset(new ImportPatch(Module(), "SHELL32.dll", "ShellExecuteA",
                                             reinterpret_cast<void*>(&Spies::ShellExecuteSpy)));
    environmentPatch_.reset(new ImportPatch(Module(), "KERNEL32.dll", "GetEnvironmentVariableA",
                                            reinterpret_cast<void*>(&Spies::GetEnvironmentSpy)));
    writeFilePatch_.reset(new ImportPatch(Module(), "KERNEL32.dll", "WriteFile",
                                          reinterpret_cast<void*>(&Spies::WriteFileSpy)));
    ASSERT_TRUE(shellExecutePatch_->Applied());
    ASSERT_TRUE(environmentPatch_->Applied());
    ASSERT_TRUE(writeFilePatch_->Applied());
    s.realShellExecute = reinterpret_cast<Spies::ShellExecuteFn>(shellExecutePatch_->Original());
    s.realGetEnvironment = reinterpret_cast<Spies::GetEnvironmentFn>(environmentPatch_->Original());
    s.realWriteFile = reinterpret_cast<Spies::WriteFileFn>(writeFilePatch_->Original());
}

void CommandTest::TearDown() {
    writeFilePatch_.reset();
    environmentPatch_.reset();
    shellExecutePatch_.reset();
    init_.Reset();
    menu_.Reset();
    dll_.reset();
    apartment_.reset();
    temp_.reset();
    DeleteSettingsKey();
    if (!scratch_.empty()) RemoveTree(scratch_);
}

HRESULT CommandTest::Select(const std::vector<std::string>& paths) {
    DropDataObject data(paths);
    return init_->Initialize(nullptr, &data, nullptr);
}

HRESULT CommandTest::Invoke(UINT_PTR verb, HWND owner, int show) {
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.hwnd = owner;
    info.lpVerb = reinterpret_cast<LPCSTR>(verb);
    info.nShow = show;
    return menu_->InvokeCommand(&info);
}

std::vector<TransformLog::Run> CommandTest::Runs() {
    std::vector<TransformLog::Run> runs;
    EXPECT_TRUE(TransformLog::Read(LogPath(), runs)) << "malformed log " << LogPath();
    return runs;
}

std::vector<TransformLog::Run> CommandTest::WaitForRuns(size_t count) {
    // The start is asynchronous: poll, bounded, for the stand-in's record.
    const DWORD limitMs = 60000;
    const DWORD start = GetTickCount();
    std::vector<TransformLog::Run> runs;
    for (;;) {
        if (TransformLog::Read(LogPath(), runs) && runs.size() >= count) return runs;
        if (GetTickCount() - start > limitMs) break;
        Sleep(20);
    }
    ADD_FAILURE() << "transform.exe did not record " << count << " run(s) within " << limitMs
                  << " ms; it recorded " << runs.size();
    return runs;
}
