#include "selection/SelectionFixture.h"

#include <atomic>

#include "support/TestFiles.h"
#include "untMain/KontextMenuShellExt.h"
#include "untMain/ModuleState.h"

HRESULT MenuResult(IShellExtInit* init) {
    Ref<IContextMenu> menu;
    HRESULT hr = init->QueryInterface(IID_IContextMenu, menu.OutVoid());
    if (FAILED(hr)) return hr;
    HMENU popup = CreatePopupMenu();
    hr = menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);
    DestroyMenu(popup);
    return hr;
}

HRESULT CaptureInProcess(IDataObject* data) {
    TComObject* object = TKontextMenuShellExt::Create();
    IShellExtInit* init = nullptr;
    HRESULT hr = object->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init));
    if (FAILED(hr)) {
        delete object;
        return hr;
    }
    hr = init->Initialize(nullptr, data, nullptr);
    init->Release();  // the last reference: the object goes
    return hr;
}

std::vector<std::string> Listed() {
    std::vector<std::string> paths;
    const std::string& text = SelectionList->Text();
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find("\r\n", begin);
        if (end == std::string::npos) end = text.size();  // no CR LF at the end: shows as a mismatch
        paths.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    // A count that disagrees with the lines shows as an extra or missing entry.
    if (paths.size() != SelectionList->Count())
        paths.push_back("<count " + std::to_string(SelectionList->Count()) + ">");
    return paths;
}

std::string ListText(const std::vector<std::string>& paths) {
    std::string text;
    for (const auto& p : paths) text += p + "\r\n";
    return text;
}

void InProcessTest::SetUp() {
    ASSERT_TRUE(SUCCEEDED(apartment_.Result()));
    SelectionList = new TStringList();
    HasSelection = false;
}

void InProcessTest::TearDown() {
    delete SelectionList;
    SelectionList = nullptr;
    HasSelection = false;
}

void DllTest::SetUp() {
    ASSERT_TRUE(SUCCEEDED(apartment_.Result()));
    ASSERT_TRUE(dll_.Loaded()) << ExtensionDllPath();
    ASSERT_EQ(S_OK, dll_.CreateExtension(IID_IShellExtInit, init_.OutVoid()));
}

namespace {

std::atomic<int> scratchCounter{0};

}  // namespace

ScratchFolder::ScratchFolder() {
    path_ = L"C:\\qsel" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++scratchCounter) + L"\\";
    RemoveTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(path_);
}

std::string ScratchFolder::Path() const {
    return Narrow(path_);
}

std::wstring ScratchFolder::MakeFile(const std::wstring& relative) const {
    const std::wstring path = path_ + relative;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file) << "cannot make a file";
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return path;
}

std::wstring ScratchFolder::MakeDirectory(const std::wstring& relative) const {
    const std::wstring path = path_ + relative;
    EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << "cannot make a directory";
    return path;
}

std::wstring Widen(const std::string& ansi) {
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], n);
    }
    return wide;
}

std::string Narrow(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string ansi(n, '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &ansi[0], n,
                            nullptr, nullptr);
    }
    return ansi;
}

namespace {

bool IdentityOfHandle(HANDLE file, FileIdentity& identity) {
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(file, &info) != FALSE;
    CloseHandle(file);
    if (!ok) return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.indexHigh = info.nFileIndexHigh;
    identity.indexLow = info.nFileIndexLow;
    return true;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

bool IdentityOf(const std::string& ansiPath, FileIdentity& identity) {
    return IdentityOfHandle(CreateFileA(ansiPath.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr),
                            identity);
}

bool IdentityOfW(const std::wstring& path, FileIdentity& identity) {
    return IdentityOfHandle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr),
                            identity);
}

std::vector<std::string> DragQueryAll(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        char buffer[MAX_PATH + 1] = {};
        DragQueryFileA(drop, i, buffer, sizeof buffer);
        paths.emplace_back(buffer, strnlen(buffer, sizeof buffer));
    }
    return paths;
}
