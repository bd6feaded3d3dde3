// Any bytes as a source file (JPEG, PNG, TIFF, bitmap), as an encoder's
// output to put metadata into, and as the metadata itself: no read outside
// the bytes, no loop without end, what is put into a file reads back the
// same, and what a result keeps reads back as the result needs it (the
// orientation 1 only over turned pixels, a profile only of the pixels'
// colour space, JP2's restricted label only for a profile that qualifies).
// Byte 0 picks the part, the rest is the file or the metadata.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <algorithm>
#include <vector>

#include "converter/metadata/Exif.h"
#include "converter/metadata/ExifOrientation.h"
#include "converter/metadata/IccProfile.h"
#include "converter/metadata/Jp2Boxes.h"
#include "converter/metadata/JpegMarkers.h"
#include "converter/metadata/PngChunks.h"
#include "converter/metadata/SourceMetadata.h"
#include "converter/metadata/TiffIfd.h"
#include "converter/metadata/TiffTags.h"
#include "converter/metadata/Xmp.h"
#include "converter/writers/GifBlocks.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {

// The smallest files of each kind an encoder could hand over.
const std::vector<uint8_t> kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1,
                                    0, 0, 0xFF, 0xDA, 0, 2, 0xFF, 0xD9};
const std::vector<uint8_t> kPng = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                   0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0, 0x90, 0x77, 0x53, 0xDE,
                                   0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
const std::vector<uint8_t> kTiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0,
                                    0, 0};

// A JP2 file's boxes up to its code stream: signature, file type, header
// (image header, colour: enumerated sRGB), an empty code stream box.
const std::vector<uint8_t> kJp2 = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A,
                                   0, 0, 0, 20, 'f', 't', 'y', 'p', 'j', 'p', '2', ' ', 0, 0, 0, 0, 'j', 'p', '2', ' ',
                                   0, 0, 0, 45, 'j', 'p', '2', 'h',
                                   0, 0, 0, 22, 'i', 'h', 'd', 'r', 0, 0, 0, 1, 0, 0, 0, 1, 0, 3, 7, 7, 0, 0,
                                   0, 0, 0, 15, 'c', 'o', 'l', 'r', 1, 0, 0, 0, 0, 0, 16,
                                   0, 0, 0, 8, 'j', 'p', '2', 'c'};

// The first tiff:Orientation of a packet as a reader of XMP finds it, by a
// search of its own: "=\"d\"", "='d'" or ">d<" right after the name; 0 for none.
int XmpOrientation(const std::vector<uint8_t>& packet) {
    const std::string text(packet.begin(), packet.end());
    const std::string name = "tiff:Orientation";
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        if (at > 0 && std::string(" \t\r\n<").find(text[at - 1]) == std::string::npos) continue;
        const size_t i = at + name.size();
        char digit = 0;
        if (text.compare(i, 2, "=\"") == 0 || text.compare(i, 2, "='") == 0) {
            if (i + 3 < text.size() && text[i + 3] == text[i + 1]) digit = text[i + 2];
        } else if (text.compare(i, 1, ">") == 0) {
            if (i + 2 < text.size() && text[i + 2] == '<') digit = text[i + 1];
        }
        if (digit >= '1' && digit <= '8') return digit - '0';
    }
    return 0;
}

