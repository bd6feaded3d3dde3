#include "converter/writers/Png.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <libdeflate.h>
#include "converter/base/CheckedSize.h"
#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Png {

namespace {

enum ColourType : uint8_t { Grey = 0, Rgb = 2, Palette = 3, Rgba = 6 };

// The sides are 31-bit numbers.
constexpr uint32_t MaxSide = 0x7FFFFFFF;

struct Layout {
    ColourType type = Rgb;
    std::vector<uint32_t> palette;  // 0xAARRGGBB, for Palette
    size_t bytesPerPixel = 3;
    uint8_t bitDepth = 8;  // a palette of up to 2, 4 or 16 colours packs 8, 4 or 2 pixels a byte
};

// A small open-addressing table of the colours seen so far: the palette
// is built in the same pass that finds there are too many colours.
class ColourTable {
public:
    // The colour's index, or -1 when a 257th colour turns up.
    int Index(uint32_t colour) {
        size_t slot = (colour * 0x9E3779B1u) >> 23;  // 512 slots
        while (used_[slot]) {
            if (keys_[slot] == colour) return values_[slot];
            slot = (slot + 1) & 511;
        }
        if (colours.size() == 256) return -1;
        used_[slot] = true;
        keys_[slot] = colour;
        values_[slot] = static_cast<uint8_t>(colours.size());
        colours.push_back(colour);
        return values_[slot];
    }

