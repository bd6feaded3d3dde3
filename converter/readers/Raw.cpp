#include "converter/readers/Raw.h"

// LibRaw's header names Windows types for its file streams (unused here).
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include <libraw/libraw.h>

#include "converter/base/CheckedSize.h"
#include "converter/base/Geometry.h"
#include "converter/metadata/TiffIfd.h"
#include "converter/readers/ByteSource.h"

namespace Raw {

const wchar_t* const Extensions =
    L".dng .cr2 .cr3 .crw .nef .nrw .arw .srf .sr2 .orf .rw2 .rwl .raf .pef .ptx .srw .x3f .erf .kdc .dcr "
    L".k25 .mrw .3fr .fff .mef .mos .iiq .raw .gpr .bay .cap .eip .dcs .drf .mdc";

namespace {

using ByteSource::Fail;

// LibRaw's own cap on what it takes for the raw data; the worker's budget
// is asked besides. A 32-bit worker shares 4 GB with the decoded picture.
constexpr unsigned MaxRawMebibytes = sizeof(void*) == 8 ? 2048 : 768;
// What developing holds beside the raw data and the four-channel picture:
// demosaicing tiles, curves, histograms.
constexpr uint64_t WorkingBytes = uint64_t{48} << 20;

const wchar_t* const NotDevelopable =
    L"Die Kamera-Rohdatei kann nicht entwickelt werden: Kamera oder Kompression werden nicht unterst\u00fctzt.";
const wchar_t* const DamagedRaw = L"Die Kamera-Rohdatei ist besch\u00e4digt oder unvollst\u00e4ndig.";

ReadResult FromLibRaw(int code) {
    switch (code) {
    case LIBRAW_SUCCESS: return {};
    case LIBRAW_UNSUFFICIENT_MEMORY:
    case LIBRAW_MEMPOOL_OVERFLOW: return Fail(ReadStatus::OutOfMemory);
    case LIBRAW_TOO_BIG: return Fail(ReadStatus::TooLarge);
    case LIBRAW_FILE_UNSUPPORTED:
    case LIBRAW_NOT_IMPLEMENTED: return Fail(ReadStatus::Unsupported, NotDevelopable);
    default: return Fail(ReadStatus::Damaged, DamagedRaw);
    }
}

bool At(const uint8_t* head, size_t size, size_t offset, const char* magic, size_t length) {
    return size >= offset + length && std::memcmp(head + offset, magic, length) == 0;
}

uint32_t Get(const uint8_t* p, int bytes, bool bigEndian) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= uint32_t(p[bigEndian ? bytes - 1 - i : i]) << (8 * i);
    return value;
}

// A TIFF whose first directory (within the head) carries DNGVersion.
bool IsDng(const uint8_t* head, size_t size) {
    const bool little = At(head, size, 0, "II*\0", 4), big = At(head, size, 0, "MM\0*", 4);
    if ((!little && !big) || size < 8) return false;
    const uint32_t first = Get(head + 4, 4, big);
    if (first < 8 || first > size - 2) return false;
    const uint32_t count = Get(head + first, 2, big);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t entry = uint64_t(first) + 2 + uint64_t(i) * 12;
        if (entry + 12 > size) return false;
        if (Get(head + entry, 2, big) == 0xC612) return true;
    }
    return false;
}

// ---- The Exif block: what LibRaw read of the camera's own ----

TiffIfd::Entry Ascii(uint16_t tag, const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return TiffIfd::Undefined(tag, 2, bytes);
}

TiffIfd::Entry Fraction(uint16_t tag, uint32_t numerator, uint32_t denominator) {
    TiffIfd::Entry entry;
    entry.tag = tag;
    entry.type = 5;
    entry.count = 1;
    for (uint32_t v : {numerator, denominator})
        for (int i = 0; i < 4; ++i) entry.value.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return entry;
}

