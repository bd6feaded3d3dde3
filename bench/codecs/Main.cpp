// The floor of the converter's work on photos: what its codecs alone take
// for one picture, on one core, with no file system, no workers and no
// placing of results. bench/converter/run.sh runs it on its photos and sets
// it against the whole runs.
//
//   bench_codecs.exe photo.jpg ...
//
// Prints, in milliseconds a picture (the median over the pictures): the
// JPEG decode, the JPEG encode at quality 90, the PNG encode, and the
// reduction into 800x600 (decode scaled while decoding, resample, encode).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "converter/base/Geometry.h"
#include "converter/base/Resampling.h"
#include "converter/readers/Jpeg.h"
#include "converter/writers/Jpeg.h"
#include "converter/writers/Png.h"

namespace {

double Now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<double> decode, jpeg, png, preset;
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        ReadRequest full;
        full.maxPixels = uint64_t{1} << 28;
        Decoded decoded;
        double start = Now();
        if (!Jpeg::Read(bytes.data(), bytes.size(), full, decoded).Ok()) {
            std::fprintf(stderr, "%s: not read\n", argv[i]);
            return 1;
        }
        decode.push_back(Now() - start);
        start = Now();
        const size_t jpegBytes = Jpeg::Write(decoded.image, 90).size();
        jpeg.push_back(Now() - start);
        start = Now();
        const size_t pngBytes = Png::Write(decoded.image, Png::Options()).size();
        png.push_back(Now() - start);
        if (jpegBytes == 0 || pngBytes == 0) return 1;

        ReadRequest reduced = full;
        reduced.box = {800, 600};
        start = Now();
        Decoded small;
        if (!Jpeg::Read(bytes.data(), bytes.size(), reduced, small).Ok()) return 1;
        const PixelSize size = Geometry::FitInside({small.image.width, small.image.height}, reduced.box, false);
        const Image fitted = Resampling::Resize(small.image, size);
        if (Jpeg::Write(fitted, 90).empty()) return 1;
        preset.push_back(Now() - start);
    }
    std::printf("decode %.1f jpeg %.1f png %.1f preset %.1f\n", Median(decode), Median(jpeg), Median(png),
                Median(preset));
    return 0;
}
