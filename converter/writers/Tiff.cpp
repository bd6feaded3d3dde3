#include "converter/writers/Tiff.h"

#include "converter/base/CheckedSize.h"
#include "converter/base/Pixels.h"
#include "converter/base/TiffMemory.h"

namespace Tiff {

namespace {

constexpr size_t StripBytes = size_t{256} << 10;

uint32_t RowsPerStrip(size_t rowBytes) {
    return static_cast<uint32_t>(rowBytes >= StripBytes ? 1 : StripBytes / rowBytes);
}

}  // namespace

struct RowWriter::State {
    TiffMemory::File file;
    TIFF* tiff = nullptr;
    uint32_t width = 0, height = 0, y = 0;
    uint16_t samples = 3;
    std::vector<uint8_t> row;
    bool ok = false;

    // Given up: libtiff's state goes without writing anything more.
    ~State() {
        if (tiff) TIFFCleanup(tiff);
    }
};

RowWriter::RowWriter() = default;
RowWriter::~RowWriter() = default;

uint64_t RowWriterBytes(uint32_t width, uint32_t height) {
    size_t rowBytes = 0, strips = 0, total = 0;
    if (width == 0 || height == 0 || !CheckedSize::Mul(width, 4, rowBytes)) return UINT64_MAX;
    const uint32_t perStrip = RowsPerStrip(rowBytes);
    strips = height / perStrip + 1;
    // Our row; libtiff's strip buffer (a strip, or a row when a row is
    // larger), its LZW tables and its offsets and counts (8 bytes each);
    // and the metadata step's copies of those lists.
    const size_t strip = rowBytes > StripBytes ? rowBytes : StripBytes;
    return CheckedSize::Product({strips, 8 * 2 + 4 * 3}, total) && CheckedSize::MulAdd(strip, 2, total, total) &&
                   CheckedSize::Add(total, rowBytes + (size_t{256} << 10), total)
               ? total
               : UINT64_MAX;
}

bool RowWriter::Start(uint32_t width, uint32_t height, bool alpha, RandomAccess& file) {
    state_.reset(new State);
    State& s = *state_;
    s.width = width;
    s.height = height;
    s.samples = alpha ? 4 : 3;
    size_t rowBytes = 0;
    if (width == 0 || height == 0 || !CheckedSize::Mul(width, s.samples, rowBytes)) return false;
    s.file.out = &file;
    // libtiff's largest allocation is a strip or a row of ours.
    s.tiff = TiffMemory::Open(s.file, "w", uint64_t{64} << 20);
    if (!s.tiff) return false;
    TIFF* tiff = s.tiff;
    s.ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
           TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, s.samples) &&
           TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
           TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
           TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
           TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
           TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
           TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, RowsPerStrip(rowBytes));
    if (s.ok && alpha) {
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        s.ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (s.ok) s.row.resize(rowBytes);
    return s.ok;
}

bool RowWriter::Row(const uint8_t* bgra) {
    if (!state_ || !state_->ok) return false;
    State& s = *state_;
    if (s.y >= s.height) return s.ok = false;
    uint8_t* to = s.row.data();
    for (uint32_t x = 0; x < s.width; ++x, bgra += 4, to += s.samples) {
        to[0] = bgra[2];
        to[1] = bgra[1];
        to[2] = bgra[0];
        if (s.samples == 4) to[3] = bgra[3];
    }
    s.ok = TIFFWriteScanline(s.tiff, s.row.data(), s.y++, 0) >= 0;
    return s.ok;
}

bool RowWriter::Finish() {
    if (!state_ || !state_->ok) return false;
    State& s = *state_;
    // The directory goes last, after the strips; TiffTags::Embed relies on it.
    s.ok = s.y == s.height && TIFFFlush(s.tiff);
    TIFFClose(s.tiff);
    s.tiff = nullptr;
    return s.ok;
}

std::vector<uint8_t> Write(const Image& image) {
    std::vector<uint8_t> bytes;
    if (!image.Valid()) return bytes;
    InMemory file(bytes);
    bool ok = false;
    {
        RowWriter writer;
        ok = writer.Start(image.width, image.height, Pixels::HasTransparency(image), file);
        for (uint32_t y = 0; ok && y < image.height; ++y) ok = writer.Row(image.Row(y));
        ok = ok && writer.Finish();
    }
    if (!ok) bytes.clear();
    return bytes;
}

}  // namespace Tiff