    std::vector<uint32_t> colours;

private:
    bool used_[512] = {};
    uint32_t keys_[512] = {};
    uint8_t values_[512] = {};
};

uint32_t Argb(const uint8_t* p) {
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

// The smallest lossless layout. A photo leaves the palette after a few
// rows, so the look costs little.
Layout Choose(const Image& image, bool alwaysRgba, std::vector<uint8_t>& indices) {
    Layout layout;
    if (alwaysRgba) {
        layout.type = Rgba;
        layout.bytesPerPixel = 4;
        return layout;
    }
    bool opaque = true, grey = true, fewColours = true;
    ColourTable table;
    // The indices of a first stretch, then of all pixels once the picture
    // still has few colours there: a photo, which leaves the palette early,
    // never takes a byte a pixel for them.
    constexpr size_t FirstStretch = size_t{1} << 16;
    const size_t n = static_cast<size_t>(image.width) * image.height;
    const uint8_t* p = image.bgra.data();
    for (size_t i = 0; i < n; ++i, p += 4) {
        opaque = opaque && p[3] == 255;
        grey = grey && p[0] == p[1] && p[1] == p[2];
        if (fewColours) {
            if (i == indices.size()) indices.resize(i < FirstStretch ? std::min(n, FirstStretch) : n);
            const int index = table.Index(Argb(p));
            if (index < 0) {
                fewColours = false;
                if (!opaque && !grey) break;  // nothing smaller than RGBA is left to find
            } else {
                indices[i] = static_cast<uint8_t>(index);
            }
        }
    }
    // Grey beats a palette of greys: no PLTE chunk, and the filters work
    // on brightness, not on indices. (WritesGrey answers the same.)
    if (grey && opaque) {
        layout.type = Grey;
        layout.bytesPerPixel = 1;
    } else if (fewColours) {
        layout.type = Palette;
        layout.bytesPerPixel = 1;
        layout.palette = std::move(table.colours);
        const size_t colours = layout.palette.size();
        layout.bitDepth = colours <= 2 ? 1 : colours <= 4 ? 2 : colours <= 16 ? 4 : 8;
    } else {
        layout.type = opaque ? Rgb : Rgba;
        layout.bytesPerPixel = opaque ? 3 : 4;
    }
    if (layout.type != Palette) {
        indices.clear();
        indices.shrink_to_fit();
    }
    return layout;
}

// One row in the file's sample order, before filtering.
void Pack(const Image& image, const Layout& layout, const std::vector<uint8_t>& indices, uint32_t y,
          uint8_t* row) {
    const uint8_t* p = image.Row(y);
    const uint32_t width = image.width;
    switch (layout.type) {
    case Grey:
        for (uint32_t x = 0; x < width; ++x) row[x] = p[4 * x];
        break;
    case Palette: {
        const uint8_t* index = indices.data() + static_cast<size_t>(y) * width;
        if (layout.bitDepth == 8) {
            std::memcpy(row, index, width);
            break;
        }
        // Packed from the most significant bit on; the last byte's unused bits stay zero.
        const unsigned bits = layout.bitDepth, perByte = 8 / bits;
        for (uint32_t x = 0; x < width; x += perByte) {
            uint8_t byte = 0;
            for (unsigned k = 0; k < perByte; ++k)
                byte = static_cast<uint8_t>(byte << bits | (x + k < width ? index[x + k] : 0));
            *row++ = byte;
        }
        break;
    }
    case Rgb:
        for (uint32_t x = 0; x < width; ++x, p += 4, row += 3) {
            row[0] = p[2];
            row[1] = p[1];
            row[2] = p[0];
        }
        break;
    case Rgba:
        for (uint32_t x = 0; x < width; ++x, p += 4, row += 4) {
            row[0] = p[2];
            row[1] = p[1];
            row[2] = p[0];
            row[3] = p[3];
        }
        break;
    }
}

uint8_t PaethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

uint64_t Cost(const uint8_t* bytes, size_t length) {
    uint64_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += bytes[i] < 128 ? bytes[i] : 256 - bytes[i];
    return sum;
}

// The four filters of one stretch of a row, [from, to), each from the
// unfiltered bytes alone (from >= bpp), adding each filter type's cost to
// `costs` (the row as it stands is type 0). Choosing the filter is where a
// PNG's time goes besides deflate: sixteen bytes a step with SSE2, byte for
// byte what the plain loop gives.
void FilterStretch(const uint8_t* row, const uint8_t* above, size_t from, size_t to, size_t bpp,
                   uint8_t* const out[4], uint64_t costs[5]) {
    size_t i = from;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    __m128i sums[5] = {zero, zero, zero, zero, zero};
    // Each byte taken as signed, its size: min(b, -b) as unsigned bytes.
    const auto add = [&zero](__m128i& sum, __m128i v) {
        sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_min_epu8(v, _mm_sub_epi8(zero, v)), zero));
    };
    const auto absolute = [&zero](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
    // Paeth's choice on eight 16-bit lanes: a when it is nearest, else b, else c.
    const auto predict = [&absolute](__m128i a, __m128i b, __m128i c) {
        const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
        const __m128i pa = absolute(bc), pb = absolute(ac), pc = absolute(_mm_add_epi16(bc, ac));
        const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
        const __m128i notB = _mm_cmpgt_epi16(pb, pc);
        const __m128i bOrC = _mm_or_si128(_mm_andnot_si128(notB, b), _mm_and_si128(notB, c));
        return _mm_or_si128(_mm_andnot_si128(notA, a), _mm_and_si128(notA, bOrC));
    };
    for (; i + 16 <= to; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i - bpp));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i - bpp));
        const __m128i sub = _mm_sub_epi8(x, a);
        const __m128i up = _mm_sub_epi8(x, b);
        // (a + b) >> 1: the rounded-up mean less the lost low bit.
        const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        const __m128i average = _mm_sub_epi8(x, mean);
        const __m128i lo = predict(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero));
        const __m128i hi = predict(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero));
        const __m128i paeth = _mm_sub_epi8(x, _mm_packus_epi16(lo, hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[0] + i), sub);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[1] + i), up);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[2] + i), average);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[3] + i), paeth);
        add(sums[0], x);
        add(sums[1], sub);
        add(sums[2], up);
        add(sums[3], average);
        add(sums[4], paeth);
    }
    for (int k = 0; k < 5; ++k) {
        uint64_t halves[2];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(halves), sums[k]);
        costs[k] += halves[0] + halves[1];
    }
#endif
    for (; i < to; ++i) {
        const uint8_t a = row[i - bpp], b = above[i], c = above[i - bpp];
        out[0][i] = static_cast<uint8_t>(row[i] - a);
        out[1][i] = static_cast<uint8_t>(row[i] - b);
        out[2][i] = static_cast<uint8_t>(row[i] - ((a + b) >> 1));
        out[3][i] = static_cast<uint8_t>(row[i] - PaethPredictor(a, b, c));
        costs[0] += row[i] < 128 ? row[i] : 256 - row[i];
        for (int k = 0; k < 4; ++k) costs[k + 1] += out[k][i] < 128 ? out[k][i] : 256 - out[k][i];
    }
}

