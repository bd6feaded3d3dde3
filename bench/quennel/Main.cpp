// The right-click path of QuennelExt.dll against the platform's floor: every
// figure a median over repeated runs, next to the yardstick it is held to.
// Prints tab-separated lines (ROW, NOTE) that scripts/bench.sh puts into one
// table for both architectures.
//
//   bench_quennel.exe [--largest N] [--per-index-largest] [--only s1,s2,...]
//   bench_quennel.exe [--largest N] --print-selection
//
//   --largest N           largest selection (default 100000)
//   --per-index-largest   also read the largest selection index by index
//                         once (quadratic: minutes)
//   --only                sections: size, load, roundtrip, selection, memory,
//                         menu, invoke (default: all, in this order)
//   --print-selection     only list the selection's files and folders, for
//                         scripts/bench.sh to make below C:\qbench\sel
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Bench.h"

int main(int argc, char** argv) {
    sections::Options options;
    std::string only;
    bool printSelection = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--largest") && i + 1 < argc) {
            options.largest = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--per-index-largest")) {
            options.perIndexLargest = true;
        } else if (!std::strcmp(argv[i], "--print-selection")) {
            printSelection = true;
        } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
            only = std::string(",") + argv[++i] + ",";
        } else {
            std::fprintf(stderr, "usage: bench_quennel [--largest N] [--per-index-largest] [--only s1,s2] [--print-selection]\n");
            return 2;
        }
    }
    if (printSelection) {
        bench::PrintSelection(options.largest);
        return 0;
    }
    auto wanted = [&](const char* name) { return only.empty() || only.find(std::string(",") + name + ",") != std::string::npos; };

    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::printf("ARCH\t%s\n", sizeof(void*) == 8 ? "x86_64" : "i686");
    // Loading is timed first, while nothing else holds the DLL.
    if (wanted("size")) sections::Size();
    if (wanted("load")) sections::ModuleLoad();
    if (wanted("roundtrip")) sections::RoundTrip();
    if (wanted("selection")) sections::Selection(options);
    if (wanted("memory")) sections::Memory(options);
    if (wanted("menu")) sections::Menu();
    if (wanted("invoke")) sections::Invoke(options);
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}
