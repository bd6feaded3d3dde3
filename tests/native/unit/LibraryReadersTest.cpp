// The readers built on codec libraries (TIFF, GIF, WebP, PNG, BMP) against
// pictures generated here, whose every value the generator knows: real
// 16-bit and 12-bit samples (not 8-bit data widened, where cutting and
// rounding agree), premultiplied 16-bit alpha with faint pixels, a GIF whose
// transparent colour is index 0 and one whose LZW starts wider than 8 bits,
// an animated WebP whose first frame covers part of its canvas at an offset,
// 16-bit bit fields of 5 and of 4 bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include <gif_lib.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <zlib.h>

#include "converter/readers/Bmp.h"
#include "converter/readers/Gif.h"
#include "converter/readers/Png.h"
#include "converter/readers/Tiff.h"
#include "converter/readers/Webp.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Values that are spread over the whole range and differ in their low byte.
struct Noise {
    uint32_t state;
    uint16_t Next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<uint16_t>(state >> 16);
    }
};

uint8_t Round8(uint32_t v, uint32_t most) { return static_cast<uint8_t>((v * 255 + most / 2) / most); }

Decoded Read(ReadResult (*reader)(const uint8_t*, size_t, const ReadRequest&, Decoded&), const Bytes& file) {
    Decoded decoded;
    const ReadResult result = reader(file.data(), file.size(), ReadRequest{}, decoded);
    EXPECT_TRUE(result.Ok()) << "status " << static_cast<int>(result.status);
    return decoded;
}

// Counts the pixels whose BGRA differs from `expected` by more than `slack`
// and says where the first one lies.
void ExpectPixels(const Decoded& decoded, const Bytes& expected, uint32_t width, const std::string& what,
                  int slack = 0) {
    ASSERT_EQ(decoded.image.bgra.size(), expected.size()) << what;
    size_t off = 0, first = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        if (std::abs(int(decoded.image.bgra[i]) - int(expected[i])) > slack && off++ == 0) first = i;
    EXPECT_EQ(off, 0u) << what << ": first at pixel (" << (first / 4) % width << ", " << (first / 4) / width
                       << ") byte " << first % 4 << ": " << int(decoded.image.bgra[first]) << " instead of "
                       << int(expected[first]);
}

Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A one-strip TIFF of `rows` packed rows, written by the host's libtiff.
Bytes WriteTiff(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples, uint16_t photometric,
                uint16_t extra, const std::vector<Bytes>& rows) {
    const std::string path = "/tmp/quennel-oracle-" + std::to_string(getpid()) + ".tif";
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(tiff, nullptr);
    if (!tiff) return {};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (extra) TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    for (uint32_t y = 0; y < height; ++y) TIFFWriteScanline(tiff, const_cast<uint8_t*>(rows[y].data()), y, 0);
    TIFFClose(tiff);
    Bytes bytes = FileBytes(path);
    std::remove(path.c_str());
    return bytes;
}

TEST(LibraryReaders, TiffSamplesOfSixteenAndTwelveBitsAreRoundedNotCut) {
    const uint32_t w = 37, h = 11;
    Noise noise{7};
    // 16-bit RGB, samples in host order as libtiff takes them.
    std::vector<Bytes> rows(h, Bytes(w * 6));
    Bytes expected(w * h * 4, 0xFF);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const uint16_t v = noise.Next();
                std::memcpy(&rows[y][(x * 3 + c) * 2], &v, 2);
                expected[(y * w + x) * 4 + 2 - c] = Round8(v, 65535);
            }
    ExpectPixels(Read(Tiff::Read, WriteTiff(w, h, 16, 3, PHOTOMETRIC_RGB, 0, rows)), expected, w, "16-bit RGB");

    // 12-bit grey, packed from the high bit on, each row from a byte of its own.
    std::vector<Bytes> packed(h, Bytes((w * 12 + 7) / 8));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t v = noise.Next() >> 4;
            const size_t bit = x * 12;
            Bytes& row = packed[y];
            if (bit % 8 == 0) {
                row[bit / 8] = uint8_t(v >> 4);
                row[bit / 8 + 1] |= uint8_t((v & 15) << 4);
            } else {
                row[bit / 8] |= uint8_t(v >> 8);
                row[bit / 8 + 1] = uint8_t(v);
            }
            uint8_t* e = &expected[(y * w + x) * 4];
            e[0] = e[1] = e[2] = Round8(v, 4095);
        }
    ExpectPixels(Read(Tiff::Read, WriteTiff(w, h, 12, 1, PHOTOMETRIC_MINISBLACK, 0, packed)), expected, w,
                 "12-bit grey");
}