// Writes filter byte and filtered row to `out`; `above` is the previous
// unfiltered row (zeros for the first). Each of the five filters is tried
// and the one with the smallest sum of the bytes taken as signed kept.
// `scratch` holds four rows.
void Filter(const uint8_t* row, const uint8_t* above, size_t length, size_t bpp, uint8_t* out,
            uint8_t* scratch) {
    uint8_t* const candidates[4] = {scratch, scratch + length, scratch + 2 * length, scratch + 3 * length};
    const size_t lead = bpp < length ? bpp : length;
    uint64_t costs[5] = {Cost(row, lead), 0, 0, 0, 0};
    for (size_t i = 0; i < lead; ++i) {
        candidates[0][i] = row[i];
        candidates[1][i] = static_cast<uint8_t>(row[i] - above[i]);
        candidates[2][i] = static_cast<uint8_t>(row[i] - (above[i] >> 1));
        candidates[3][i] = static_cast<uint8_t>(row[i] - above[i]);
    }
    for (int k = 0; k < 4; ++k) costs[k + 1] = Cost(candidates[k], lead);
    FilterStretch(row, above, lead, length, bpp, candidates, costs);
    uint8_t best = 0;
    for (uint8_t type = 1; type < 5; ++type)
        if (costs[type] < costs[best]) best = type;
    out[0] = best;
    std::memcpy(out + 1, best == 0 ? row : candidates[best - 1], length);
}

// A chunk: length, type, data, CRC of type and data.
void AppendChunk(std::vector<uint8_t>& file, const char* type, const uint8_t* data, size_t size) {
    const size_t at = file.size();
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<uint8_t>(size >> shift));
    file.insert(file.end(), type, type + 4);
    if (size) file.insert(file.end(), data, data + size);
    const uint32_t crc = libdeflate_crc32(0, file.data() + at + 4, size + 4);
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<uint8_t>(crc >> shift));
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

}  // namespace

bool WritesGrey(const Image& image, const Options& options) {
    if (options.alwaysRgba || !image.Valid()) return false;
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t* p = image.Row(y);
        for (uint32_t x = 0; x < image.width; ++x, p += 4)
            if (p[3] != 255 || p[0] != p[1] || p[1] != p[2]) return false;
    }
    return true;
}

