#include "converter/readers/Tiff.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <lcms2.h>

#include "converter/base/CheckedSize.h"
#include "converter/metadata/ColourProfile.h"
#include "converter/metadata/TiffTags.h"
#include "converter/readers/ByteSource.h"
#include "converter/base/TiffMemory.h"

namespace Tiff {

namespace {

using ByteSource::Fail;

// What one stored sample becomes in the picture.
enum class Role : uint8_t { Ignore, Grey, Red, Green, Blue, Cyan, Magenta, Yellow, Black, Alpha, LabL, LabA, LabB };

struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 1, format = SAMPLEFORMAT_UINT;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    std::vector<Role> roles;  // one a stored sample
    bool cmyk = false;
    bool lab = false;         // CIE L*a*b* (8 bits), its a* and b* signed unless ICC's form
    bool labSigned = false;
    bool associated = false;  // the alpha is premultiplied
};

// Samples of 9 to 15 bits (12-bit scans, mostly): unpacked to 16 bits
// before they are placed.
bool Packed(const Layout& layout) { return layout.format == SAMPLEFORMAT_UINT && layout.bits > 8 && layout.bits < 16; }

// libtiff's own allocations (strip buffers, tables) stay below this: a
// hostile header cannot make it take gigabytes before a pixel is decoded.
uint64_t Budget(const ReadRequest& request) {
    const uint64_t most = sizeof(void*) == 8 ? uint64_t{1} << 31 : uint64_t{1} << 28;
    const uint64_t wanted = request.maxPixels < most / 8 ? request.maxPixels * 8 : most;
    return wanted < (uint64_t{64} << 20) ? uint64_t{64} << 20 : wanted;
}

// Whether the samples are read by us sample by sample; the rest (palette,
// fewer than 8 bits, YCbCr, L*a*b*, LogLuv) by libtiff's RGBA interface.
bool OwnSamples(TIFF* tiff, Layout& layout) {
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    if (extraCount >= layout.samples) return false;
    const bool integer = layout.format == SAMPLEFORMAT_UINT &&
                         (layout.bits == 8 || layout.bits == 16 || layout.bits == 32 || Packed(layout));
    const bool floating = layout.format == SAMPLEFORMAT_IEEEFP &&
                          (layout.bits == 16 || layout.bits == 32 || layout.bits == 64);
    // More samples than any picture model uses: left to the RGBA
    // interface, which refuses what it cannot show.
    if ((!integer && !floating) || layout.samples > 16) return false;
    const int colours = layout.samples - extraCount;
    std::vector<Role> roles;
    switch (layout.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        roles = {Role::Grey};
        break;
    case PHOTOMETRIC_RGB:
        roles = {Role::Red, Role::Green, Role::Blue};
        break;
    case PHOTOMETRIC_SEPARATED: {
        uint16_t inkSet = INKSET_CMYK;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inkSet);
        if (inkSet != INKSET_CMYK) return false;
        roles = {Role::Cyan, Role::Magenta, Role::Yellow, Role::Black};
        layout.cmyk = true;
        break;
    }
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
        // Through Little CMS, as Pillow shows it; libtiff's own conversion
        // (the RGBA interface) is many levels off. Other depths stay there.
        if (layout.bits != 8) return false;
        roles = {Role::LabL, Role::LabA, Role::LabB};
        layout.lab = true;
        layout.labSigned = layout.photometric == PHOTOMETRIC_CIELAB;
        break;
    default:
        return false;
    }
    // A colour sample more than the model has, with no extra-samples tag
    // saying what it is, is alpha (RGBA, grey and alpha), as ImageMagick
    // and libtiff's own RGBA interface read it.
    if (colours == static_cast<int>(roles.size()) + 1 && extraCount == 0) {
        roles.push_back(Role::Alpha);
    } else if (colours != static_cast<int>(roles.size())) {
        return false;
    }
    if (extraCount > 0) {
        roles.push_back(Role::Alpha);
        layout.associated = extraTypes && extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    roles.resize(layout.samples, Role::Ignore);
    layout.roles = roles;
    return true;
}

// A 16-bit IEEE float (half) as a float.
float Half(uint16_t h) {
    const int exponent = (h >> 10) & 0x1F;
    const int mantissa = h & 0x3FF;
    float value;
    if (exponent == 0) value = std::ldexp(static_cast<float>(mantissa), -24);
    else if (exponent == 31) value = mantissa ? 0.0f : 65504.0f;  // NaN as nothing, infinity as the largest
    else value = std::ldexp(static_cast<float>(mantissa | 0x400), exponent - 25);
    return (h & 0x8000) ? -value : value;
}

uint8_t FromUnit(double value) {
    if (!(value > 0)) return 0;  // NaN too
    if (value >= 1) return 255;
    return static_cast<uint8_t>(value * 255 + 0.5);
}

// Sample `index` of a block (host byte order: libtiff has swapped it) as 8 bits.
uint8_t Sample(const uint8_t* at, const Layout& layout) {
    if (layout.format == SAMPLEFORMAT_IEEEFP) {
        if (layout.bits == 16) {
            uint16_t h;
            std::memcpy(&h, at, 2);
            return FromUnit(Half(h));
        }
        if (layout.bits == 32) {
            float f;
            std::memcpy(&f, at, 4);
            return FromUnit(f);
        }
        double d;
        std::memcpy(&d, at, 8);
        return FromUnit(d);
    }
    if (layout.bits == 8) return *at;
    if (layout.bits == 16) {
        uint16_t v;
        std::memcpy(&v, at, 2);
        return static_cast<uint8_t>((uint32_t{v} * 255 + 32767) / 65535);
    }
    uint32_t v;
    std::memcpy(&v, at, 4);
    return static_cast<uint8_t>((uint64_t{v} * 255 + 0x7FFFFFFF) / 0xFFFFFFFFu);
}

// Where the samples of a decoded block go.
struct Target {
    const Layout& layout;  // as placed: packed samples already widened to 16 bits
    uint16_t fileBits;     // as stored
    uint64_t budget;       // the most bytes a strip or tile may take
    Image& image;
    std::vector<uint8_t>& inks;    // 4 bytes a pixel, for CMYK (and L*a*b*)
    std::vector<uint16_t>& deep;   // B, G, R, A at 16 bits, for premultiplied 16-bit samples
};

uint16_t Sample16(const uint8_t* at) {
    uint16_t v;
    std::memcpy(&v, at, 2);
    return v;
}

uint8_t To8(uint32_t v16) { return static_cast<uint8_t>((v16 * 255 + 32767) / 65535); }

// `samples` samples of `bits` (9 to 15) a row, packed from the most
// significant bit on, each row starting on a byte of its own, as 16-bit
// samples in host order scaled to the full range.
void Unpack(const uint8_t* from, size_t fromStride, size_t samples, uint32_t rows, uint16_t bits, uint8_t* to) {
    const uint32_t most = (1u << bits) - 1;
    for (uint32_t row = 0; row < rows; ++row) {
        const uint8_t* p = from + row * fromStride;
        uint8_t* q = to + row * samples * 2;
        uint32_t held = 0;
        int have = 0;
        for (size_t s = 0; s < samples; ++s) {
            while (have < bits) {
                held = (held << 8) | *p++;
                have += 8;
            }
            const uint32_t v = (held >> (have - bits)) & most;
            have -= bits;
            const uint16_t wide = static_cast<uint16_t>((v * 65535u + most / 2) / most);
            std::memcpy(q + s * 2, &wide, 2);
        }
    }
}

// Puts a block's samples (`rows` rows of `columns` pixels at x, y of the
// picture, each row `stride` bytes, `count` samples a pixel from sample
// `first` on) into the picture and the inks.
void Place(Target& target, const uint8_t* block, size_t stride, uint32_t x, uint32_t y, uint32_t columns,
           uint32_t rows, uint16_t first, uint16_t count) {
    const Layout& layout = target.layout;
    const size_t sampleBytes = layout.bits / 8;
    // The byte of a BGRA or ink pixel each sample goes to.
    int offset[8] = {};
    bool intoInks[8] = {};
    bool grey[8] = {};
    for (uint16_t k = 0; k < count && k < 8; ++k) {
        const Role role = layout.roles[first + k];
        offset[k] = -1;
        switch (role) {
        case Role::Grey: grey[k] = true; offset[k] = 0; break;
        case Role::Blue: offset[k] = 0; break;
        case Role::Green: offset[k] = 1; break;
        case Role::Red: offset[k] = 2; break;
        case Role::Alpha: offset[k] = 3; break;
        case Role::Cyan: offset[k] = 0; intoInks[k] = true; break;
        case Role::Magenta: offset[k] = 1; intoInks[k] = true; break;
        case Role::Yellow: offset[k] = 2; intoInks[k] = true; break;
        case Role::Black: offset[k] = 3; intoInks[k] = true; break;
        case Role::LabL: offset[k] = 0; intoInks[k] = true; break;
        case Role::LabA: offset[k] = 1; intoInks[k] = true; break;
        case Role::LabB: offset[k] = 2; intoInks[k] = true; break;
        case Role::Ignore: break;
        }
    }
    const uint16_t used = count < 8 ? count : 8;
    // Chunky 8-bit RGB and RGBA, most TIFFs there are: straight copies.
    if (layout.bits == 8 && layout.format == SAMPLEFORMAT_UINT && first == 0 && count >= 3 &&
        layout.roles[0] == Role::Red && layout.roles[1] == Role::Green && layout.roles[2] == Role::Blue) {
        const bool alpha = count >= 4 && layout.roles[3] == Role::Alpha;
        for (uint32_t row = 0; row < rows; ++row) {
            const uint8_t* from = block + row * stride;
            uint8_t* bgra = target.image.bgra.data() + ((static_cast<size_t>(y) + row) * layout.width + x) * 4;
            for (uint32_t column = 0; column < columns; ++column, bgra += 4, from += count) {
                bgra[0] = from[2];
                bgra[1] = from[1];
                bgra[2] = from[0];
                if (alpha) bgra[3] = from[3];
            }
        }
        return;
    }
    for (uint32_t row = 0; row < rows; ++row) {
        const uint8_t* from = block + row * stride;
        const size_t pixel = (static_cast<size_t>(y) + row) * layout.width + x;
        uint8_t* bgra = target.image.bgra.data() + pixel * 4;
        uint8_t* ink = target.inks.empty() ? nullptr : target.inks.data() + pixel * 4;
        uint16_t* deep = target.deep.empty() ? nullptr : target.deep.data() + pixel * 4;
        for (uint32_t column = 0; column < columns; ++column, bgra += 4, ink += ink ? 4 : 0, deep += deep ? 4 : 0) {
            for (uint16_t k = 0; k < used; ++k) {
                if (offset[k] < 0) continue;
                if (deep) {
                    const uint16_t value = Sample16(from + (static_cast<size_t>(column) * count + k) * 2);
                    if (grey[k]) deep[0] = deep[1] = deep[2] = value;
                    else deep[offset[k]] = value;
                    continue;
                }
                const uint8_t value = Sample(from + (static_cast<size_t>(column) * count + k) * sampleBytes, layout);
                if (grey[k]) {
                    bgra[0] = bgra[1] = bgra[2] = value;
                } else if (intoInks[k]) {
                    ink[offset[k]] = value;
                } else {
                    bgra[offset[k]] = value;
                }
            }
        }
    }
}

ReadResult ReadStrips(TIFF* tiff, Target& target) {
    const Layout& layout = target.layout;
    uint32_t rowsPerStrip = layout.height;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > layout.height) rowsPerStrip = layout.height;
    const bool planar = layout.planar == PLANARCONFIG_SEPARATE;
    const uint16_t planes = planar ? layout.samples : 1;
    const uint16_t count = planar ? 1 : layout.samples;
    size_t stride = 0, storedStride = 0;
    if (!CheckedSize::Product({layout.width, count, layout.bits / 8u}, stride) ||
        !CheckedSize::Product({layout.width, count, target.fileBits}, storedStride))
        return Fail(ReadStatus::TooLarge);
    storedStride = storedStride / 8 + (storedStride % 8 != 0);
    const tmsize_t stripSize = TIFFStripSize(tiff);
    size_t needed = 0;
    if (stripSize <= 0 || !CheckedSize::Mul(stride, rowsPerStrip, needed)) return Fail(ReadStatus::Damaged);
    if (needed > target.budget || static_cast<uint64_t>(stripSize) > target.budget) return Fail(ReadStatus::TooLarge);
    std::vector<uint8_t> buffer(std::max<size_t>(needed, static_cast<size_t>(stripSize)));
    std::vector<uint8_t> wide(storedStride != stride ? needed : 0);
    const uint32_t stripsPerPlane = (layout.height + rowsPerStrip - 1) / rowsPerStrip;
    for (uint16_t plane = 0; plane < planes; ++plane) {
        for (uint32_t s = 0; s < stripsPerPlane; ++s) {
            const uint32_t y = s * rowsPerStrip;
            const uint32_t rows = std::min(rowsPerStrip, layout.height - y);
            const uint32_t strip = plane * stripsPerPlane + s;
            const tmsize_t got = TIFFReadEncodedStrip(tiff, strip, buffer.data(), static_cast<tmsize_t>(buffer.size()));
            if (got < 0 || static_cast<size_t>(got) < storedStride * rows) return Fail(ReadStatus::Damaged);
            if (!wide.empty()) Unpack(buffer.data(), storedStride, size_t{layout.width} * count, rows, target.fileBits, wide.data());
            Place(target, wide.empty() ? buffer.data() : wide.data(), stride, 0, y, layout.width, rows, plane, count);
        }
    }
    return ReadResult{};
}