TEST(LibraryReaders, TiffPremultipliedSixteenBitAlphaKeepsFaintColours) {
    const uint32_t w = 29, h = 9;
    Noise noise{11};
    std::vector<Bytes> rows(h, Bytes(w * 8));
    Bytes expected(w * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            // Alpha from 1/64 up: below one 8-bit step's worth of colour per level.
            const uint32_t a = 1024 + noise.Next() % 64512;
            uint16_t stored[4];
            for (int c = 0; c < 3; ++c) {
                const uint32_t straight = noise.Next();
                stored[c] = uint16_t((straight * a + 32767) / 65535);
                // What the stored sample stands for, to the nearest 8-bit level.
                const uint32_t back = std::min<uint32_t>(65535, (stored[c] * 65535u + a / 2) / a);
                expected[(y * w + x) * 4 + 2 - c] = Round8(back, 65535);
            }
            stored[3] = uint16_t(a);
            expected[(y * w + x) * 4 + 3] = Round8(a, 65535);
            std::memcpy(&rows[y][x * 8], stored, 8);
        }
    ExpectPixels(Read(Tiff::Read, WriteTiff(w, h, 16, 4, PHOTOMETRIC_RGB, EXTRASAMPLE_ASSOCALPHA, rows)), expected,
                 w, "16-bit RGB, associated alpha", 1);
}

int ToBytes(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

TEST(LibraryReaders, GifTransparentColourZero) {
    const int w = 13, h = 7;
    const GifColorType colours[4] = {{200, 10, 10}, {10, 200, 10}, {10, 10, 200}, {250, 250, 250}};
    Bytes file;
    int error = 0;
    GifFileType* gif = EGifOpen(&file, ToBytes, &error);
    ASSERT_NE(gif, nullptr);
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(gif, true);
    ASSERT_EQ(EGifPutScreenDesc(gif, w, h, 2, 0, map), GIF_OK);
    GraphicsControlBlock control = {};
    control.TransparentColor = 0;
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    ASSERT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension), GIF_OK);
    ASSERT_EQ(EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr), GIF_OK);
    Bytes expected(w * h * 4);
    for (int y = 0; y < h; ++y) {
        GifPixelType line[w];
        for (int x = 0; x < w; ++x) {
            line[x] = GifPixelType((x + 2 * y) % 4);
            uint8_t* e = &expected[(y * w + x) * 4];
            const GifColorType& c = colours[line[x]];
            if (line[x] == 0) e[0] = e[1] = e[2] = e[3] = 0;  // transparent: its colour is nobody's
            else e[0] = c.Blue, e[1] = c.Green, e[2] = c.Red, e[3] = 255;
        }
        ASSERT_EQ(EGifPutLine(gif, line, w), GIF_OK);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    Decoded decoded = Read(Gif::Read, file);
    for (size_t i = 0; i < decoded.image.bgra.size(); i += 4)
        if (decoded.image.bgra[i + 3] == 0) decoded.image.bgra[i] = decoded.image.bgra[i + 1] = decoded.image.bgra[i + 2] = 0;
    ExpectPixels(decoded, expected, w, "GIF, index 0 transparent");
}

