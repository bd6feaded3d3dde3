// Sizes from headers, settings and fits on this build's size_t: built 64-bit
// and 32-bit (-m32), so a product that wraps on the x86 converter fails here
// under AddressSanitizer or these checks. Also what a reader holds while it
// decodes (asked before it is taken), and that a reader which reduces while
// decoding says so, so that the fit ends at exactly the size asked.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <vector>

#include "converter/base/Geometry.h"
#include "converter/base/Resampling.h"
#include "converter/base/CheckedSize.h"
#include "converter/pipeline/WorkMemory.h"
#include "converter/readers/Jpeg.h"
#include "converter/readers/Jpeg2000.h"
#include "converter/readers/Pcx.h"
#include "converter/writers/Jpeg.h"
#include "converter/writers/Jpeg2000.h"
#include "model/HostTools.h"

namespace {

constexpr bool k32Bit = sizeof(size_t) == 4;

Image Gradient(uint32_t width, uint32_t height) {
    Image image;
    image.width = width;
    image.height = height;
    image.bgra.resize(size_t{width} * height * 4);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = image.Row(y) + size_t{x} * 4;
            p[0] = static_cast<uint8_t>(x * 7 + y);
            p[1] = static_cast<uint8_t>(y * 3);
            p[2] = static_cast<uint8_t>((x ^ y) * 5);
            p[3] = 255;
        }
    return image;
}

// What a reader asked before decoding; refuses above `limit` bytes.
struct Asked {
    bool asked = false;
    PixelSize decoded;
    uint64_t decoderBytes = 0;
    uint64_t limit = uint64_t{1} << 30;

    void Into(ReadRequest& request) {
        request.admit = [this](PixelSize size, uint64_t bytes) {
            asked = true;
            decoded = size;
            decoderBytes = bytes;
            return bytes <= limit;
        };
    }
};

TEST(CheckedSizes, RefuseWhatDoesNotFitThisBuildsSizeT) {
    size_t out = 7;
    // 16384 bytes a line, 4 planes, 65536 lines: exactly 4 GiB.
    EXPECT_EQ(CheckedSize::Product({16384, 4, 65536}, out), !k32Bit);
    EXPECT_EQ(CheckedSize::MulAdd(32769, 32769 * 4ull, 0, out), !k32Bit);
    EXPECT_FALSE(CheckedSize::Mul(uint64_t{1} << 32, uint64_t{1} << 32, out));
    EXPECT_FALSE(CheckedSize::Add(SIZE_MAX, 1, out));
    EXPECT_TRUE(CheckedSize::MulAdd(1000, 1000, 24, out));
    EXPECT_EQ(out, 1000024u);
}

// A PCX of 4 planes, 16384 bytes a plane's line and 65536 lines, with runs
// enough for all of them (130 MiB): 4 GiB of lines, which a 32-bit build
// once wrapped to an empty buffer and then read.
TEST(CheckedSizes, PcxLinesThatWouldWrapAreRefusedOrAskedForWhole) {
    const size_t runs = (uint64_t{16384} * 4 * 65536 + 62) / 63;
    std::vector<uint8_t> file(128 + runs * 2);
    file[0] = 0x0A;  // ZSoft
    file[1] = 5;
    file[2] = 1;     // run-length
    file[3] = 8;     // bits a plane
    const uint16_t xMax = 1023, yMax = 65535;
    std::memcpy(&file[8], &xMax, 2);
    std::memcpy(&file[10], &yMax, 2);
    file[65] = 4;                 // planes
    file[66] = 0x00, file[67] = 0x40;  // 16384 bytes a line
    for (size_t i = 0; i < runs; ++i) {
        file[128 + i * 2] = 0xFF;  // 63 times
        file[128 + i * 2 + 1] = 0;
    }
    ReadRequest request;
    request.maxPixels = uint64_t{1} << 26;  // the 32-bit converter's cap: 1024 x 65536 passes it
    Asked asked;
    asked.Into(request);
    Decoded out;
    const ReadResult result = Pcx::Read(file.data(), file.size(), request, out);
    EXPECT_FALSE(result.Ok());
    EXPECT_TRUE(out.image.bgra.empty());
    if (k32Bit) {
        EXPECT_EQ(result.status, ReadStatus::TooLarge);
        EXPECT_FALSE(asked.asked);
    } else {
        // Asked with the 4 GiB of lines beside the picture, and refused.
        EXPECT_EQ(result.status, ReadStatus::OutOfMemory);
        EXPECT_TRUE(asked.asked);
        EXPECT_EQ(asked.decoderBytes, uint64_t{16384} * 4 * 65536);
    }
}

// An icon enlarged to 32769 x 32769: 4 GiB and more of pixels.
TEST(CheckedSizes, AnEnlargementBeyondSizeTIsRefusedBeforeAnyBuffer) {
    const PixelSize huge = {32769, 32769};
    const uint64_t peak = WorkMemory::Peak({32, 32}, 0, huge);
    if (k32Bit) {
        EXPECT_EQ(peak, WorkMemory::Unbounded);
        EXPECT_THROW(Resampling::Resize(Gradient(32, 32), huge), std::bad_alloc);
    } else {
        EXPECT_GT(peak, uint64_t{32769} * 32769 * 4);  // the result and the resampler's rows, counted
    }
    const PixelSize fit = WorkMemory::LargestResult({48, 16}, {100, 100}, true);
    EXPECT_EQ(fit.width, 100u);   // lying: 100 x 33
    EXPECT_EQ(fit.height, 100u);  // standing (turned by its orientation): 33 x 100
}

// The fit from what the reader hands over, as the converter makes it.
PixelSize Fitted(const Decoded& decoded, PixelSize box) {
    const PixelSize from = decoded.full.width ? decoded.full : PixelSize{decoded.image.width, decoded.image.height};
    return Geometry::FitInside(from, box, false);
}