std::vector<uint8_t> Write(const Image& image, const Options& options) {
    if (!image.Valid() || image.width > MaxSide || image.height > MaxSide) return {};
    std::vector<uint8_t> indices;
    const Layout layout = Choose(image, options.alwaysRgba, indices);

    // Filtered rows, each behind its filter type byte.
    const size_t length = layout.bitDepth == 8 ? static_cast<size_t>(image.width) * layout.bytesPerPixel
                                               : (static_cast<size_t>(image.width) * layout.bitDepth + 7) / 8;
    if (length + 1 > SIZE_MAX / image.height) return {};
    std::vector<uint8_t> filtered((length + 1) * image.height);
    std::vector<uint8_t> rows(2 * length, 0), scratch(4 * length);
    uint8_t* current = rows.data();
    uint8_t* above = rows.data() + length;
    // A palette's indices have no order worth predicting: no filter, as
    // libpng's own advice has it.
    const bool filter = layout.type != Palette;
    for (uint32_t y = 0; y < image.height; ++y) {
        Pack(image, layout, indices, y, current);
        uint8_t* out = filtered.data() + static_cast<size_t>(y) * (length + 1);
        if (filter) {
            Filter(current, above, length, layout.bytesPerPixel, out, scratch.data());
        } else {
            out[0] = 0;
            std::memcpy(out + 1, current, length);
        }
        std::swap(current, above);
    }
    indices.clear();
    indices.shrink_to_fit();

    // A palette's data is a third of RGB's or less, and its pictures are
    // graphics, where the stronger levels find far more: level 9 costs
    // about what RGB costs at the usual level.
    const int level = layout.type == Palette ? std::max(options.level, 9) : options.level;
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(std::clamp(level, 1, 12)));
    if (!compressor) return {};
    std::vector<uint8_t> compressed(libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
    const size_t compressedSize = libdeflate_zlib_compress(compressor.get(), filtered.data(), filtered.size(),
                                                          compressed.data(), compressed.size());
    if (compressedSize == 0) return {};
    filtered.clear();
    filtered.shrink_to_fit();

    std::vector<uint8_t> file;
    file.reserve(compressedSize + 1024 + 3 * layout.palette.size());
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    file.insert(file.end(), kSignature, kSignature + 8);
    uint8_t header[13];
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<uint8_t>(image.width >> (24 - 8 * i));
        header[4 + i] = static_cast<uint8_t>(image.height >> (24 - 8 * i));
    }
    header[8] = layout.bitDepth;
    header[9] = layout.type;
    header[10] = header[11] = header[12] = 0;  // deflate, adaptive filtering, not interlaced
    AppendChunk(file, "IHDR", header, sizeof header);
    for (const Chunk& chunk : options.chunks) {
        if (chunk.data.size() > 0x7FFFFFFF) continue;
        AppendChunk(file, chunk.type.data(), chunk.data.data(), chunk.data.size());
    }
    if (layout.type == Palette) {
        std::vector<uint8_t> plte, trns;
        for (uint32_t colour : layout.palette) {
            plte.push_back(static_cast<uint8_t>(colour >> 16));
            plte.push_back(static_cast<uint8_t>(colour >> 8));
            plte.push_back(static_cast<uint8_t>(colour));
            trns.push_back(static_cast<uint8_t>(colour >> 24));
        }
        // Trailing opaque entries need no tRNS byte.
        while (!trns.empty() && trns.back() == 255) trns.pop_back();
        AppendChunk(file, "PLTE", plte.data(), plte.size());
        if (!trns.empty()) AppendChunk(file, "tRNS", trns.data(), trns.size());
    }
    // The data in chunks of at most 1 GiB: the format allows 2 GiB, some readers less.
    constexpr size_t MaxChunk = size_t{1} << 30;
    for (size_t at = 0; at < compressedSize; at += MaxChunk) {
        const size_t size = compressedSize - at < MaxChunk ? compressedSize - at : MaxChunk;
        AppendChunk(file, "IDAT", compressed.data() + at, size);
    }
    AppendChunk(file, "IEND", nullptr, 0);
    return file;
}

RowLayout LayoutOf(const Image& image) {
    bool opaque = true, grey = true;
    const uint8_t* p = image.bgra.data();
    for (size_t i = 0, n = image.bgra.size() / 4; i < n && (opaque || grey); ++i, p += 4) {
        opaque = opaque && p[3] == 255;
        grey = grey && p[0] == p[1] && p[1] == p[2];
    }
    return !opaque ? RowLayout::Rgba : grey ? RowLayout::Grey : RowLayout::Rgb;
}

// zlib's deflate at level 2: the nearest in speed to libdeflate's level 3,
// which writes the smaller pictures.
struct RowWriter::State {
    z_stream zlib;
    bool zlibOpen = false;
    ByteSink sink;
    uint32_t width = 0, height = 0, y = 0;
    Layout layout;
    size_t length = 0;
    std::vector<uint8_t> rows, scratch, filtered, out, chunk;
    bool failed = false;

    State() { std::memset(&zlib, 0, sizeof zlib); }
    ~State() {
        if (zlibOpen) deflateEnd(&zlib);
    }

    bool Emit(const char* type, const uint8_t* data, size_t size) {
        chunk.clear();
        AppendChunk(chunk, type, data, size);
        return sink(chunk.data(), chunk.size());
    }
    // Deflates `size` bytes (none with Z_FINISH), sending full IDAT chunks.
    bool Deflate(const uint8_t* data, size_t size, int flush) {
        zlib.next_in = const_cast<Bytef*>(data);
        zlib.avail_in = static_cast<uInt>(size);
        for (;;) {
            const int status = deflate(&zlib, flush);
            if (status == Z_STREAM_ERROR) return false;
            if (zlib.avail_out == 0) {
                if (!Emit("IDAT", out.data(), out.size())) return false;
                zlib.next_out = out.data();
                zlib.avail_out = static_cast<uInt>(out.size());
                continue;
            }
            if (flush == Z_FINISH ? status == Z_STREAM_END : zlib.avail_in == 0) return true;
        }
    }
};