ReadResult ReadTiles(TIFF* tiff, Target& target) {
    const Layout& layout = target.layout;
    uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    if (tileWidth == 0 || tileHeight == 0) return Fail(ReadStatus::Damaged);
    const bool planar = layout.planar == PLANARCONFIG_SEPARATE;
    const uint16_t planes = planar ? layout.samples : 1;
    const uint16_t count = planar ? 1 : layout.samples;
    size_t stride = 0, needed = 0, storedStride = 0, storedNeeded = 0;
    if (!CheckedSize::Product({tileWidth, count, layout.bits / 8u}, stride) ||
        !CheckedSize::Mul(stride, tileHeight, needed) ||
        !CheckedSize::Product({tileWidth, count, target.fileBits}, storedStride))
        return Fail(ReadStatus::TooLarge);
    storedStride = storedStride / 8 + (storedStride % 8 != 0);
    if (!CheckedSize::Mul(storedStride, tileHeight, storedNeeded)) return Fail(ReadStatus::TooLarge);
    const tmsize_t tileSize = TIFFTileSize(tiff);
    if (tileSize <= 0 || static_cast<size_t>(tileSize) < storedNeeded) return Fail(ReadStatus::Damaged);
    if (static_cast<uint64_t>(tileSize) > target.budget || needed > target.budget) return Fail(ReadStatus::TooLarge);
    std::vector<uint8_t> buffer(static_cast<size_t>(tileSize));
    std::vector<uint8_t> wide(storedStride != stride ? needed : 0);
    for (uint16_t plane = 0; plane < planes; ++plane) {
        for (uint32_t y = 0; y < layout.height; y += tileHeight) {
            for (uint32_t x = 0; x < layout.width; x += tileWidth) {
                const uint32_t tile = TIFFComputeTile(tiff, x, y, 0, plane);
                if (TIFFReadEncodedTile(tiff, tile, buffer.data(), tileSize) < 0) return Fail(ReadStatus::Damaged);
                if (!wide.empty()) Unpack(buffer.data(), storedStride, size_t{tileWidth} * count, tileHeight, target.fileBits, wide.data());
                Place(target, wide.empty() ? buffer.data() : wide.data(), stride, x, y, std::min(tileWidth, layout.width - x),
                      std::min(tileHeight, layout.height - y), plane, count);
                if (layout.width - x <= tileWidth) break;
            }
            if (layout.height - y <= tileHeight) break;
        }
    }
    return ReadResult{};
}

