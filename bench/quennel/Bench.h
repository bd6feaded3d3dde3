// Shared pieces of the benchmark: the clock, medians, the rows of the result
// table, the extension reached through its exports, test selections on the
// Wine drive and a data object that hands out one fixed drop list.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

#include "support/ExtensionDll.h"

namespace bench {

// Seconds from an arbitrary start.
double Now();
double Median(std::vector<double> values);

// Median of `runs` timings of `work`.
double TimeMedian(int runs, const std::function<void()>& work);

// Interleaves two workloads run by run, so that a burst of load on the shared
// machine hits both alike; answers the two medians.
void TimePair(int runs, const std::function<void()>& ours, const std::function<void()>& floor,
              double& oursMedian, double& floorMedian);

// One line of the result table: what was measured, our figure, the
// yardstick's, their ratio and the target the ratio is held to (empty when
// the line only informs). scripts/bench.sh puts the two architectures' lines
// side by side, matched by key.
struct Row {
    std::string key;
    std::string measure;
    std::string ours;
    std::string floor;
    double ratio = 0;  // 0: none
    std::string target;
    std::string note;
};

void Emit(const Row& row);                  // prints one tab-separated line at once
std::string Milliseconds(double seconds);    // "12.345 ms"
std::string Microseconds(double seconds);    // "12.34 us"
std::string PerPath(double seconds, int count);  // "5.512 ms, 5.51 us/path"
std::string Bytes(double bytes);             // "1,234,567 B"

// Keeps a result alive so the compiler cannot drop the work behind it.
void Consume(size_t value);

// The built extension beside the benchmark, its extension object and the
// two interfaces the shell drives.
class Extension {
public:
    Extension();
    ~Extension();
    bool Ready() const { return init_ && menu_; }
    IShellExtInit* Init() const { return init_; }
    IContextMenu* Menu() const { return menu_; }
    const ExtensionDll& Dll() const { return dll_; }

private:
    ExtensionDll dll_;
    IShellExtInit* init_ = nullptr;
    IContextMenu* menu_ = nullptr;
};

// A DROPFILES block of `paths`, ANSI or UTF-16; the caller owns it.
HGLOBAL BuildDropList(const std::vector<std::string>& paths, bool wide);

// Hands out one fixed drop list; the medium's release object keeps the block
// alive, so every run reads the very same bytes.
class FixedDropData : public IDataObject {
public:
    explicit FixedDropData(HGLOBAL list) : list_(list) {}
    ~FixedDropData() { GlobalFree(list_); }
    FixedDropData(const FixedDropData&) = delete;
    FixedDropData& operator=(const FixedDropData&) = delete;

    HGLOBAL List() const { return list_; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return S_OK; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    HGLOBAL list_;
};

// The folder on the Wine drive under which the benchmark keeps its files.
extern const char kRoot[];  // "C:\\qbench\\"

// A selection as a user makes it in one folder: of every ten entries six
// pictures (.jpg, .JPG, .png, .tif, .jpeg, .gif), three other files (.txt,
// .docx, .pdf) and one folder, all of them real. Made once per prefix for
// the largest count; a smaller selection is the start of the largest.
struct Selection {
    std::vector<std::string> paths;  // in list order
    std::vector<bool> kept;          // what the extension keeps of each path
};
// Marks the files made in "sel-complete.txt" beside the folder, with the
// count; what is marked is not made again.
bool PrepareMixedSelection(int largest, Selection& out);
// The entries' names, one a line ("F" or "D", a tab, the name), so that a
// script can make them from the Unix side: Wine makes a file in a folder of
// 100,000 only after a case-blind search of the whole folder for it.
void PrintSelection(int largest);

// `count` picture paths in an existing, empty folder; the files need not
// exist, a picture is kept by its extension alone.
std::vector<std::string> PicturePaths(int count);

// The list file's bytes for `paths`: each path followed by CR LF.
std::string ListText(const std::vector<std::string>& paths);

// Runs Initialize on a list of one picture, which replaces (and frees) any
// larger selection left by an earlier step.
bool SelectOnePicture(const Extension& ext);

}  // namespace bench

// The benchmark's sections, in the order main runs them.
namespace sections {
struct Options {
    int largest = 100000;      // the largest selection
    bool perIndexLargest = false;  // also the per-index way at the largest count (minutes)
};
void Size();
void ModuleLoad();
void RoundTrip();
void Selection(const Options& options);
void Memory(const Options& options);
void Menu();
void Invoke(const Options& options);
}  // namespace sections
