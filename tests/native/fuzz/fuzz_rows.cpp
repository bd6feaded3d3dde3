// The streamed path's pure parts against the whole-picture path's, on any
// bytes: the JPEG row reader gives the rows Jpeg::Read gives (the bytes as a
// JPEG file, fed in pieces of any length), the PNG and TIFF row readers the
// rows and metadata Png::Read and Tiff::Read give, the bitmap and Netpbm
// row readers Bmp::Read's and Netpbm::Read's; the PNG row writer's file decodes
// (libpng) to exactly its pixels; the metadata put into a file's first bytes
// as they stream (EditedHead) gives the same file as putting it into the
// whole file, for JPEG and PNG.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <png.h>

#include "converter/metadata/JpegMarkers.h"
#include "converter/metadata/PngChunks.h"
#include "converter/readers/Bmp.h"
#include "converter/readers/Jpeg.h"
#include "converter/readers/Netpbm.h"
#include "converter/readers/Png.h"
#include "converter/readers/Tiff.h"
#include "converter/writers/ByteSink.h"
#include "converter/writers/Jpeg.h"
#include "converter/writers/Png.h"

namespace {

// Every row a row reader gives against the whole reader's picture, which
// they must match exactly; whether any of them was transparent.
template <class Reader>
bool SameRows(Reader& reader, const Image& whole) {
    if (!reader.Begin()) abort();
    std::vector<uint8_t> row(whole.Stride());
    bool transparent = false;
    for (uint32_t y = 0; y < whole.height; ++y) {
        if (!reader.Row(row.data())) abort();
        if (std::memcmp(row.data(), whole.Row(y), row.size()) != 0) abort();
        for (size_t i = 3; i < row.size(); i += 4) transparent |= row[i] != 255;
    }
    return transparent;
}

void CheckJpegRows(const uint8_t* data, size_t size) {
    ReadRequest request;
    request.maxPixels = uint64_t{1} << 22;
    if (size > 1 && (data[size - 1] & 1)) request.box = {1u + data[size - 1] % 97, 1u + data[size - 2] % 89};
    Decoded whole;
    const ReadResult read = Jpeg::Read(data, size, request, whole);

    Jpeg::RowReader reader;
    Decoded head;
    size_t at = 0;
    const size_t piece = 1 + (size ? data[0] % 61 : 0);
    const ReadResult opened = reader.Open(
        [&](uint8_t* buffer, size_t room) {
            const size_t n = std::min({room, piece, size - at});
            std::memcpy(buffer, data + at, n);
            at += n;
            return n;
        },
        request, head);
    if (!read.Ok()) return;  // damaged: the whole path refuses, the rows need not agree
    if (!opened.Ok()) abort();  // a file the whole reader reads must open
    if (reader.Cmyk()) return;  // converted whole, never streamed
    if (!(reader.Size() == PixelSize{whole.image.width, whole.image.height})) abort();
    if (head.orientation != whole.orientation || head.metadata.icc != whole.metadata.icc) abort();
    SameRows(reader, whole.image);  // also a file cut short
}

// The bytes as a file read where a row reader asks.
auto ReadAtBytes(const uint8_t* data, size_t size) {
    return [data, size](uint64_t at, uint8_t* into, size_t room) -> size_t {
        if (at >= size) return 0;
        const size_t n = std::min<uint64_t>(room, size - at);
        std::memcpy(into, data + at, n);
        return n;
    };
}

void CheckPngReaderRows(const uint8_t* data, size_t size) {
    ReadRequest request;
    request.maxPixels = uint64_t{1} << 22;
    Decoded whole;
    if (!Png::Read(data, size, request, whole).Ok()) return;  // the rows need not agree on what is refused
    Png::RowReader reader;
    Decoded head;
    // Refusing hands the file to the whole-picture path: slower, never wrong.
    if (!reader.Open(ReadAtBytes(data, size), size, head).Ok()) return;
    if (!(reader.Size() == PixelSize{whole.image.width, whole.image.height})) abort();
    const Metadata& a = head.metadata;
    const Metadata& b = whole.metadata;
    if (head.orientation != whole.orientation || a.icc != b.icc || a.exif != b.exif || a.xmp != b.xmp ||
        a.dpiX != b.dpiX || a.dpiY != b.dpiY)
        abort();
    if (reader.Interlaced()) return;  // read whole, never streamed
    if (SameRows(reader, whole.image) && !reader.MayBeTransparent()) abort();  // the writers trust it
}

void CheckTiffReaderRows(const uint8_t* data, size_t size) {
    ReadRequest request;
    request.maxPixels = uint64_t{1} << 22;
    Decoded whole;
    if (!Tiff::Read(data, size, request, whole).Ok()) return;
    std::vector<uint8_t> bytes(data, data + size);
    InMemory file(bytes);
    Tiff::RowReader reader;
    Decoded head;
    if (!reader.Open(file, head).Ok() || !reader.Streams()) return;  // read whole instead
    if (!(reader.Size() == PixelSize{whole.image.width, whole.image.height})) abort();
    if (head.orientation != whole.orientation || head.metadata.icc != whole.metadata.icc ||
        head.metadata.exif != whole.metadata.exif || head.metadata.xmp != whole.metadata.xmp)
        abort();
    if (SameRows(reader, whole.image) && !reader.MayBeTransparent()) abort();
}

Image PictureFrom(const uint8_t* data, size_t size) {
    Image image;
    if (size < 3) return image;
    image.width = 1 + data[0] % 40;
    image.height = 1 + data[1] % 40;
    image.bgra.resize(size_t{image.width} * image.height * 4);
    const bool opaque = data[2] & 1, grey = data[2] & 2;
    for (size_t i = 0; i < image.bgra.size(); ++i) image.bgra[i] = size > 3 ? data[3 + i % (size - 3)] : 0;
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
        if (opaque) image.bgra[i + 3] = 255;
        if (grey) image.bgra[i + 1] = image.bgra[i + 2] = image.bgra[i];
    }
    return image;
}