// Colour out of premultiplied alpha.
void Unpremultiply(Image& image) {
    uint8_t* p = image.bgra.data();
    for (size_t i = 0, n = image.bgra.size(); i < n; i += 4) {
        const uint32_t a = p[i + 3];
        if (a == 255) continue;
        for (int c = 0; c < 3; ++c)
            p[i + c] = a == 0 ? 0 : static_cast<uint8_t>(std::min<uint32_t>(255, (p[i + c] * 255u + a / 2) / a));
    }
}

// What libtiff and we hold beside the picture while decoding: the strip or
// tile a read decodes into and libtiff's copy of its compressed bytes, each
// at most a decoded strip's (tile's) size; 0 when the header's sizes overflow.
uint64_t StripBytes(TIFF* tiff) {
    const tmsize_t one = TIFFIsTiled(tiff) ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
    return one > 0 ? uint64_t{2} * static_cast<uint64_t>(one) : 0;
}

// Colour out of premultiplied alpha at the samples' own 16 bits: done after
// cutting to 8, faint pixels would lose most of their colour.
void Unpremultiply(const std::vector<uint16_t>& deep, Image& image) {
    uint8_t* p = image.bgra.data();
    for (size_t i = 0, n = image.bgra.size(); i < n; i += 4) {
        const uint32_t a = deep[i + 3];
        for (int c = 0; c < 3; ++c)
            p[i + c] = a == 0 ? 0 : To8(std::min<uint32_t>(65535, (deep[i + c] * 65535u + a / 2) / a));
        p[i + 3] = To8(a);
    }
}