// A positive value as a fraction: 1/n for exposure times under a second
// that are one, else tenths (apertures, focal lengths) or thousandths.
bool AsFraction(double value, uint32_t scale, uint32_t& numerator, uint32_t& denominator) {
    if (!(value > 0) || value > 1e6) return false;
    if (value < 1) {
        const double inverse = 1 / value;
        if (std::fabs(inverse - std::round(inverse)) < 0.01 * inverse && inverse < 1e6) {
            numerator = 1;
            denominator = static_cast<uint32_t>(std::lround(inverse));
            return true;
        }
    }
    numerator = static_cast<uint32_t>(std::lround(value * scale));
    denominator = scale;
    return numerator != 0;
}

std::string Field(const char* text, size_t capacity) {
    return std::string(text, strnlen(text, capacity));
}

// LibRaw keeps the date as the machine's local time made from the camera's
// own digits: turned back the same way, they are the camera's digits again.
bool DateText(time_t stamp, std::string& text) {
    if (stamp <= 0) return false;
    struct tm parts = {};
#ifdef _WIN32
    if (localtime_s(&parts, &stamp) != 0) return false;
#else
    if (!localtime_r(&stamp, &parts)) return false;
#endif
    char buffer[32];
    if (std::snprintf(buffer, sizeof buffer, "%04d:%02d:%02d %02d:%02d:%02d", parts.tm_year + 1900,
                      parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec) != 19)
        return false;
    text = buffer;
    return true;
}

std::vector<uint8_t> ExifOf(const libraw_data_t& data) {
    TiffIfd::Directory first, exif;
    const std::string make = Field(data.idata.make, sizeof data.idata.make);
    const std::string model = Field(data.idata.model, sizeof data.idata.model);
    if (!make.empty()) first.push_back(Ascii(0x010F, make));
    if (!model.empty()) first.push_back(Ascii(0x0110, model));
    std::string date;
    if (DateText(data.other.timestamp, date)) {
        first.push_back(Ascii(0x0132, date));
        exif.push_back(Ascii(0x9003, date));
        exif.push_back(Ascii(0x9004, date));
    }
    uint32_t numerator = 0, denominator = 0;
    if (AsFraction(data.other.shutter, 1000, numerator, denominator))
        exif.push_back(Fraction(0x829A, numerator, denominator));
    if (AsFraction(data.other.aperture, 10, numerator, denominator))
        exif.push_back(Fraction(0x829D, numerator, denominator));
    if (data.other.iso_speed >= 1 && data.other.iso_speed < 65535)
        exif.push_back(TiffIfd::Short(0x8827, static_cast<uint16_t>(std::lround(data.other.iso_speed))));
    if (AsFraction(data.other.focal_len, 10, numerator, denominator))
        exif.push_back(Fraction(0x920A, numerator, denominator));
    if (first.empty() && exif.empty()) return {};
    exif.push_back(TiffIfd::Undefined(0x9000, 7, {'0', '2', '3', '0'}));
    TiffIfd::Entry pointer;
    pointer.tag = TiffIfd::ExifPointer;
    pointer.type = 4;
    pointer.count = 1;
    pointer.directory = std::move(exif);
    first.push_back(std::move(pointer));
    return TiffIfd::WriteBlock(first);
}

// ---- Developing ----

// The size a developed picture stands at: LibRaw's own arithmetic for
// pixels that are not square, then its turn.
bool DevelopedSize(const libraw_image_sizes_t& sizes, bool half, uint64_t& width, uint64_t& height) {
    width = half ? (uint64_t(sizes.width) + 1) / 2 : sizes.width;
    height = half ? (uint64_t(sizes.height) + 1) / 2 : sizes.height;
    if (width == 0 || height == 0 || !(sizes.pixel_aspect > 0.01 && sizes.pixel_aspect < 100)) return false;
    if (sizes.pixel_aspect < 0.995) height = static_cast<uint64_t>(height / sizes.pixel_aspect + 0.5);
    if (sizes.pixel_aspect > 1.005) width = static_cast<uint64_t>(width * sizes.pixel_aspect + 0.5);
    if (sizes.flip & 4) std::swap(width, height);
    return true;
}

