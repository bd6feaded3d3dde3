#include "ShellHostFixture.h"

#include "support/ExtensionDll.h"
#include "support/SettingsKey.h"

std::string ShellHostFixture::setupError_;
bool ShellHostFixture::approvedBefore_ = false;

namespace {

const wchar_t kApprovedKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kClsidText[] = L"{5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}";

bool ApprovedValueExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    bool exists = RegQueryValueExW(key, kClsidText, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

void DeleteApprovedValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, kClsidText);
    RegCloseKey(key);
}

// Keys that a fresh prefix already has and that unregistration removes when
// they are left empty; they are put back as they were found.
const wchar_t* const kHandlerParents[] = {L"*\\shellex", L"*\\shellex\\ContextMenuHandlers", L"Folder\\shellex",
                                          L"Folder\\shellex\\ContextMenuHandlers"};
bool g_parentExisted[4] = {};

bool ClassKeyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool MakeFile(const std::wstring& path, const char* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes, static_cast<DWORD>(strlen(bytes)), &written, nullptr) != FALSE;
    CloseHandle(file);
    return ok;
}

// Removes a tree; a just-ended converter may hold its image a moment longer.
void RemoveTreeRetrying(const std::wstring& dir) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                std::wstring path = dir + L"\\" + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTreeRetrying(path);
                else
                    DeleteFileW(path.c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        if (RemoveDirectoryW(dir.c_str()) || GetFileAttributesW(dir.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        Sleep(50);
    }
}

std::wstring RootPath() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring root(temp);
    if (!root.empty() && root.back() == L'\\') root.pop_back();
    return root + L"\\quennel-e2e-" + std::to_wstring(GetCurrentProcessId());
}

std::string ReadBytes(const std::wstring& path) {
    std::string bytes;
    TransformLog::ReadFileBytes(Ansi(path), bytes);
    return bytes;
}

}  // namespace

std::string Ansi(const std::wstring& text) { return AnsiFromWide(text); }

std::string ListFileOf(const std::vector<std::wstring>& paths) {
    std::string text;
    for (const std::wstring& path : paths) text += Ansi(path) + "\r\n";
    return text;
}

std::wstring ShellHostFixture::Root() {
    static const std::wstring root = RootPath();
    return root;
}
std::wstring ShellHostFixture::InstallDir() { return Root() + L"\\Brindlework"; }
std::wstring ShellHostFixture::TempDir() { return Root() + L"\\Temp"; }
std::wstring ShellHostFixture::PicturesDir() { return Root() + L"\\Bilder"; }

const std::vector<std::wstring>& ShellHostFixture::Pictures() {
    static const std::vector<std::wstring> names = {
        L"Urlaub", L"Blumen.png", L"Foto.JPG", L"Gr\u00F6\u00DFe.gif", L"Notiz.txt", L"Skizze.bmp"};
    return names;
}

std::wstring ShellHostFixture::ManyDir(size_t count) {
    const std::wstring dir = Root() + L"\\Viele" + std::to_wstring(count);
    if (GetFileAttributesW(dir.c_str()) != INVALID_FILE_ATTRIBUTES) return dir;
    CreateDirectoryW(dir.c_str(), nullptr);
    for (size_t i = 1; i <= count; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"\\bild%04u.%ls", static_cast<unsigned>(i), i % 7 == 0 ? L"txt" : L"png");
        MakeFile(dir + name, "x");
    }
    return dir;
}

bool ShellHostFixture::RegisterExtension() {
    ExtensionDll dll;
    return dll.Loaded() && dll.RegisterServer() == S_OK;
}

bool ShellHostFixture::UnregisterExtension() {
    ExtensionDll dll;
    return dll.Loaded() && dll.UnregisterServer() == S_OK;
}

void ShellHostFixture::SetUpTestSuite() {
    setupError_.clear();
    approvedBefore_ = ApprovedValueExists();
    for (size_t i = 0; i < 4; ++i) g_parentExisted[i] = ClassKeyExists(kHandlerParents[i]);
    RemoveTreeRetrying(Root());
    if (!CreateDirectoryW(Root().c_str(), nullptr) || !CreateDirectoryW(InstallDir().c_str(), nullptr) ||
        !CreateDirectoryW(TempDir().c_str(), nullptr) || !CreateDirectoryW(PicturesDir().c_str(), nullptr)) {
        setupError_ = "cannot create the test folders below " + Ansi(Root());
        return;
    }
    const std::wstring converter = WideFromAnsi(ProgramDir()) + L"transformlog.exe";
    if (!CopyFileW(converter.c_str(), (InstallDir() + L"\\transform.exe").c_str(), FALSE)) {
        setupError_ = "cannot install " + Ansi(converter) + " as the converter";
        return;
    }
    bool made = CreateDirectoryW((PicturesDir() + L"\\Urlaub").c_str(), nullptr) &&
                MakeFile(PicturesDir() + L"\\Urlaub\\Strand.jpg", "jpg");
    for (size_t i = 1; i < Pictures().size(); ++i) made = made && MakeFile(PicturesDir() + L"\\" + Pictures()[i], "x");
    if (!made) {
        setupError_ = "cannot create the pictures below " + Ansi(PicturesDir());
        return;
    }
    if (!RegisterExtension()) setupError_ = "DllRegisterServer of " + ExtensionDllPath() + " failed";
}

void ShellHostFixture::TearDownTestSuite() {
    UnregisterExtension();
    if (!approvedBefore_) DeleteApprovedValue();
    for (size_t i = 0; i < 4; ++i) {
        HKEY key = nullptr;
        if (g_parentExisted[i] && RegCreateKeyExW(HKEY_CLASSES_ROOT, kHandlerParents[i], 0, nullptr, 0, KEY_READ,
                                                  nullptr, &key, nullptr) == ERROR_SUCCESS)
            RegCloseKey(key);
    }
    DeleteSettingsKey();
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vardel Software");  // only when nothing else is below it
    RemoveTreeRetrying(Root());
}

void ShellHostFixture::SetUp() {
    ASSERT_TRUE(setupError_.empty()) << setupError_;
    ASSERT_TRUE(DeleteSettingsKey());
    ASSERT_TRUE(WriteSettingText("INSTDIR_P1", Ansi(InstallDir())));
    DeleteFileW((TempDir() + L"\\files.txt").c_str());
    DeleteFileW((InstallDir() + L"\\transform.log").c_str());
}

void ShellHostFixture::TearDown() { DeleteSettingsKey(); }

HostResult ShellHostFixture::Host(const std::vector<std::wstring>& args) {
    return RunProgram(WideFromAnsi(ProgramDir()) + L"shellhost.exe", args,
                      {{L"TEMP", TempDir()}, {L"TMP", TempDir()}, {L"QUENNEL_TRANSFORM_LOG", L""}}, Root());
}

std::string ShellHostFixture::ListFileBytes() const { return ReadBytes(TempDir() + L"\\files.txt"); }

std::vector<TransformLog::Run> ShellHostFixture::ConverterRuns() const {
    std::vector<TransformLog::Run> runs;
    TransformLog::Read(Ansi(InstallDir() + L"\\transform.log"), runs);
    return runs;
}
