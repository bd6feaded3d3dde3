#include "converter/pipeline/Formats.h"

#include "converter/metadata/IccProfile.h"

#include "converter/writers/WicEncoders.h"
#include "converter/writers/FormatEncoders.h"
#include "converter/writers/Jpeg2000Encoder.h"

namespace Formats {

namespace {

// In the menu's order. Formats without an encoder in this build answer
// with a message instead of a result.
const std::vector<FormatInfo> kFormats = {
    {"TOJPG", L".jpg", L"JPEG", false, FormatEncoders::ToJpeg},
    {"TOGIF", L".gif", L"GIF", true, WicEncoders::Gif},  // one transparent palette entry
    {"TOBMP", L".bmp", L"Bitmap", false, WicEncoders::Bmp},
    {"TORLE", L".rle", L"RLE", false, FormatEncoders::ToRle},
    {"TODIB", L".dib", L"DIB", false, WicEncoders::Bmp},
    {"TOJPEG2000", L".jp2", L"JPEG2000", true, Jpeg2000Encoder::ToJp2},
    {"TOJPEG2000CS", L".j2k", L"JPEG2000 (CodeStream)", true, Jpeg2000Encoder::ToJ2k},
    {"TOTIFF", L".tif", L"TIFF", true, FormatEncoders::ToTiff},
    {"TOPCX", L".pcx", L"PCX", false, FormatEncoders::ToPcx},
    {"TOPNG", L".png", L"PNG", true, FormatEncoders::ToPng},
    {"TOICO", L".ico", L"ICO", true, FormatEncoders::ToIco},
    {"TOWBMP", L".wbmp", L"WBMP", false, FormatEncoders::ToWbmp},
    {"TOPS", L".ps", L"PostScript", false, FormatEncoders::ToPostScript},
    {"TOPDF", L".pdf", L"PDF", false, FormatEncoders::ToPdf},
    // Offered by the wizard only: the menu's entries are the fourteen above.
    {"TOWEBP", L".webp", L"WebP", true, FormatEncoders::ToWebp},
    {"TOWEBPLOSSLESS", L".webp", L"WebP verlustfrei", true, FormatEncoders::ToWebpLossless},
};

}  // namespace

const std::vector<FormatInfo>& All() { return kFormats; }

const FormatInfo* ByToken(std::string_view token) {
    for (const FormatInfo& format : kFormats)
        if (format.token == token) return &format;
    return nullptr;
}

const FormatInfo* ByContainer(const GUID& container) {
    std::string_view token;
    if (container == GUID_ContainerFormatJpeg) token = "TOJPG";
    else if (container == GUID_ContainerFormatGif) token = "TOGIF";
    else if (container == GUID_ContainerFormatBmp) token = "TOBMP";
    else if (container == GUID_ContainerFormatTiff) token = "TOTIFF";
    else if (container == GUID_ContainerFormatPng) token = "TOPNG";
    else if (container == GUID_ContainerFormatIco) token = "TOICO";
    else return nullptr;
    const FormatInfo* format = ByToken(token);
    return format && format->encode ? format : nullptr;
}

bool KeepsProfile(const FormatInfo& format, const std::vector<uint8_t>& icc) {
    if (format.token == "TOJPEG2000") return IccProfile::QualifiesRestricted(icc);
    return format.token == "TOJPG" || format.token == "TOTIFF" || format.token == "TOPNG" ||
           format.token == "TOWEBP" || format.token == "TOWEBPLOSSLESS";
}

}  // namespace Formats