// Whether half the sensor's size (its 2 x 2 cells taken as one pixel, no
// demosaicing) still holds the fit into the request's box: for a smaller
// result it is faster and takes a quarter of the memory. Only where its
// size is plainly half: a Bayer sensor with square pixels.
bool HalfWillDo(const libraw_data_t& data, const ReadRequest& request, PixelSize& full) {
    if (request.box.width == 0 || request.box.height == 0) return false;
    if (!data.idata.filters || data.idata.filters == LIBRAW_XTRANS || data.idata.is_foveon) return false;
    if (std::fabs(data.sizes.pixel_aspect - 1) > 0.005) return false;
    if (std::strncmp(data.idata.make, "Fujifilm", 8) == 0) return false;  // SuperCCD sensors turn 45 degrees
    uint64_t width = 0, height = 0, halfWidth = 0, halfHeight = 0;
    if (!DevelopedSize(data.sizes, false, width, height) || !DevelopedSize(data.sizes, true, halfWidth, halfHeight))
        return false;
    if (width > UINT32_MAX || height > UINT32_MAX) return false;
    full = {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
    const PixelSize fit = Geometry::FitInside(full, request.box, request.enlarge);
    return halfWidth >= fit.width && halfHeight >= fit.height;
}

// LibRaw's memory image (three or one channels, turned) laid into our
// four-byte pixels in place: each row is copied to the back of its own
// span and spread forwards, so no second picture is taken.
ReadResult CopyOut(LibRaw& raw, int colors, Image& image) {
    const size_t width = image.width;
    const size_t channels = colors == 1 ? 1 : 3;
    const size_t rowOffset = width * (4 - channels);
    const int stride = static_cast<int>(width * 4);
    if (raw.copy_mem_image(image.bgra.data() + rowOffset, stride, 1) != LIBRAW_SUCCESS)
        return Fail(ReadStatus::Damaged, DamagedRaw);
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* row = image.Row(y);
        const uint8_t* from = row + rowOffset;
        for (size_t x = 0; x < width; ++x) {
            uint8_t b, g, r;
            if (channels == 1) {
                b = g = r = from[x];
            } else {
                b = from[3 * x];
                g = from[3 * x + 1];
                r = from[3 * x + 2];
            }
            uint8_t* to = row + 4 * x;
            to[0] = b;
            to[1] = g;
            to[2] = r;
            to[3] = 0xFF;
        }
    }
    return {};
}

// The raw's memory beside the developed picture: the raw data as stored
// (2 bytes a sample; up to four samples where not a Bayer mosaic), the
// four-channel working picture (8 bytes a pixel), LibRaw's working sets.
bool DecoderBytes(const libraw_data_t& data, bool half, uint64_t& bytes) {
    const libraw_image_sizes_t& sizes = data.sizes;
    const uint64_t sample = data.idata.filters ? 2 : 8;
    const uint64_t iwidth = half ? (uint64_t(sizes.width) + 1) / 2 : sizes.width;
    const uint64_t iheight = half ? (uint64_t(sizes.height) + 1) / 2 : sizes.height;
    uint64_t rawBytes = 0, working = 0;
    size_t product = 0;
    if (!CheckedSize::Product({sizes.raw_width, sizes.raw_height, sample}, product)) return false;
    rawBytes = product;
    if (!CheckedSize::Product({iwidth, iheight, 8}, product)) return false;
    working = product;
    if (!CheckedSize::Add(rawBytes, working, product) || !CheckedSize::Add(product, WorkingBytes, product))
        return false;
    bytes = product;
    return true;
}

