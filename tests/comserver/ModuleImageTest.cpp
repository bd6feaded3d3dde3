// The built DLL as a file: its export and import tables, its version
// information and its bitmap resource "P2M2".
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "support/ExtensionDll.h"
#include "support/PeImage.h"

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

class ModuleImage : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(image.Load(ExtensionDllPath())) << image.Error(); }
    PeImage image;
};

TEST_F(ModuleImage, BuiltForThisArchitecture) {
#ifdef _WIN64
    EXPECT_EQ(image.Machine(), IMAGE_FILE_MACHINE_AMD64);
    EXPECT_TRUE(image.Is64());
#else
    EXPECT_EQ(image.Machine(), IMAGE_FILE_MACHINE_I386);
    EXPECT_FALSE(image.Is64());
#endif
}

TEST_F(ModuleImage, ExportsExactlyTheFourEntryPoints) {
    const std::vector<PeImage::Export> exports = image.Exports();
    ASSERT_EQ(exports.size(), 4u);
    const char* const expected[] = {"DllUnregisterServer", "DllRegisterServer", "DllCanUnloadNow",
                                    "DllGetClassObject"};
    for (DWORD i = 0; i < 4; ++i) {
        EXPECT_EQ(exports[i].ordinal, i + 1);
        EXPECT_EQ(exports[i].name, expected[i]) << "ordinal " << i + 1;
    }
    EXPECT_EQ(Lower(image.ExportModuleName()), "quennelext.dll");

    // The loader agrees: by name and by ordinal the same code.
    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    for (DWORD i = 0; i < 4; ++i) {
        FARPROC byName = GetProcAddress(dll.Module(), expected[i]);
        FARPROC byOrdinal = GetProcAddress(dll.Module(), MAKEINTRESOURCEA(i + 1));
        EXPECT_NE(byName, nullptr) << expected[i];
        EXPECT_EQ(byName, byOrdinal) << expected[i];
        EXPECT_EQ(reinterpret_cast<BYTE*>(byName) - reinterpret_cast<BYTE*>(dll.Module()),
                  static_cast<ptrdiff_t>(exports[i].rva));
    }
}

// Explorer cannot load a handler that needs a MinGW runtime DLL.
TEST_F(ModuleImage, ImportsSystemDllsOnly) {
    const std::set<std::string> system = {
        "kernel32.dll", "user32.dll",   "gdi32.dll",   "advapi32.dll", "shell32.dll",
        "ole32.dll",    "oleaut32.dll", "msvcrt.dll",  "shlwapi.dll",  "comctl32.dll",
        "version.dll",  "ntdll.dll",    "rpcrt4.dll",  "comdlg32.dll", "uxtheme.dll"};
    const std::vector<std::string> imports = image.ImportedDlls();
    EXPECT_FALSE(imports.empty());
    for (const std::string& dll : imports) EXPECT_TRUE(system.count(Lower(dll))) << "imports " << dll;
    for (const std::string& dll : image.DelayImportedDlls())
        EXPECT_TRUE(system.count(Lower(dll))) << "delay-imports " << dll;
    // The allocator behind operator new comes from the system's C runtime.
    const std::vector<std::string> crt = image.ImportedFunctions("msvcrt.dll");
    EXPECT_NE(std::find(crt.begin(), crt.end(), "malloc"), crt.end());
}

// Reads one string of the version resource's German / code page 1252 block
// through version.dll, wide, so that a mis-encoded umlaut shows.
class VersionInfo : public ::testing::Test {
protected:
    void SetUp() override {
        version = LoadLibraryA("version.dll");
        ASSERT_NE(version, nullptr);
        auto sizeOf = reinterpret_cast<DWORD(WINAPI*)(LPCWSTR, LPDWORD)>(
            GetProcAddress(version, "GetFileVersionInfoSizeW"));
        auto read = reinterpret_cast<BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID)>(
            GetProcAddress(version, "GetFileVersionInfoW"));
        query = reinterpret_cast<BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT)>(
            GetProcAddress(version, "VerQueryValueW"));
        ASSERT_TRUE(sizeOf && read && query);
        const std::string path = ExtensionDllPath();
        const std::wstring wide(path.begin(), path.end());
        DWORD handle = 0;
        const DWORD size = sizeOf(wide.c_str(), &handle);
        ASSERT_GT(size, 0u) << "no version resource";
        block.resize(size);
        ASSERT_TRUE(read(wide.c_str(), 0, size, block.data()));
    }
    void TearDown() override {
        if (version) FreeLibrary(version);
    }
    std::wstring Text(const wchar_t* name) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040704E4\\") + name;
        if (!query(block.data(), path.c_str(), &value, &length) || !value) return L"<missing>";
        return std::wstring(static_cast<const wchar_t*>(value));
    }

    HMODULE version = nullptr;
    BOOL(WINAPI* query)(LPCVOID, LPCWSTR, LPVOID*, PUINT) = nullptr;
    std::vector<BYTE> block;
};

TEST_F(VersionInfo, DescribesTheExtension) {
    EXPECT_EQ(Text(L"FileDescription"), L"Vardel Quennel Kontextmen\u00FC-Erweiterung");
    EXPECT_EQ(Text(L"ProductName"), L"Brindlework");
    EXPECT_EQ(Text(L"CompanyName"), L"Vardel Software");
    EXPECT_EQ(Text(L"OriginalFilename"), L"QuennelExt.dll");

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(query(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(static_cast<WORD*>(value)[0], 0x0407);
    EXPECT_EQ(static_cast<WORD*>(value)[1], 1252);
}

TEST_F(VersionInfo, FixedAndTextVersionsAgree) {
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(query(block.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_NE(fixed->dwFileVersionMS | fixed->dwFileVersionLS, 0u);
    auto text = [](DWORD ms, DWORD ls) {
        return std::to_wstring(HIWORD(ms)) + L"." + std::to_wstring(LOWORD(ms)) + L"." +
               std::to_wstring(HIWORD(ls)) + L"." + std::to_wstring(LOWORD(ls));
    };
    EXPECT_EQ(Text(L"FileVersion"), text(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    EXPECT_EQ(Text(L"ProductVersion"), text(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR list) {
    reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
    return TRUE;
}

// "P2M2": RT_BITMAP, German only, a 12 x 12 24-bit bottom-up DIB with a
// 40-byte header, white background.
TEST(BitmapResource, P2M2IsATwelvePixel24BitGermanDib) {
    HMODULE module = LoadLibraryExA(ExtensionDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);

    std::vector<WORD> languages;
    EnumResourceLanguagesA(module, RT_BITMAP, "P2M2", &CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{1031});

    HRSRC found = FindResourceExA(module, RT_BITMAP, "P2M2", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    ASSERT_NE(found, nullptr);
    const DWORD size = SizeofResource(module, found);
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(size, 40u + 432u);

    BITMAPINFOHEADER header;
    std::memcpy(&header, data, sizeof header);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 12);
    EXPECT_EQ(header.biHeight, 12) << "positive: rows stored bottom-up";
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(header.biClrUsed, 0u);

    // Pixel (x, y), y counted from the top.
    auto pixel = [&](int x, int y) {
        const BYTE* p = data + 40 + (11 - y) * 36 + x * 3;
        return RGB(p[2], p[1], p[0]);
    };
    const COLORREF white = RGB(0xFF, 0xFF, 0xFF);
    EXPECT_EQ(pixel(0, 0), white);
    EXPECT_EQ(pixel(11, 11), white);
    int drawn = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) drawn += pixel(x, y) != white;
    EXPECT_GT(drawn, 0) << "a blank picture";

    FreeLibrary(module);
}

}  // namespace
