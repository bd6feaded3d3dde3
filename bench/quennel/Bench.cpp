#include "Bench.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

double Now() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double TimeMedian(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        const double start = Now();
        work();
        times.push_back(Now() - start);
    }
    return Median(times);
}

void TimePair(int runs, const std::function<void()>& ours, const std::function<void()>& floor,
              double& oursMedian, double& floorMedian) {
    std::vector<double> a, b;
    for (int r = 0; r < runs; ++r) {
        // Alternate which goes first, so neither always finds the caches warm.
        for (int half = 0; half < 2; ++half) {
            const bool oursNow = (half == 0) == (r % 2 == 0);
            const double start = Now();
            (oursNow ? ours : floor)();
            (oursNow ? a : b).push_back(Now() - start);
        }
    }
    oursMedian = Median(a);
    floorMedian = Median(b);
}

namespace {

// "met" or "missed" for a target of the form "<= x" or "< x" on the ratio,
// or "system only" on the note; "-" for a line that only informs.
const char* Verdict(const Row& row) {
    if (row.target == "system only") return row.note.find("yes") != std::string::npos ? "met" : "missed";
    double limit = 0;
    if (std::sscanf(row.target.c_str(), "<= %lf", &limit) == 1) return row.ratio > 0 && row.ratio <= limit ? "met" : "missed";
    if (std::sscanf(row.target.c_str(), "< %lf", &limit) == 1) return row.ratio > 0 && row.ratio < limit ? "met" : "missed";
    return "-";
}

std::string Field(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

void Emit(const Row& row) {
    char ratio[32] = "-";
    if (row.ratio > 0) std::snprintf(ratio, sizeof ratio, "%.2f", row.ratio);
    std::printf("ROW\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", row.key.c_str(), row.measure.c_str(),
                Field(row.ours).c_str(), Field(row.floor).c_str(), ratio, Field(row.target).c_str(), Verdict(row),
                Field(row.note).c_str());
    std::fflush(stdout);
}

std::string Milliseconds(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1e3);
    return text;
}

std::string Microseconds(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
    return text;
}

std::string PerPath(double seconds, int count) {
    char text[96];
    std::snprintf(text, sizeof text, "%.3f ms, %.2f us/path", seconds * 1e3, seconds * 1e6 / count);
    return text;
}

std::string Bytes(double bytes) {
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.0f", bytes);
    std::string out;
    const size_t n = std::strlen(digits);
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && digits[i - 1] != '-' && (n - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out + " B";
}

volatile size_t sink = 0;
void Consume(size_t value) { sink = sink + value; }

// ---------------------------------------------------------------------------

Extension::Extension() {
    if (!dll_.Loaded()) return;
    if (FAILED(dll_.CreateExtension(IID_IShellExtInit, reinterpret_cast<void**>(&init_)))) return;
    if (FAILED(init_->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu_)))) menu_ = nullptr;
}

Extension::~Extension() {
    if (menu_) menu_->Release();
    if (init_) init_->Release();
}

HGLOBAL BuildDropList(const std::vector<std::string>& paths, bool wide) {
    const size_t unit = wide ? sizeof(WCHAR) : 1;
    size_t chars = 1;
    for (const auto& p : paths) chars += p.size() + 1;
    HGLOBAL handle = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * unit);
    if (!handle) return nullptr;
    auto* drop = static_cast<DROPFILES*>(GlobalLock(handle));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = wide;
    BYTE* out = reinterpret_cast<BYTE*>(drop) + sizeof(DROPFILES);
    for (const auto& p : paths) {
        if (wide) {
            // The benchmark's paths are ASCII: each byte is its own character.
            auto* w = reinterpret_cast<WCHAR*>(out);
            for (size_t i = 0; i < p.size(); ++i) w[i] = static_cast<unsigned char>(p[i]);
        } else {
            std::memcpy(out, p.data(), p.size());
        }
        out += (p.size() + 1) * unit;  // GHND zeroed the terminators
    }
    GlobalUnlock(handle);
    return handle;
}

STDMETHODIMP FixedDropData::QueryInterface(REFIID riid, void** ppv) {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDataObject)) {
        *ppv = static_cast<IDataObject*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP FixedDropData::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = list_;
    medium->pUnkForRelease = this;  // ReleaseStgMedium then leaves the block alone
    return S_OK;
}

// ---------------------------------------------------------------------------

const char kRoot[] = "C:\\qbench\\";

namespace {

enum class Kind { Picture, Other, Folder };

struct Entry {
    const char* suffix;
    Kind kind;
};

const Entry kPattern[10] = {
    {".jpg", Kind::Picture}, {".JPG", Kind::Picture}, {".png", Kind::Picture}, {".tif", Kind::Picture},
    {".jpeg", Kind::Picture}, {".gif", Kind::Picture}, {".txt", Kind::Other}, {".docx", Kind::Other},
    {".pdf", Kind::Other}, {"", Kind::Folder},
};

std::string EntryPath(const std::string& folder, int i) {
    const Entry& e = kPattern[i % 10];
    char name[96];
    std::snprintf(name, sizeof name, "Urlaub 2023 %s %06d%s", e.kind == Kind::Folder ? "Ordner" : "Bild", i,
                  e.suffix);
    return folder + name;
}

int MarkedCount(const std::string& marker) {
    char text[32] = {};
    const HANDLE file = CreateFileA(marker.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD read = 0;
    ReadFile(file, text, sizeof text - 1, &read, nullptr);
    CloseHandle(file);
    return std::atoi(text);
}

void Mark(const std::string& marker, int count) {
    const HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%d", count);
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

void PrintSelection(int largest) {
    for (int i = 0; i < largest; ++i) {
        const std::string name = EntryPath(std::string(), i);
        std::printf("%c\t%s\n", kPattern[i % 10].kind == Kind::Folder ? 'D' : 'F', name.c_str());
    }
    std::fflush(stdout);
}

bool PrepareMixedSelection(int largest, Selection& out) {
    const std::string folder = std::string(kRoot) + "sel\\";
    const std::string marker = std::string(kRoot) + "sel-complete.txt";
    CreateDirectoryA(kRoot, nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    const bool made = MarkedCount(marker) >= largest;
    out.paths.clear();
    out.kept.clear();
    for (int i = 0; i < largest; ++i) {
        out.paths.push_back(EntryPath(folder, i));
        const Kind kind = kPattern[i % 10].kind;
        out.kept.push_back(kind != Kind::Other);
        if (made) continue;
        const std::string& path = out.paths.back();
        if (kind == Kind::Folder) {
            if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
        } else {
            const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
            else if (GetLastError() != ERROR_FILE_EXISTS) return false;
        }
    }
    if (!made) Mark(marker, largest);
    return true;
}

std::vector<std::string> PicturePaths(int count) {
    const std::string folder = std::string(kRoot) + "inv\\";
    CreateDirectoryA(kRoot, nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    std::vector<std::string> paths;
    paths.reserve(count);
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "Urlaub 2023 Bild %06d.jpg", i);
        paths.push_back(folder + name);
    }
    return paths;
}

std::string ListText(const std::vector<std::string>& paths) {
    std::string text;
    for (const auto& p : paths) {
        text += p;
        text += "\r\n";
    }
    return text;
}

bool SelectOnePicture(const Extension& ext) {
    FixedDropData one(BuildDropList({std::string(kRoot) + "one.jpg"}, false));
    return ext.Init()->Initialize(nullptr, &one, nullptr) == S_OK;
}

}  // namespace bench