ReadResult Develop(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    std::unique_ptr<LibRaw> raw(new (std::nothrow) LibRaw(LIBRAW_OPIONS_NO_DATAERR_CALLBACK));
    if (!raw) return Fail(ReadStatus::OutOfMemory);
    libraw_output_params_t& params = raw->imgdata.params;
    params.use_camera_wb = 1;  // as the camera saw the light
    params.output_color = 1;   // sRGB
    params.output_bps = 8;
    params.max_raw_memory_mb = MaxRawMebibytes;

    int code = raw->open_buffer(const_cast<uint8_t*>(data), size);
    if (code == LIBRAW_FILE_UNSUPPORTED) return Fail(ReadStatus::NotThisFormat);
    if (code != LIBRAW_SUCCESS) return FromLibRaw(code);
    const libraw_data_t& info = raw->imgdata;
    if (info.sizes.width == 0 || info.sizes.height == 0 || info.sizes.raw_width == 0 || info.sizes.raw_height == 0)
        return Fail(ReadStatus::Damaged, DamagedRaw);

    PixelSize full;
    const bool half = HalfWillDo(info, request, full);
    params.half_size = half ? 1 : 0;
    uint64_t width = 0, height = 0, decoderBytes = 0;
    if (!DevelopedSize(info.sizes, half, width, height)) return Fail(ReadStatus::Damaged, DamagedRaw);
    ReadResult result = ByteSource::CheckSize(width, height, request);
    if (!result.Ok()) return result;
    if (!DecoderBytes(info, half, decoderBytes)) return Fail(ReadStatus::TooLarge);
    if (!request.Admits(width, height, decoderBytes)) return Fail(ReadStatus::OutOfMemory);

    code = raw->unpack();
    if (code != LIBRAW_SUCCESS) return FromLibRaw(code);
    code = raw->dcraw_process();
    if (code != LIBRAW_SUCCESS) return FromLibRaw(code);

    int developedWidth = 0, developedHeight = 0, colors = 0, bits = 0;
    raw->get_mem_image_format(&developedWidth, &developedHeight, &colors, &bits);
    if (developedWidth <= 0 || developedHeight <= 0 || bits != 8 || (colors != 1 && colors != 3))
        return Fail(ReadStatus::Unsupported, NotDevelopable);
    result = ByteSource::CheckSize(uint64_t(developedWidth), uint64_t(developedHeight), request);
    if (!result.Ok()) return result;
    // A turn LibRaw made that its sizes did not show beforehand (SuperCCD):
    // the larger picture is asked for again.
    if (uint64_t(developedWidth) * uint64_t(developedHeight) > width * height &&
        !request.Admits(uint64_t(developedWidth), uint64_t(developedHeight), decoderBytes))
        return Fail(ReadStatus::OutOfMemory);
    out.image.bgra.assign(static_cast<size_t>(developedWidth) * static_cast<size_t>(developedHeight) * 4, 0);
    out.image.width = static_cast<uint32_t>(developedWidth);
    out.image.height = static_cast<uint32_t>(developedHeight);
    result = CopyOut(*raw, colors, out.image);
    if (!result.Ok()) return result;

    out.orientation = 1;  // LibRaw turned it
    if (half) out.full = full;
    out.metadata.exif = ExifOf(info);
    return {};
}

}  // namespace

bool IsRaw(const uint8_t* head, size_t size) {
    return At(head, size, 0, "FUJIFILMCCD-RAW", 15) ||                         // RAF
           At(head, size, 0, "II\x1A\0\0\0HEAPCCDR", 14) ||                   // CRW
           (At(head, size, 4, "ftypcrx ", 8)) ||                              // CR3
           (At(head, size, 0, "II*\0", 4) && At(head, size, 8, "CR\x02", 3)) ||  // CR2
           At(head, size, 0, "IIRO", 4) || At(head, size, 0, "IIRS", 4) ||    // ORF
           At(head, size, 0, "MMOR", 4) ||
           At(head, size, 0, "IIU\0", 4) ||                                   // RW2, RWL
           At(head, size, 0, "FOVb", 4) ||                                    // X3F
           At(head, size, 0, "\0MRM", 4) ||                                   // MRW
           IsDng(head, size);
}

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] {
        const ReadResult result = Develop(data, size, request, out);
        if (!result.Ok()) out = Decoded{};
        return result;
    });
}

}  // namespace Raw