uint64_t RowWriterBytes(uint32_t width) {
    // Two unfiltered rows, four candidates, one filtered row, the chunk
    // buffers and zlib's own state (about 270 KiB at level 2).
    return uint64_t{width} * 4 * 7 + (uint64_t{1} << 20);
}

RowWriter::RowWriter() = default;
RowWriter::~RowWriter() = default;

bool RowWriter::Start(uint32_t width, uint32_t height, RowLayout rowLayout, const Options& options,
                      ByteSink sink) {
    size_t rowBytes = 0;
    if (width == 0 || height == 0 || width > MaxSide || height > MaxSide ||
        !CheckedSize::Product({width, 4, 8}, rowBytes))
        return false;
    try {
        state_.reset(new State());
        State& s = *state_;
        s.sink = std::move(sink);
        s.width = width;
        s.height = height;
        s.layout.type = rowLayout == RowLayout::Grey ? Grey : rowLayout == RowLayout::Rgb ? Rgb : Rgba;
        s.layout.bytesPerPixel = rowLayout == RowLayout::Grey ? 1 : rowLayout == RowLayout::Rgb ? 3 : 4;
        s.length = static_cast<size_t>(width) * s.layout.bytesPerPixel;
        s.rows.assign(2 * s.length, 0);
        s.scratch.resize(4 * s.length);
        s.filtered.resize(s.length + 1);
        s.out.resize(size_t{1} << 18);
        if (deflateInit(&s.zlib, 2) != Z_OK) {
            state_.reset();
            return false;
        }
        s.zlibOpen = true;
        s.zlib.next_out = s.out.data();
        s.zlib.avail_out = static_cast<uInt>(s.out.size());

        std::vector<uint8_t> head = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        uint8_t header[13];
        for (int i = 0; i < 4; ++i) {
            header[i] = static_cast<uint8_t>(width >> (24 - 8 * i));
            header[4 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
        }
        header[8] = 8;
        header[9] = s.layout.type;
        header[10] = header[11] = header[12] = 0;
        AppendChunk(head, "IHDR", header, sizeof header);
        for (const Chunk& chunk : options.chunks)
            if (chunk.data.size() <= 0x7FFFFFFF) AppendChunk(head, chunk.type.data(), chunk.data.data(), chunk.data.size());
        if (s.sink(head.data(), head.size())) return true;
    } catch (const std::bad_alloc&) {
    }
    state_.reset();
    return false;
}

bool RowWriter::Row(const uint8_t* bgra) {
    if (!state_) return false;
    State& s = *state_;
    if (s.y >= s.height) return false;
    uint8_t* current = s.rows.data() + (s.y % 2) * s.length;
    uint8_t* above = s.rows.data() + ((s.y + 1) % 2) * s.length;
    const uint8_t* p = bgra;
    switch (s.layout.type) {
    case Grey:
        for (uint32_t x = 0; x < s.width; ++x) current[x] = p[4 * x];
        break;
    case Rgb:
        for (uint32_t x = 0; x < s.width; ++x, p += 4) {
            current[3 * x] = p[2];
            current[3 * x + 1] = p[1];
            current[3 * x + 2] = p[0];
        }
        break;
    default:
        for (uint32_t x = 0; x < s.width; ++x, p += 4) {
            current[4 * x] = p[2];
            current[4 * x + 1] = p[1];
            current[4 * x + 2] = p[0];
            current[4 * x + 3] = p[3];
        }
        break;
    }
    if (s.y == 0) std::fill(above, above + s.length, 0);
    Filter(current, above, s.length, s.layout.bytesPerPixel, s.filtered.data(), s.scratch.data());
    ++s.y;
    if (s.Deflate(s.filtered.data(), s.filtered.size(), Z_NO_FLUSH)) return true;
    state_.reset();
    return false;
}

bool RowWriter::Finish() {
    if (!state_) return false;
    State& s = *state_;
    bool ok = s.y == s.height && s.Deflate(nullptr, 0, Z_FINISH);
    const size_t left = s.out.size() - s.zlib.avail_out;
    ok = ok && (left == 0 || s.Emit("IDAT", s.out.data(), left)) && s.Emit("IEND", nullptr, 0);
    state_.reset();
    return ok;
}

}  // namespace Png