std::vector<uint8_t> PngRows(const Image& image) {
    std::vector<uint8_t> out;
    Png::RowWriter writer;
    if (!writer.Start(image.width, image.height, Png::LayoutOf(image), Png::Options(), Appending(out))) abort();
    for (uint32_t y = 0; y < image.height; ++y)
        if (!writer.Row(image.Row(y))) abort();
    if (!writer.Finish()) abort();
    return out;
}

void CheckPngRows(const Image& image) {
    const std::vector<uint8_t> file = PngRows(image);
    png_image decoded;
    std::memset(&decoded, 0, sizeof decoded);
    decoded.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&decoded, file.data(), file.size())) abort();
    decoded.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(decoded));
    if (!png_image_finish_read(&decoded, nullptr, pixels.data(), 0, nullptr)) abort();
    if (decoded.width != image.width || decoded.height != image.height || pixels != image.bgra) abort();
}

// The file with its metadata edited in as it streams, the sink taking
// pieces of the given length, against the whole file edited.
template <class Embed>
void CheckEditedHead(const std::vector<uint8_t>& file, const Metadata& metadata, size_t prefix, size_t piece,
                     Embed embed) {
    std::vector<uint8_t> streamed;
    EditedHead head(Appending(streamed), prefix, [&](const std::vector<uint8_t>& h) { return embed(h, metadata); });
    const ByteSink sink = head.Sink();
    for (size_t at = 0; at < file.size(); at += piece)
        if (!sink(file.data() + at, std::min(piece, file.size() - at))) abort();
    if (!head.Finish()) abort();
    if (streamed != embed(file, metadata)) abort();
}

}  // namespace

void CheckNetpbmReaderRows(const uint8_t* data, size_t size) {
    ReadRequest request;
    request.maxPixels = uint64_t{1} << 22;
    Decoded whole;
    if (!Netpbm::Read(data, size, request, whole).Ok()) return;
    Netpbm::RowReader reader;
    if (!reader.Open(ReadAtBytes(data, size), size).Ok()) return;  // a plain file: read whole
    if (!(reader.Size() == PixelSize{whole.image.width, whole.image.height})) abort();
    if (SameRows(reader, whole.image) && !reader.MayBeTransparent()) abort();
    if (reader.Grey())
        for (size_t i = 0; i < whole.image.bgra.size(); i += 4)
            if (whole.image.bgra[i] != whole.image.bgra[i + 1] || whole.image.bgra[i] != whole.image.bgra[i + 2])
                abort();
}

void CheckBmpReaderRows(const uint8_t* data, size_t size) {
    ReadRequest request;
    request.maxPixels = uint64_t{1} << 22;
    Decoded whole;
    if (!Bmp::Read(data, size, request, whole).Ok()) return;
    Bmp::RowReader reader;
    Decoded head;
    if (!reader.Open(ReadAtBytes(data, size), size, head).Ok()) return;  // run-length or a bare DIB: read whole
    if (!(reader.Size() == PixelSize{whole.image.width, whole.image.height})) abort();
    if (head.metadata.icc != whole.metadata.icc || head.metadata.dpiX != whole.metadata.dpiX ||
        head.metadata.dpiY != whole.metadata.dpiY)
        abort();
    if (SameRows(reader, whole.image) && !reader.MayBeTransparent()) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckJpegRows(data, size);
    CheckPngReaderRows(data, size);
    CheckTiffReaderRows(data, size);
    CheckNetpbmReaderRows(data, size);
    CheckBmpReaderRows(data, size);
    const Image image = PictureFrom(data, size);
    if (!image.Valid()) return 0;
    CheckPngRows(image);
    Metadata metadata;
    metadata.dpiX = 1 + data[0];
    metadata.dpiY = 1 + data[1];
    metadata.xmp.assign(data, data + std::min<size_t>(size, 300));
    // A prefix that holds the headers: what the streamed path holds back is
    // far more than any header before the data.
    const size_t piece = 1 + data[2] % 97;
    CheckEditedHead(PngRows(image), metadata, 64, piece, PngChunks::Embed);
    Image opaque = image;
    for (size_t i = 3; i < opaque.bgra.size(); i += 4) opaque.bgra[i] = 255;
    CheckEditedHead(Jpeg::Write(opaque, 1 + data[0] % 100), metadata, 1024, piece, JpegMarkers::Embed);
    return 0;
}
