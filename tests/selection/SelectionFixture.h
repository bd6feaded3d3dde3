// Two ways to watch Initialize. Through the built DLL, as the shell calls it:
// its result, the data object's references and media, and whether the menu
// then appears (QueryContextMenu reports 26 identifiers or none). In process,
// on an extension object made from the core library linked into this program:
// the list of paths itself, read from this program's own module state.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/DropDataObject.h"
#include "support/ExtensionDll.h"

constexpr HRESULT kMenuShown = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 26);
constexpr HRESULT kMenuAbsent = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

// QueryContextMenu on the object behind `init`, into a fresh popup.
HRESULT MenuResult(IShellExtInit* init);

// Initialize on an extension object of this program's own core library.
HRESULT CaptureInProcess(IDataObject* data);

// This program's SelectionList, entry by entry, read from its list file text;
// for paths without a CR LF inside (ListText is for those).
std::vector<std::string> Listed();

// The paths as the list file holds them: each followed by CR LF.
std::string ListText(const std::vector<std::string>& paths);

// Gives this program's module state a fresh, empty SelectionList for each
// test, as the module's start-up does.
class InProcessTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    ComApartment apartment_;
};

// Loads the built DLL and makes one extension object through its factory.
class DllTest : public ::testing::Test {
protected:
    void SetUp() override;

    HRESULT Initialize(IDataObject* data) { return init_->Initialize(nullptr, data, nullptr); }
    HRESULT Menu() { return MenuResult(init_.Get()); }

    ComApartment apartment_;
    ExtensionDll dll_;
    Ref<IShellExtInit> init_;
};

// A folder of its own on the Wine drive for real files and directories,
// removed with everything in it afterwards.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The folder itself, with a trailing backslash; plain ASCII.
    const std::wstring& PathW() const { return path_; }
    std::string Path() const;
    std::wstring MakeFile(const std::wstring& relative) const;
    std::wstring MakeDirectory(const std::wstring& relative) const;

private:
    std::wstring path_;
};

std::wstring Widen(const std::string& ansi);
// Converts to the ANSI code page as the shell's narrow calls do.
std::string Narrow(const std::wstring& wide);

// Volume and file index of what `path` opens; false when it opens nothing.
struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity& o) const {
        return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow;
    }
};
bool IdentityOf(const std::string& ansiPath, FileIdentity& identity);
bool IdentityOfW(const std::wstring& path, FileIdentity& identity);

// What the platform's DragQueryFileA gives for each index of `drop`.
std::vector<std::string> DragQueryAll(HDROP drop);