// L*a*b* (L, a, b in the first three of four bytes a pixel; a and b signed,
// or offset by 128 in ICC's form) into sRGB through Little CMS, D50 as both
// the TIFF and ICC forms define it, alpha as it is.
bool LabToBgra(std::vector<uint8_t>& lab, bool signedAb, Image& image) {
    cmsHPROFILE from = cmsCreateLab4Profile(nullptr);
    cmsHPROFILE to = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = nullptr;
    if (from && to)
        // Unoptimised: Little CMS's precalculated 8-bit table from L*a*b* is
        // up to 9 levels off the exact conversion in dark saturated colours.
        transform = cmsCreateTransform(from, TYPE_Lab_8 | EXTRA_SH(1), to, TYPE_BGRA_8,
                                       INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    if (from) cmsCloseProfile(from);
    if (to) cmsCloseProfile(to);
    if (!transform) return false;
    if (signedAb)
        for (size_t i = 0; i < lab.size(); i += 4) lab[i + 1] ^= 0x80, lab[i + 2] ^= 0x80;
    const size_t stride = size_t{image.width} * 4;
    std::vector<uint8_t> row(stride);
    for (uint32_t y = 0; y < image.height; ++y) {
        cmsDoTransform(transform, lab.data() + y * stride, row.data(), image.width);
        uint8_t* p = image.Row(y);
        for (size_t i = 0; i < stride; i += 4) std::memcpy(p + i, row.data() + i, 3);
    }
    cmsDeleteTransform(transform);
    return true;
}

// What reading whole does to the placed samples after the last strip, for
// the samples RowReader takes: per pixel, so a band of rows gets the same.
void Finish(const Layout& layout, Image& image) {
    if (layout.photometric == PHOTOMETRIC_MINISWHITE) {
        uint8_t* p = image.bgra.data();
        for (size_t i = 0, n = image.bgra.size(); i < n; i += 4) p[i] = p[i + 1] = p[i + 2] = 255 - p[i];
    }
    if (layout.associated) Unpremultiply(image);
}

ReadResult ReadOwnSamples(TIFF* tiff, const Layout& layout, const ReadRequest& request, Decoded& out) {
    Layout placed = layout;
    if (Packed(layout)) placed.bits = 16;
    const bool deepAlpha = layout.associated && !layout.cmyk && placed.bits == 16 && layout.format == SAMPLEFORMAT_UINT;
    // CMYK and L*a*b* are read into four bytes a pixel beside the picture,
    // premultiplied 16-bit samples into eight.
    const uint64_t pixels = uint64_t{layout.width} * layout.height;
    const uint64_t besideBytes = (layout.cmyk || layout.lab ? pixels * 4 : 0) + (deepAlpha ? pixels * 8 : 0);
    ReadResult result =
        ByteSource::Allocate(out.image, layout.width, layout.height, request, StripBytes(tiff) + besideBytes);
    if (!result.Ok()) return result;
    std::vector<uint8_t> inks;
    if (layout.cmyk || layout.lab) inks.assign(out.image.bgra.size(), 0);
    std::vector<uint16_t> deep;
    if (deepAlpha) deep.assign(out.image.bgra.size(), 0xFFFF);
    Target target{placed, layout.bits, Budget(request), out.image, inks, deep};
    result = TIFFIsTiled(tiff) ? ReadTiles(tiff, target) : ReadStrips(tiff, target);
    if (!result.Ok()) return result;
    if (deepAlpha) {
        if (layout.photometric == PHOTOMETRIC_MINISWHITE)
            for (size_t i = 0; i < deep.size(); i += 4) deep[i] = deep[i + 1] = deep[i + 2] = 65535 - deep[i];
        Unpremultiply(deep, out.image);
        return ReadResult{};
    }
    if (layout.lab) {
        // The profile, if any, describes L*a*b*, not the sRGB pixels made of it.
        if (!LabToBgra(inks, layout.labSigned, out.image)) return Fail(ReadStatus::OutOfMemory);
        out.metadata.icc.clear();
    }
    if (layout.cmyk) {
        // The profile describes inks; once they are sRGB colours it no longer fits the pixels.
        const ColourProfile::CmykToSrgb toSrgb(out.metadata.icc, false);
        if (!toSrgb.Ok()) return Fail(ReadStatus::OutOfMemory);
        for (uint32_t y = 0; y < layout.height; ++y)
            toSrgb.Convert(inks.data() + size_t{y} * out.image.Stride(), out.image.Row(y), layout.width);
        out.metadata.icc.clear();
    }
    Finish(layout, out.image);
    return ReadResult{};
}

// libtiff's RGBA interface: every other photometric and depth it knows.
// Its pixels are R, G, B, A bytes with the alpha premultiplied.
ReadResult ReadRgba(TIFF* tiff, const Layout& layout, const ReadRequest& request, Decoded& out) {
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tiff, message)) return Fail(ReadStatus::Unsupported);
    // The rows as stored, top first: the pipeline turns the picture by the
    // orientation, which libtiff would otherwise half apply.
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFRGBAImage rgba;
    if (!TIFFRGBAImageBegin(&rgba, tiff, 1, message)) return Fail(ReadStatus::Unsupported);
    rgba.req_orientation = ORIENTATION_TOPLEFT;
    ReadResult result = ByteSource::Allocate(out.image, layout.width, layout.height, request, StripBytes(tiff));
    if (result.Ok() &&
        !TIFFRGBAImageGet(&rgba, reinterpret_cast<uint32_t*>(out.image.bgra.data()), layout.width, layout.height))
        result = Fail(ReadStatus::Damaged);
    const bool alpha = rgba.alpha != 0;
    TIFFRGBAImageEnd(&rgba);
    if (!result.Ok()) return result;
    uint8_t* p = out.image.bgra.data();
    for (size_t i = 0, n = out.image.bgra.size(); i < n; i += 4) std::swap(p[i], p[i + 2]);
    if (alpha) Unpremultiply(out.image);
    return ReadResult{};
}

