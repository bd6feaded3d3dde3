// Scaffolding for driving InvokeCommand through the built DLL against the real
// file system, registry, environment and ShellExecuteA.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/DropDataObject.h"
#include "support/ExtensionDll.h"
#include "support/ImportPatch.h"
#include "support/SettingsKey.h"
#include "support/TestFiles.h"
#include "tools/transformlog/TransformLog.h"

// Whole file; false when it cannot be read (missing, held open).
bool ReadBytes(const std::string& path, std::string& bytes);
// Writes SETUP\INSTDIR_P1 with the given type and bytes (text: its zero too).
void SetInstallDirValue(const std::string& text, DWORD type = REG_SZ);
void SetInstallDirDword(DWORD value);

// What the DLL handed ShellExecuteA; each call is passed on to the real one.
struct ShellExecuteCall {
    HWND owner;
    bool operationNull, fileNull, parametersNull, directoryNull;
    std::string operation, file, parameters, directory;
    INT show;
};

// What the DLL asked GetEnvironmentVariableA; passed on as well.
struct EnvironmentCall {
    std::string name;
    bool bufferNull;
    DWORD size;
    DWORD result;
};

class Spies {
public:
    std::vector<ShellExecuteCall> ShellExecuteCalls();
    std::vector<EnvironmentCall> EnvironmentCalls();
    int WriteFileCalls();
    void Reset();

    static Spies& Instance();
    static HINSTANCE WINAPI ShellExecuteSpy(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
    static DWORD WINAPI GetEnvironmentSpy(LPCSTR, LPSTR, DWORD);
    static BOOL WINAPI WriteFileSpy(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

    using ShellExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
    using GetEnvironmentFn = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
    using WriteFileFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    ShellExecuteFn realShellExecute = nullptr;
    GetEnvironmentFn realGetEnvironment = nullptr;
    WriteFileFn realWriteFile = nullptr;

private:
    std::mutex mutex_;
    std::vector<ShellExecuteCall> shellExecute_;
    std::vector<EnvironmentCall> environment_;
    int writeFile_ = 0;
};

// One fresh module per test: its own DLL load (so module-wide state starts
// empty), an extension object, a scratch folder on the Wine drive with
// install\ (holding a copy of transform.exe) and temp\, "temp" pointing at
// temp\, INSTDIR_P1 at install\, and pass-through spies on the DLL's
// ShellExecuteA, GetEnvironmentVariableA and WriteFile imports.
class CommandTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    HRESULT Select(const std::vector<std::string>& paths);
    HRESULT Invoke(UINT_PTR verb, HWND owner = nullptr, int show = SW_SHOWNORMAL);
    // Waits (bounded) until the stand-in's log holds `count` runs.
    std::vector<TransformLog::Run> WaitForRuns(size_t count);
    std::vector<TransformLog::Run> Runs();

    std::string InstallDir() const { return scratch_ + "install\\"; }
    std::string TempDir() const { return scratch_ + "temp\\"; }
    std::string LogPath() const { return InstallDir() + TransformLog::FileName; }
    std::string InstallListFile() const { return InstallDir() + "files.txt"; }
    std::string TempListFile() const { return TempDir() + "files.txt"; }
    std::string Scratch() const { return scratch_; }
    HMODULE Module() const { return dll_ ? dll_->Module() : nullptr; }
    const ExtensionDll& Dll() const { return *dll_; }
    IContextMenu* Menu() const { return menu_.Get(); }
    Spies& spies() { return Spies::Instance(); }

private:
    std::unique_ptr<ComApartment> apartment_;
    std::unique_ptr<ExtensionDll> dll_;
    Ref<IContextMenu> menu_;
    Ref<IShellExtInit> init_;
    std::string scratch_;
    std::unique_ptr<ScopedEnvironment> temp_;
    std::unique_ptr<ImportPatch> shellExecutePatch_, environmentPatch_, writeFilePatch_;
};