// Pieces of the input as metadata: an Exif block (itself a TIFF structure),
// XMP and a profile.
Metadata Pieces(const uint8_t* data, size_t size) {
    Metadata m;
    const size_t third = size / 3;
    m.exif.assign(data, data + third);
    m.xmp.assign(data + third, data + 2 * third);
    m.icc.assign(data + 2 * third, data + size);
    m.dpiX = size % 601;
    m.dpiY = size % 599;
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t part = data[0] % 5;
    // A copy of exactly the rest, so that AddressSanitizer sees any read past it.
    std::vector<uint8_t> bytes(data + 1, data + size);

    if (part == 0) {  // a source file
        Metadata m;
        SourceMetadata::FromFile(bytes.data(), bytes.size(), m);
        const int orientation = ExifOrientation::FromTiff(m.exif.data(), m.exif.size());
        const Metadata kept = SourceMetadata::ForResult(m, 7, 5, orientation);
        TiffIfd::Structure source, edited;
        if (TiffIfd::Read(m.exif.data(), m.exif.size(), source) && kept.exif.empty()) Fail("a readable block dropped");
        if (!kept.exif.empty()) {
            if (!TiffIfd::Read(kept.exif.data(), kept.exif.size(), edited)) Fail("the kept block is not readable");
            if (ExifOrientation::Of(edited) != 1) Fail("orientation still turned");
        }
        // XMP: the orientation 1 once turned, else as it was; the size the result's.
        const int xmpBefore = XmpOrientation(m.xmp), xmpAfter = XmpOrientation(kept.xmp);
        if (orientation != 1 ? xmpAfter > 1 : xmpAfter != xmpBefore) Fail("XMP orientation not as the pixels");
        const std::string text(kept.xmp.begin(), kept.xmp.end());
        for (const char* stale : {" tiff:ImageWidth=\"0\"", "<exif:PixelYDimension>9<"})
            if (text.find(stale) != std::string::npos) Fail("XMP size not the result's");
    } else if (part == 1) {  // metadata into a JPEG, read back
        Metadata m = Pieces(bytes.data(), bytes.size());
        m.dpiX = m.dpiY = 0;
        if (m.exif.size() > 60000 || m.xmp.size() > 60000) return 0;  // larger than a segment: left out
        const std::vector<uint8_t> jpeg = JpegMarkers::Embed(kJpeg, m);
        Metadata back;
        if (!JpegMarkers::Read(jpeg.data(), jpeg.size(), back)) Fail("JPEG: not read back");
        if (back.exif != m.exif || back.xmp != m.xmp || back.icc != m.icc) Fail("JPEG: metadata differs");
    } else if (part == 2) {  // metadata into a PNG, read back
        const Metadata m = Pieces(bytes.data(), bytes.size());
        const std::vector<uint8_t> png = PngChunks::Embed(kPng, m);
        Metadata back;
        if (!PngChunks::Read(png.data(), png.size(), back)) Fail("PNG: not read back");
        if (back.exif != m.exif || back.xmp != m.xmp) Fail("PNG: metadata differs");
        // The PNG to write into is RGB: only an RGB profile goes in.
        const bool rgb = IccProfile::SpaceOf(m.icc) == IccProfile::Space::Rgb;
        if (back.icc != (rgb ? m.icc : std::vector<uint8_t>())) Fail("PNG: profile not as its colour space asks");
        if (m.dpiX > 0 && m.dpiY > 0 && (std::abs(back.dpiX - m.dpiX) > 0.03 || std::abs(back.dpiY - m.dpiY) > 0.03))
            Fail("PNG: resolution differs");
    } else if (part == 3) {  // metadata into a TIFF, read back; the bytes as an encoder's TIFF
        const Metadata m = Pieces(bytes.data(), bytes.size());
        const std::vector<uint8_t> tiff = TiffTags::Embed(kTiff, m);
        Metadata back;
        if (!TiffTags::Read(tiff.data(), tiff.size(), back)) Fail("TIFF: not read back");
        if (back.xmp != m.xmp || back.icc != m.icc) Fail("TIFF: metadata differs");
        TiffTags::Embed(bytes, m);
    } else {  // the bytes as a GIF and a JP2 file
        std::vector<uint8_t> gif = bytes;
        GifBlocks::SetTransparent(gif, 0);
        Jp2Boxes::WithProfile(bytes, {1, 2, 3});
        Exif::ForResult(bytes, 3, 4, data[0] & 8);
        // The bytes as a profile into a JP2 file: carried, labelled
        // restricted (2), exactly when the profile qualifies, read back from
        // the box; refused otherwise.
        if (bytes.empty()) return 0;
        const std::vector<uint8_t> jp2 = Jp2Boxes::WithProfile(kJp2, bytes);
        if (!IccProfile::QualifiesRestricted(bytes)) {
            if (!jp2.empty()) Fail("JP2: a profile it may not label");
            return 0;
        }
        const size_t colr = 12 + 20 + 8 + 22;  // signature, file type, header box header, image header
        if (jp2.size() < colr + 11 + bytes.size() || std::memcmp(&jp2[colr + 4], "colr", 4) != 0)
            Fail("JP2: no colour box");
        if (jp2[colr + 8] != 2) Fail("JP2: wrong method");
        if (!std::equal(bytes.begin(), bytes.end(), jp2.begin() + colr + 11)) Fail("JP2: profile differs");
    }
    return 0;
}