TEST(LibraryReaders, GifWithAMinimumCodeSizeAboveEight) {
    // Some writers start LZW at 9 to 11 bits, which giflib refuses; ImageMagick
    // and Pillow read them. Literal codes only (clear, one a pixel, end) are
    // valid LZW at any code size.
    const uint32_t w = 13, h = 7, minimum = 9;
    const uint8_t colours[4][3] = {{200, 10, 10}, {10, 200, 10}, {10, 10, 200}, {250, 250, 250}};
    Bytes file = {'G', 'I', 'F', '8', '9', 'a', uint8_t(w), 0, uint8_t(h), 0, 0x81, 0, 0};
    for (const auto& c : colours) file.insert(file.end(), c, c + 3);
    file.insert(file.end(), {0x2C, 0, 0, 0, 0, uint8_t(w), 0, uint8_t(h), 0, 0, uint8_t(minimum)});
    std::vector<uint32_t> codes = {1u << minimum};
    Bytes expected;
    for (uint32_t i = 0; i < w * h; ++i) {
        const uint32_t index = (i * 7 + i / w) % 4;
        codes.push_back(index);
        expected.insert(expected.end(), {colours[index][2], colours[index][1], colours[index][0], 255});
    }
    codes.push_back((1u << minimum) + 1);
    Bytes packed;
    uint32_t held = 0, have = 0;
    for (uint32_t code : codes) {
        held |= code << have;
        for (have += minimum + 1; have >= 8; have -= 8, held >>= 8) packed.push_back(uint8_t(held));
    }
    if (have) packed.push_back(uint8_t(held));
    for (size_t at = 0; at < packed.size(); at += 255) {
        const size_t length = std::min<size_t>(255, packed.size() - at);
        file.push_back(uint8_t(length));
        file.insert(file.end(), packed.begin() + at, packed.begin() + at + length);
    }
    file.insert(file.end(), {0, 0x3B});
    ExpectPixels(Read(Gif::Read, file), expected, w, "GIF, LZW from 10 bits");
}

void Put24(Bytes& b, uint32_t v) {
    for (int i = 0; i < 3; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void Chunk(Bytes& file, const char* fourcc, const Bytes& payload) {
    file.insert(file.end(), fourcc, fourcc + 4);
    Put32(file, uint32_t(payload.size()));
    file.insert(file.end(), payload.begin(), payload.end());
    if (payload.size() % 2) file.push_back(0);
}

TEST(LibraryReaders, WebpAnimationFirstFrameAtItsOffset) {
    const int canvasW = 20, canvasH = 14, frameW = 7, frameH = 5, left = 8, top = 6;
    Bytes rgba(frameW * frameH * 4);
    Noise noise{3};
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const uint16_t v = noise.Next();
        rgba[i] = uint8_t(v), rgba[i + 1] = uint8_t(v >> 8), rgba[i + 2] = uint8_t(v * 7), rgba[i + 3] = 255;
    }
    uint8_t* encoded = nullptr;
    const size_t size = WebPEncodeLosslessRGBA(rgba.data(), frameW, frameH, frameW * 4, &encoded);
    ASSERT_GT(size, 12u);
    const Bytes still(encoded + 12, encoded + size);  // the VP8L chunk, without RIFF and WEBP
    WebPFree(encoded);

    Bytes vp8x = {0x12, 0, 0, 0};  // animation and alpha
    Put24(vp8x, canvasW - 1);
    Put24(vp8x, canvasH - 1);
    Bytes anim;
    Put32(anim, 0);  // background: transparent
    anim.push_back(0), anim.push_back(0);
    Bytes frame;
    Put24(frame, left / 2);
    Put24(frame, top / 2);
    Put24(frame, frameW - 1);
    Put24(frame, frameH - 1);
    Put24(frame, 100);
    frame.push_back(0);
    frame.insert(frame.end(), still.begin(), still.end());
    Bytes body = {'W', 'E', 'B', 'P'};
    Chunk(body, "VP8X", vp8x);
    Chunk(body, "ANIM", anim);
    Chunk(body, "ANMF", frame);
    Bytes file = {'R', 'I', 'F', 'F'};
    Put32(file, uint32_t(body.size()));
    file.insert(file.end(), body.begin(), body.end());

    Bytes expected(canvasW * canvasH * 4, 0);
    for (int y = 0; y < frameH; ++y)
        for (int x = 0; x < frameW; ++x) {
            const uint8_t* p = &rgba[(y * frameW + x) * 4];
            uint8_t* e = &expected[((top + y) * canvasW + left + x) * 4];
            e[0] = p[2], e[1] = p[1], e[2] = p[0], e[3] = 255;
        }
    ExpectPixels(Read(Webp::Read, file), expected, canvasW, "animated WebP");
}

void PngChunk(Bytes& file, const char* type, const Bytes& data) {
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    for (int i = 3; i >= 0; --i) file.push_back(uint8_t(data.size() >> (8 * i)));
    file.insert(file.end(), body.begin(), body.end());
    const uLong crc = crc32(0, body.data(), uInt(body.size()));
    for (int i = 3; i >= 0; --i) file.push_back(uint8_t(crc >> (8 * i)));
}

TEST(LibraryReaders, PngSixteenBitSamplesTakeTheirHighByte) {
    // libspng's 8-bit output, as Pillow shows 16-bit PNGs.
    const uint32_t w = 23, h = 6;
    Noise noise{5};
    Bytes raw, expected;
    for (uint32_t y = 0; y < h; ++y) {
        raw.push_back(0);  // no filter
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t px[4];
            for (int c = 0; c < 4; ++c) {
                const uint16_t v = noise.Next();
                raw.push_back(uint8_t(v >> 8)), raw.push_back(uint8_t(v));
                px[c] = uint8_t(v >> 8);
            }
            expected.insert(expected.end(), {px[2], px[1], px[0], px[3]});
        }
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    Bytes packed(packedSize);
    ASSERT_EQ(compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 6), Z_OK);
    packed.resize(packedSize);
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PngChunk(file, "IHDR", {0, 0, 0, uint8_t(w), 0, 0, 0, uint8_t(h), 16, 6, 0, 0, 0});
    PngChunk(file, "IDAT", packed);
    PngChunk(file, "IEND", {});
    ExpectPixels(Read(Png::Read, file), expected, w, "16-bit RGBA PNG");
}

