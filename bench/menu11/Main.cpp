// GetState of QuennelMenu.dll's root command on selections of 10,000 items,
// as Explorer asks it on its UI thread (fOkToBeSlow FALSE), beside the list
// that Invoke builds for the same items. Prints milliseconds, the median of
// several runs:
//   first-picture   the first item is a picture: its extension decides
//   last-picture    9,999 text files on the local drive, then a picture:
//                   one attribute read a file, the worst a local selection costs
//   network         10,000 items on a share that does not exist: answered
//                   E_PENDING without touching it
//   invoke-list     the UTF-8 list of 10,000 pictures, as Invoke writes it
//
//   bench_menu11.exe [FOLDER]   (default: a folder below %TEMP%, made and removed)
#include <windows.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "menu11/ItemSelection.h"
#include "support/ExtensionDll.h"
#include "support/PathItems.h"

namespace {

constexpr size_t kItems = 10000;
constexpr int kRuns = 7;

double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <class Step>
double Median(Step step) {
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        const double start = Now();
        step();
        times.push_back(Now() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], static_cast<int>(wide.size()))));
    return wide;
}

bool MakeFile(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
    CloseHandle(file);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (sizeof(void*) == 4) {
        std::printf("QuennelMenu.dll is built for x86_64 only: nothing to measure\n");
        return 0;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = argc > 1 ? argv[1] : std::wstring(temp) + L"quennel-bench-menu11";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::vector<std::wstring> texts, pictures, network;
    for (size_t i = 0; i < kItems; ++i) {
        const std::wstring stem = folder + L"\\Datei" + std::to_wstring(i);
        texts.push_back(stem + L".txt");
        pictures.push_back(stem + L".jpg");
        network.push_back(L"\\\\quennel-nosuchserver\\Fotos\\Ordner" + std::to_wstring(i));
    }
    for (size_t i = 0; i + 1 < kItems; ++i)
        if (!MakeFile(texts[i])) {
            std::printf("cannot make %ls\n", texts[i].c_str());
            return 1;
        }
    std::vector<std::wstring> lastPicture(texts.begin(), texts.end() - 1);
    lastPicture.push_back(pictures.back());

    const HMODULE dll = LoadLibraryW((Wide(ProgramDir()) + L"QuennelMenu.dll").c_str());
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject =
        dll ? reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")))
            : nullptr;
    const CLSID clsid = {0xB1DF1B31, 0xF10C, 0x4575, {0xBE, 0x9E, 0x64, 0x3E, 0xB1, 0xBA, 0x14, 0x75}};
    IClassFactory* factory = nullptr;
    IExplorerCommand* command = nullptr;
    if (!getClassObject || FAILED(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_IExplorerCommand, reinterpret_cast<void**>(&command)))) {
        std::printf("cannot create the command of QuennelMenu.dll\n");
        return 1;
    }
    factory->Release();

    const auto state = [&](const std::vector<std::wstring>& paths, const char* name, HRESULT expected) {
        IShellItemArray* items = CreatePathItems(paths);
        HRESULT hr = S_OK;
        EXPCMDSTATE shown = ECS_ENABLED;
        const double ms = Median([&] { hr = command->GetState(items, FALSE, &shown); });
        items->Release();
        std::printf("%-14s %6zu items  %9.3f ms  %s\n", name, paths.size(), ms,
                    hr == expected ? (hr == E_PENDING ? "E_PENDING" : "S_OK, shown")
                                   : "UNEXPECTED ANSWER");
        return hr == expected;
    };
    bool ok = state(pictures, "first-picture", S_OK);
    ok = state(lastPicture, "last-picture", S_OK) && ok;
    ok = state(network, "network", E_PENDING) && ok;

    // The list Invoke writes for 10,000 pictures (this module's code, linked
    // in): every path in UTF-8, no file-system call for a picture.
    {
        IShellItemArray* items = CreatePathItems(pictures);
        size_t bytes = 0;
        const double ms = Median([&] { bytes = ItemSelection::ListText(items).size(); });
        items->Release();
        std::printf("%-14s %6zu items  %9.3f ms  (%zu bytes)\n", "invoke-list", kItems, ms, bytes);
    }
    command->Release();
    FreeLibrary(dll);
    if (argc <= 1) {
        for (size_t i = 0; i < kItems; ++i) DeleteFileW(texts[i].c_str());
        RemoveDirectoryW(folder.c_str());
    }
    CoUninitialize();
    return ok ? 0 : 1;
}
