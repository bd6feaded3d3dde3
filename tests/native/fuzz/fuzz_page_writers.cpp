// The PostScript and PDF writers and what they share: the run-length filter
// and ASCII85 round-trip any bytes, the JPEG frame reader takes any bytes
// without reading past them, and a page made from a picture shaped by the
// input holds exactly its pixels where the strict readers look for them.
// Byte 0 picks the width of the picture (1 to 256); all bytes are its RGB.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "converter/writers/Page.h"
#include "converter/writers/Pdf.h"
#include "converter/writers/PostScript.h"
#include "model/FormatReaders.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {

void CheckPlacement(uint32_t width, uint32_t height) {
    const Page::Placement place = Page::Place(width, height);
    const double e = 1e-6;
    if (place.x < Page::Margin - e || place.y < Page::Margin - e ||
        place.x + place.width > Page::Width - Page::Margin + e ||
        place.y + place.height > Page::Height - Page::Margin + e)
        Fail("placement leaves the margins");
    if (std::fabs(place.width * height - place.height * width) > 1e-6 * place.width * height)
        Fail("placement changes the aspect ratio");
    if (std::fabs(place.x + place.width / 2 - Page::Width / 2) > e ||
        std::fabs(place.y + place.height / 2 - Page::Height / 2) > e)
        Fail("placement is not centred");
    for (double value : {place.x, place.y, place.width, place.height}) {
        const std::string text = Page::Number(value);
        if (text.find_first_not_of("-0123456789.") != std::string::npos) Fail("number has other characters");
        if (std::fabs(std::strtod(text.c_str(), nullptr) - value) > 0.00005 + e) Fail("number is not the value");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);

    if (Readers::DecodeRunLength(Page::RunLength(bytes)) != bytes) Fail("run-length round trip");
    const std::vector<uint8_t> a85 = PostScript::Ascii85(bytes);
    const std::string text(a85.begin(), a85.end());
    if (Readers::DecodeAscii85(text) != bytes) Fail("ASCII85 round trip");
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) Fail("ASCII85 without its last line end");
        if (end - at > 77 || text[at] == '%') Fail("ASCII85 line too long or a comment");
        at = end + 1;
    }

    Page::Pixels jpeg;
    if (Page::FromJpeg(bytes, jpeg) && (jpeg.width == 0 || jpeg.height == 0 || jpeg.data != bytes))
        Fail("JPEG frame reader");

    if (size < 1) return 0;
    Image image;
    image.width = 1 + data[0];
    image.height = static_cast<uint32_t>((size + 3 * image.width - 1) / (3 * image.width));
    for (size_t i = 0; i < size_t{image.width} * image.height; ++i) {
        const size_t at = std::min(i * 3, size - 1);
        image.bgra.insert(image.bgra.end(), {data[std::min(at + 2, size - 1)], data[std::min(at + 1, size - 1)],
                                             data[at], 0xFF});
    }
    CheckPlacement(image.width, image.height);
    CheckPlacement(image.height, image.width);
    const Page::Pixels pixels = Page::FromImage(image);
    const auto rgb = Readers::DecodeRunLength(pixels.data);
    if (!rgb || rgb->size() != size_t{image.width} * image.height * 3) Fail("page pixels");
    for (size_t i = 0; i < rgb->size(); ++i)
        if ((*rgb)[i] != image.bgra[i / 3 * 4 + 2 - i % 3]) Fail("page pixels differ");

    const auto stream = Readers::PdfImageStream(Pdf::Write(pixels));
    if (!stream || *stream != pixels.data) Fail("PDF table or stream");

    const std::vector<uint8_t> ps = PostScript::Write(pixels);
    const std::string program(ps.begin(), ps.end());
    const size_t begin = program.find("} exec\n");
    const size_t end = program.find("~>", begin);
    if (begin == std::string::npos || end == std::string::npos) Fail("PostScript data not found");
    if (Readers::DecodeAscii85(program.substr(begin + 7, end + 2 - begin - 7)) != pixels.data)
        Fail("PostScript data differs");
    return 0;
}
