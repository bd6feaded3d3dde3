// The PNG and TIFF readers (libspng, libtiff) against the platform's
// decoder of the same file, from memory, on one core: the reading of a
// picture alone, without the rest of a conversion.
//
//   bench_readers.exe photo.png photo.tif ...
//
// Prints for each file the median of five reads in milliseconds, ours and
// the platform's, and their ratio.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <iterator>
#include <vector>

#include "converter/readers/Png.h"
#include "converter/readers/Tiff.h"
#include "converter/readers/Wic.h"

namespace {

double Now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <class Read>
double MedianOf(Read read) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const double start = Now();
        if (!read()) return -1;
        times.push_back(Now() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ComPtr<IWICImagingFactory> wic;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(wic.Put()))))
        return 1;
    ReadRequest request;
    request.maxPixels = uint64_t{1} << 28;
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const bool png = bytes.size() > 1 && bytes[0] == 0x89;
        const double ours = MedianOf([&]() {
            Decoded decoded;
            return (png ? Png::Read : Tiff::Read)(bytes.data(), bytes.size(), request, decoded).Ok();
        });
        // The platform decodes from the file, as the converter hands it the
        // kinds it reads itself; the file is in the system's cache by now.
        const std::wstring path(argv[i], argv[i] + std::strlen(argv[i]));
        const double platform = MedianOf([&]() {
            Wic::Opened opened;
            Decoded decoded;
            return SUCCEEDED(Wic::Open(wic.Get(), path, opened)) &&
                   SUCCEEDED(Wic::Read(wic.Get(), opened, request, decoded));
        });
        std::printf("%s: ours %.1f ms, platform %.1f ms, ratio %.2f\n", argv[i], ours, platform,
                    platform > 0 ? ours / platform : 0.0);
    }
    return 0;
}