TEST(LibraryReaders, BmpSixteenBitFieldsOfFiveAndFourBits) {
    // Bit fields 5-6-5 (scaled to the full range), and 4-4-4-4 with alpha,
    // whose 4-bit values ImageMagick widens to 16 * v (15 is 240).
    struct Case {
        uint32_t masks[4];
        const char* what;
    };
    for (const Case& c : {Case{{0xF800, 0x07E0, 0x001F, 0}, "5-6-5"}, Case{{0x0F00, 0x00F0, 0x000F, 0xF000}, "4-4-4-4"}}) {
        const uint32_t w = 9, h = 4, stride = (w * 2 + 3) / 4 * 4;
        Bytes file = {'B', 'M'};
        const uint32_t offset = 14 + 56;
        Put32(file, offset + stride * h);
        Put32(file, 0);
        Put32(file, offset);
        Put32(file, 56);  // V3 information header: masks including alpha's
        Put32(file, w);
        Put32(file, uint32_t(-int32_t(h)));  // top down
        file.push_back(1), file.push_back(0), file.push_back(16), file.push_back(0);
        Put32(file, 3);  // bit fields
        for (int i = 0; i < 5; ++i) Put32(file, 0);
        for (uint32_t m : c.masks) Put32(file, m);
        Noise noise{9};
        Bytes expected;
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const uint16_t v = noise.Next();
                file.push_back(uint8_t(v)), file.push_back(uint8_t(v >> 8));
                uint8_t px[4] = {0, 0, 0, 255};
                for (int k = 0; k < 4; ++k) {
                    const uint32_t m = c.masks[k];
                    if (!m) continue;
                    uint32_t shift = 0;
                    while (!((m >> shift) & 1)) ++shift;
                    const uint32_t most = m >> shift, value = (v & m) >> shift;
                    px[k] = most == 15 ? uint8_t(value * 16) : Round8(value, most);
                }
                expected.insert(expected.end(), {px[2], px[1], px[0], px[3]});
            }
            for (uint32_t pad = w * 2; pad < stride; ++pad) file.push_back(0);
        }
        ExpectPixels(Read(Bmp::Read, file), expected, w, c.what);
    }
}

}  // namespace