// The first directory's size, samples and orientation.
ReadResult ReadLayout(TIFF* tiff, Layout& layout, Decoded& out) {
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height))
        return Fail(ReadStatus::Damaged);
    if (layout.width == 0 || layout.height == 0) return Fail(ReadStatus::Damaged);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &layout.format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout.planar);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.photometric)) {
        // Old writers leave it out: grey for one sample, RGB for more.
        layout.photometric = layout.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
    }
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
    out.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    return ReadResult{};
}

// After TiffTags has read the metadata: libtiff's own reading of the
// profile, should our walk have missed it; and whether libtiff has the codec.
ReadResult TakeProfileAndCodec(TIFF* tiff, Decoded& out) {
    uint32_t iccSize = 0;
    const uint8_t* icc = nullptr;
    if (out.metadata.icc.empty() && TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0)
        out.metadata.icc.assign(icc, icc + iccSize);
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    return TIFFIsCODECConfigured(compression) ? ReadResult{} : Fail(ReadStatus::Unsupported);
}

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    TiffMemory::File file;
    file.data = data;
    file.size = size;
    TIFF* tiff = TiffMemory::Open(file, "r", Budget(request));
    if (!tiff) return Fail(ReadStatus::Damaged);
    TiffMemory::Closer closer{tiff};

    Layout layout;
    ReadResult result = ReadLayout(tiff, layout, out);
    if (!result.Ok()) return result;
    if (uint64_t{layout.width} * layout.height > request.maxPixels) return Fail(ReadStatus::TooLarge);
    TiffTags::Read(data, size, out.metadata);
    result = TakeProfileAndCodec(tiff, out);
    if (!result.Ok()) return result;
    result = OwnSamples(tiff, layout) ? ReadOwnSamples(tiff, layout, request, out)
                                                 : ReadRgba(tiff, layout, request, out);
    if (!result.Ok()) out.image = Image{};
    return result;
}

}  // namespace

