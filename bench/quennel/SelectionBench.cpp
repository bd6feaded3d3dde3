// IShellExtInit::Initialize of the built DLL on selections of 1 to 100,000
// paths, against the floor that any capture pays (one pass over the drop
// list's bytes plus one GetFileAttributesA per path) and against reading the
// list index by index with DragQueryFileA, which walks the list from its
// start for every path.
#include "Bench.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

using namespace bench;

// One pass over the list's bytes plus one GetFileAttributesA per path.
void Floor(HGLOBAL list, const std::vector<std::string>& paths, size_t count) {
    const auto* bytes = static_cast<const BYTE*>(GlobalLock(list));
    const size_t size = GlobalSize(list);
    size_t zeros = 0;
    for (size_t i = sizeof(DROPFILES); i < size; ++i) zeros += bytes[i] == 0;
    GlobalUnlock(list);
    for (size_t i = 0; i < count; ++i) zeros += GetFileAttributesA(paths[i].c_str());
    Consume(zeros);
}

bool LooksLikePicture(const char* path) {
    const char* end = path + std::strlen(path);
    const char* p = end;
    while (p > path && p[-1] != '.' && p[-1] != '\\' && p[-1] != ':') --p;
    if (p == path || p[-1] != '.') return false;
    char ext[16] = ".";
    const size_t length = static_cast<size_t>(end - p);
    if (length + 2 > sizeof ext) return false;
    for (size_t i = 0; i < length; ++i) ext[i + 1] = static_cast<char>(p[i] >= 'A' && p[i] <= 'Z' ? p[i] + 32 : p[i]);
    ext[length + 1] = 0;
    static const char* const kSome[] = {".jpg", ".tif", ".png", ".jpeg", ".gif", ".bmp"};
    for (const char* known : kSome)
        if (std::strcmp(ext, known) == 0) return true;
    return false;
}

// The capture done index by index.
void PerIndex(HGLOBAL list) {
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
    Consume(kept.size());
}

std::string Count(int n) {
    char text[32];
    if (n >= 1000) std::snprintf(text, sizeof text, "%d,%03d", n / 1000, n % 1000);
    else std::snprintf(text, sizeof text, "%d", n);
    return text;
}

}  // namespace

namespace sections {

void Selection(const Options& options) {
    Extension ext;
    if (!ext.Ready()) {
        std::printf("NOTE\tselection: cannot create the extension object\n");
        return;
    }
    bench::Selection selection;
    if (!PrepareMixedSelection(options.largest, selection)) {
        std::printf("NOTE\tselection: cannot make the files below %s\n", kRoot);
        return;
    }

    for (const bool wide : {true, false}) {
        const char* kind = wide ? "wide" : "narrow";
        std::vector<double> perPathOurs, perPathFloor;
        for (int count : {1, 1000, 10000, 100000}) {
            if (count > options.largest) break;
            const std::vector<std::string> paths(selection.paths.begin(), selection.paths.begin() + count);
            FixedDropData data(BuildDropList(paths, wide));
            const int runs = count <= 1 ? 201 : count <= 1000 ? 21 : count <= 10000 ? 9 : 5;
            bool failed = false;
            double ours = 0, floor = 0;
            TimePair(
                runs,
                [&] {
                    if (ext.Init()->Initialize(nullptr, &data, nullptr) != S_OK) failed = true;
                },
                [&] { Floor(data.List(), selection.paths, count); }, ours, floor);
            if (failed) std::printf("NOTE\tInitialize did not answer S_OK for %d paths\n", count);
            const std::string n = Count(count);
            Emit({"init." + std::to_string(count) + "." + kind,
                  "Initialize, " + n + (count == 1 ? " path (" : " paths (") + kind + " list)", PerPath(ours, count), PerPath(floor, count),
                  ours / floor, "<= 1.20", "runs " + std::to_string(runs)});
            if (count >= 1000) {
                perPathOurs.push_back(ours / count);
                perPathFloor.push_back(floor / count);
            }

            const bool perIndexToo = count < 100000 || options.perIndexLargest;
            const int perIndexRuns = count <= 1000 ? runs : count <= 10000 ? 3 : 1;
            if (perIndexToo) {
                const double perIndex = TimeMedian(perIndexRuns, [&] { PerIndex(data.List()); });
                Emit({"perindex." + std::to_string(count) + "." + kind,
                      "  per-index DragQueryFileA way, " + n + " (" + kind + ")", PerPath(perIndex, count),
                      PerPath(floor, count), perIndex / floor, "", "runs " + std::to_string(perIndexRuns)});
            } else {
                Emit({"perindex." + std::to_string(count) + "." + kind,
                      "  per-index DragQueryFileA way, " + n + " (" + kind + ")", "skipped", PerPath(floor, count), 0,
                      "", "quadratic: minutes per run (bench --per-index-largest runs it once)"});
            }
        }
        if (perPathOurs.size() >= 2) {
            auto spread = [](const std::vector<double>& v) {
                return *std::max_element(v.begin(), v.end()) / *std::min_element(v.begin(), v.end());
            };
            auto list = [](const std::vector<double>& v) {
                std::string text;
                for (double s : v) {
                    char part[32];
                    std::snprintf(part, sizeof part, "%s%.2f", text.empty() ? "" : " / ", s * 1e6);
                    text += part;
                }
                return text + " us/path";
            };
            Emit({std::string("flat.") + kind,
                  std::string("Initialize per path, 1,000 / 10,000 / 100,000 (") + kind + "): max/min",
                  list(perPathOurs), list(perPathFloor), spread(perPathOurs), "<= 1.20",
                  [&] {
                      // Wine's GetFileAttributesA itself slows as the
                      // selection grows; ours over the floor shows whether
                      // the capture adds any growth of its own.
                      char t[160];
                      int at = std::snprintf(t, sizeof t, "floor's own spread %.2f; ours/floor", spread(perPathFloor));
                      for (size_t i = 0; i < perPathOurs.size() && at > 0 && at < static_cast<int>(sizeof t); ++i)
                          at += std::snprintf(t + at, sizeof t - at, "%s%.2f", i ? " / " : " ",
                                              perPathOurs[i] / perPathFloor[i]);
                      return std::string(t);
                  }()});
        }
    }
    SelectOnePicture(ext);
}

}  // namespace sections
