// Times IShellExtInit::Initialize of the built DLL on selections of 1 to
// 100,000 paths, against two yardsticks: the floor (one pass over the drop
// list's bytes plus one GetFileAttributesA per path, which any capture has to
// pay) and reading the list index by index with DragQueryFileA, which walks
// the list from its start for every path. Prints medians and per-path times.
//
//   benchselection.exe [largest-count]     (default 100000)
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Hands out one fixed drop list; the medium's release object keeps the block
// alive, so every run reads the very same bytes.
class FixedDropData : public IDataObject {
public:
    explicit FixedDropData(HGLOBAL list) : list_(list) {}
    ~FixedDropData() { GlobalFree(list_); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDataObject)) {
            *ppv = static_cast<IDataObject*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = list_;
        medium->pUnkForRelease = this;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return S_OK; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

    HGLOBAL List() const { return list_; }

private:
    HGLOBAL list_;
};

template <typename Char>
HGLOBAL BuildList(const std::vector<std::basic_string<Char>>& paths, BOOL wide) {
    size_t chars = 1;
    for (const auto& p : paths) chars += p.size() + 1;
    HGLOBAL handle = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(Char));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(handle));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = wide;
    Char* out = reinterpret_cast<Char*>(reinterpret_cast<BYTE*>(drop) + sizeof(DROPFILES));
    for (const auto& p : paths) {
        std::memcpy(out, p.data(), p.size() * sizeof(Char));
        out += p.size();
        *out++ = 0;
    }
    *out = 0;
    GlobalUnlock(handle);
    return handle;
}

std::string ProgramDir() {
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of('\\') + 1);
}

volatile size_t sink = 0;  // keeps the yardsticks' work from being optimised away

// One pass over the list's bytes plus one GetFileAttributesA per path.
double Floor(HGLOBAL list, const std::vector<std::string>& ansiPaths) {
    const double start = Now();
    const auto* bytes = static_cast<const BYTE*>(GlobalLock(list));
    const size_t size = GlobalSize(list);
    size_t zeros = 0;
    for (size_t i = sizeof(DROPFILES); i < size; ++i) zeros += bytes[i] == 0;
    GlobalUnlock(list);
    for (const auto& p : ansiPaths) sink += GetFileAttributesA(p.c_str());
    sink += zeros;
    return Now() - start;
}

bool LooksLikePicture(const char* path) {
    const char* dot = std::strrchr(path, '.');
    return dot && !std::strchr(dot, '\\') && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, dot, -1, ".jpg", -1) == CSTR_EQUAL;
}

// The capture as it reads index by index: DragQueryFileA for path i walks
// the list from its start.
double PerIndex(HGLOBAL list) {
    const double start = Now();
    auto drop = static_cast<HDROP>(list);
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<std::string> kept;
    char buffer[MAX_PATH + 1];
    for (UINT i = 0; i < count; ++i) {
        DragQueryFileA(drop, i, buffer, sizeof buffer);
        if (LooksLikePicture(buffer)) kept.emplace_back(buffer);
        const DWORD attributes = GetFileAttributesA(buffer);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) kept.emplace_back(buffer);
    }
    sink += kept.size();
    return Now() - start;
}

struct Row {
    int count;
    const char* kind;
    double initialize, floor, perIndex;
    int runs, perIndexRuns;
};

}  // namespace

int main(int argc, char** argv) {
    const int largest = argc > 1 ? std::atoi(argv[1]) : 100000;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    const std::string dll = ProgramDir() + "QuennelExt.dll";
    HMODULE module = LoadLibraryA(dll.c_str());
    if (!module) {
        std::printf("cannot load %s\n", dll.c_str());
        return 1;
    }
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    const CLSID clsid = {0x5B1C9E47, 0x2D83, 0x4A6F, {0x9E, 0x10, 0x7C, 0x4D, 0x2B, 0x8A, 0x63, 0xF1}};
    IClassFactory* factory = nullptr;
    IShellExtInit* init = nullptr;
    if (!getClassObject || FAILED(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)))) {
        std::printf("cannot create the extension object\n");
        return 1;
    }
    factory->Release();

    // The pictures lie in a folder that exists, as a real selection's do;
    // the files themselves need not, the directory test costs the same.
    const std::string folder = "C:\\qbench-selection\\";
    CreateDirectoryA(folder.c_str(), nullptr);

    std::vector<Row> rows;
    for (int count : {1, 1000, 10000, 100000}) {
        if (count > largest) break;
        std::vector<std::string> narrow;
        std::vector<std::wstring> wide;
        for (int i = 0; i < count; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "Urlaub 2023 Bild %06d.jpg", i);
            narrow.push_back(folder + name);
            wide.emplace_back(narrow.back().begin(), narrow.back().end());
        }
        const int runs = count <= 1000 ? 21 : count <= 10000 ? 9 : 5;
        const int perIndexRuns = count <= 1000 ? 21 : count <= 10000 ? 3 : 1;
        for (BOOL isWide : {TRUE, FALSE}) {
            FixedDropData data(isWide ? BuildList(wide, TRUE) : BuildList(narrow, FALSE));
            std::vector<double> tInit, tFloor, tPerIndex;
            for (int r = 0; r < runs; ++r) {
                const double start = Now();
                const HRESULT hr = init->Initialize(nullptr, &data, nullptr);
                tInit.push_back(Now() - start);
                if (hr != S_OK) {
                    std::printf("Initialize answered 0x%08lX\n", static_cast<unsigned long>(hr));
                    return 1;
                }
                tFloor.push_back(Floor(data.List(), narrow));
            }
            for (int r = 0; r < perIndexRuns; ++r) tPerIndex.push_back(PerIndex(data.List()));
            rows.push_back({count, isWide ? "wide" : "narrow", Median(tInit), Median(tFloor),
                            Median(tPerIndex), runs, perIndexRuns});
            const Row& row = rows.back();
            std::printf("%7d %-6s  Initialize %10.3f ms (%6.2f us/path)  floor %10.3f ms (%6.2f us/path)"
                        "  per-index %11.3f ms (%8.2f us/path)  Initialize/floor %.2f  runs %d/%d\n",
                        row.count, row.kind, row.initialize * 1e3, row.initialize * 1e6 / count,
                        row.floor * 1e3, row.floor * 1e6 / count, row.perIndex * 1e3,
                        row.perIndex * 1e6 / count, row.initialize / row.floor, row.runs, row.perIndexRuns);
            std::fflush(stdout);
        }
    }
    init->Release();
    RemoveDirectoryA(folder.c_str());
    FreeLibrary(module);
    CoUninitialize();
    return 0;
}