struct RowReader::State {
    TiffMemory::File file;
    TIFF* tiff = nullptr;
    Layout layout, placed;
    uint32_t rowsPerStrip = 0, strip = 0, bandRows = 0, bandAt = 0;
    size_t stride = 0, storedStride = 0;
    std::vector<uint8_t> buffer, wide, noInks;
    std::vector<uint16_t> noDeep;
    Image band;

    ~State() {
        if (tiff) TIFFClose(tiff);
    }
};

RowReader::RowReader() = default;
RowReader::~RowReader() = default;

ReadResult RowReader::Open(RandomAccess& file, Decoded& out) {
    state_.reset(new State);
    State& s = *state_;
    uint8_t head[4] = {};
    if (file.ReadAt(0, head, 4) != 4) return Fail(ReadStatus::NotThisFormat);
    const bool little = head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0;
    const bool big = head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
    if (!little && !big) return Fail(ReadStatus::NotThisFormat);
    s.file.out = &file;
    ReadRequest any;
    any.maxPixels = UINT64_MAX;  // what is held decides, not the picture's size
    s.tiff = TiffMemory::Open(s.file, "r", Budget(any));
    if (!s.tiff) return Fail(ReadStatus::Damaged);
    Layout& layout = s.layout;
    ReadResult result = ReadLayout(s.tiff, layout, out);
    if (!result.Ok()) return result;
    TiffTags::Read([&file](uint64_t at, uint8_t* into, size_t size) { return file.ReadAt(at, into, size); },
                   file.Size(), out.metadata);
    result = TakeProfileAndCodec(s.tiff, out);
    if (!result.Ok()) return result;
    size_ = {layout.width, layout.height};
    grey_ = layout.photometric == PHOTOMETRIC_MINISBLACK || layout.photometric == PHOTOMETRIC_MINISWHITE;
    const bool own = OwnSamples(s.tiff, layout);
    s.placed = layout;
    if (Packed(layout)) s.placed.bits = 16;
    const bool deepAlpha = layout.associated && s.placed.bits == 16 && layout.format == SAMPLEFORMAT_UINT;
    streams_ = own && !TIFFIsTiled(s.tiff) && (layout.planar == PLANARCONFIG_CONTIG || layout.samples == 1) &&
               !layout.cmyk && !layout.lab && !deepAlpha;
    if (!streams_) return ReadResult{};
    for (Role role : layout.roles) transparent_ |= role == Role::Alpha;
    s.rowsPerStrip = layout.height;
    TIFFGetFieldDefaulted(s.tiff, TIFFTAG_ROWSPERSTRIP, &s.rowsPerStrip);
    if (s.rowsPerStrip == 0 || s.rowsPerStrip > layout.height) s.rowsPerStrip = layout.height;
    size_t band = 0, storedBits = 0, strips = 0, decoded = 0;
    const tmsize_t stripSize = TIFFStripSize(s.tiff);
    // A strip decoded (and widened), its band of pixels, libtiff's strip
    // and its lists of offsets and sizes.
    if (stripSize <= 0 || !CheckedSize::Product({layout.width, layout.samples, s.placed.bits / 8u}, s.stride) ||
        !CheckedSize::Product({layout.width, layout.samples, layout.bits}, storedBits) ||
        !CheckedSize::Product({layout.width, s.rowsPerStrip, 4}, band) ||
        !CheckedSize::Mul(layout.height / s.rowsPerStrip + 1, 16, strips) ||
        !CheckedSize::Mul(s.stride, s.rowsPerStrip, decoded)) {
        streams_ = false;
        return ReadResult{};
    }
    s.storedStride = storedBits / 8 + (storedBits % 8 != 0);
    decoderBytes_ = 2 * (uint64_t{decoded} + static_cast<uint64_t>(stripSize)) + band + strips;
    return ReadResult{};
}