TEST(ReducedDecoding, JpegSaysItsStoredSizeSoTheFitIsExact) {
    struct Case {
        PixelSize stored, box;
    };
    // Sizes that are no multiple of the reductions, in both aspects.
    const Case cases[] = {{{4000, 3001}, {800, 600}}, {{3001, 4000}, {800, 600}}, {{1999, 1003}, {240, 240}},
                          {{1025, 777}, {100, 100}}};
    for (const Case& c : cases) {
        const std::vector<uint8_t> file = Jpeg::Write(Gradient(c.stored.width, c.stored.height), 80);
        ASSERT_FALSE(file.empty());
        ReadRequest request;
        request.box = c.box;
        Asked asked;
        asked.Into(request);
        Decoded out;
        ASSERT_TRUE(Jpeg::Read(file.data(), file.size(), request, out).Ok());
        const PixelSize expected = Geometry::FitInside(c.stored, c.box, false);
        EXPECT_LT(out.image.width, c.stored.width) << "not reduced while decoding";
        EXPECT_EQ(out.full.width, c.stored.width);
        EXPECT_EQ(out.full.height, c.stored.height);
        const PixelSize fitted = Fitted(out, c.box);
        EXPECT_EQ(fitted.width, expected.width) << c.stored.width << "x" << c.stored.height;
        EXPECT_EQ(fitted.height, expected.height) << c.stored.width << "x" << c.stored.height;
        EXPECT_GE(out.image.width, expected.width);
        EXPECT_GE(out.image.height, expected.height);
        EXPECT_TRUE(asked.asked);
        EXPECT_EQ(asked.decoded.width, out.image.width);
    }
}

// A progressive JPEG holds all its coefficients while decoding: asked for
// before, and libjpeg's memory capped at what was asked, which suffices.
// (Decoding under that cap is what this checks; a cap too small for
// libjpeg would fail the read.)
TEST(ReducedDecoding, AProgressiveJpegAsksForItsCoefficientsAndDecodesWithinThem) {
    const auto file = HostTools::Output("convert -size 1999x1003 gradient:red-blue -interlace JPEG -quality 80 jpg:-");
    ASSERT_TRUE(file.has_value());
    ReadRequest request;
    request.box = {240, 240};
    Asked asked;
    asked.Into(request);
    Decoded out;
    ASSERT_TRUE(Jpeg::Read(file->data(), file->size(), request, out).Ok());
    EXPECT_EQ(out.full.width, 1999u);
    const PixelSize fitted = Fitted(out, request.box);
    EXPECT_EQ(fitted.width, 240u);
    EXPECT_EQ(fitted.height, 120u);
    // Luma's 250 x 126 blocks and two chroma components of 125 x 63 (4:2:0),
    // 128 bytes a block, at the least.
    EXPECT_GE(asked.decoderBytes, (uint64_t{250} * 126 + 2 * 125 * 63) * 128);
    // Refused by the budget: out of memory, with nothing decoded or kept.
    asked.limit = asked.decoderBytes / 4;
    Decoded refused;
    EXPECT_EQ(Jpeg::Read(file->data(), file->size(), request, refused).status, ReadStatus::OutOfMemory);
    EXPECT_TRUE(refused.image.bgra.empty());
}

// A JPEG 2000 picture too large for the codec's memory is decoded in bands,
// pixel for pixel as whole, at its full size; never at a lower level.
TEST(ReducedDecoding, Jpeg2000TooLargeForTheCodecIsDecodedInBandsAtFullSize) {
    struct Case {
        uint32_t width, height;
        uint64_t budget;  // the codec's memory: a few bands' worth
    };
    // One tile (the writer's tiles are 1024 pixels square), then 3 x 2 tiles.
    // (The reader reckons 8 bytes a sample for each of the 3 components and 3 more.)
    const Case cases[] = {{701, 517, 701ull * 6 * 8 * 150}, {2100, 1100, 155000000}};
    for (const Case& c : cases) {
        const Image source = Gradient(c.width, c.height);
        const std::vector<uint8_t> file = Jpeg2000::Write(source, Jpeg2000::Container::Jp2);
        ASSERT_FALSE(file.empty());
        ReadRequest request;
        Asked asked;
        asked.Into(request);
        Decoded whole, banded;
        ASSERT_TRUE(Jpeg2000Reader::Read(file.data(), file.size(), request, whole).Ok());
        ASSERT_TRUE(Jpeg2000Reader::ReadWithin(file.data(), file.size(), request, c.budget, banded).Ok());
        EXPECT_EQ(banded.image.width, c.width);
        EXPECT_EQ(banded.image.height, c.height);
        EXPECT_EQ(banded.full.width, 0u) << "reported as reduced";
        EXPECT_TRUE(banded.image.bgra == source.bgra) << "banded decoding differs from the picture written";
        EXPECT_TRUE(whole.image.bgra == source.bgra);
        EXPECT_TRUE(asked.asked);
        EXPECT_LT(asked.decoderBytes, c.budget + file.size());
    }
    // Too large for even one band of whole tiles: refused with its reason.
    const std::vector<uint8_t> file = Jpeg2000::Write(Gradient(2100, 1100), Jpeg2000::Container::CodeStream);
    Decoded refused;
    const ReadResult result = Jpeg2000Reader::ReadWithin(file.data(), file.size(), ReadRequest{}, 1 << 20, refused);
    EXPECT_EQ(result.status, ReadStatus::TooLarge);
    EXPECT_NE(result.reason, nullptr);
    EXPECT_TRUE(refused.image.bgra.empty());
}

}  // namespace