bool RowReader::Begin() {
    if (!state_ || !streams_) return false;
    State& s = *state_;
    const size_t needed = s.stride * s.rowsPerStrip;  // checked in Open
    s.buffer.assign(std::max<size_t>(needed, static_cast<size_t>(TIFFStripSize(s.tiff))), 0);
    if (s.storedStride != s.stride) s.wide.assign(needed, 0);
    s.band.width = s.layout.width;
    s.band.height = s.rowsPerStrip;
    s.band.bgra.assign(size_t{s.layout.width} * s.rowsPerStrip * 4, 0);
    return true;
}

bool RowReader::Row(uint8_t* bgra) {
    if (!state_ || !streams_) return false;
    State& s = *state_;
    if (s.bandAt == s.bandRows) {
        const uint32_t y = s.strip * s.rowsPerStrip;
        if (y >= s.layout.height) return false;
        const uint32_t rows = std::min(s.rowsPerStrip, s.layout.height - y);
        const tmsize_t got = TIFFReadEncodedStrip(s.tiff, s.strip, s.buffer.data(), static_cast<tmsize_t>(s.buffer.size()));
        if (got < 0 || static_cast<size_t>(got) < s.storedStride * rows) return false;
        if (!s.wide.empty())
            Unpack(s.buffer.data(), s.storedStride, size_t{s.layout.width} * s.layout.samples, rows, s.layout.bits,
                   s.wide.data());
        // Every pixel placed afresh: opaque unless the samples say otherwise.
        for (size_t i = 3; i < s.band.bgra.size(); i += 4) s.band.bgra[i] = 0xFF;
        Target target{s.placed, s.layout.bits, UINT64_MAX, s.band, s.noInks, s.noDeep};
        Place(target, s.wide.empty() ? s.buffer.data() : s.wide.data(), s.stride, 0, 0, s.layout.width, rows, 0,
              s.layout.samples);
        Finish(s.layout, s.band);
        ++s.strip;
        s.bandRows = rows;
        s.bandAt = 0;
    }
    std::memcpy(bgra, s.band.Row(s.bandAt++), size_t{s.layout.width} * 4);
    return true;
}

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    if (!data || size < 8) return Fail(ReadStatus::NotThisFormat);
    const bool little = data[0] == 'I' && data[1] == 'I' && (data[2] == 42 || data[2] == 43) && data[3] == 0;
    const bool big = data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == 42 || data[3] == 43);
    if (!little && !big) return Fail(ReadStatus::NotThisFormat);
    return ByteSource::Guarded(out, [&]() { return Decode(data, size, request, out); });
}

}  // namespace Tiff
