#include "converter/writers/PostScript.h"

#include <cmath>
#include <string>

#include "converter/writers/ByteWriter.h"

namespace PostScript {

std::vector<uint8_t> Ascii85(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size() / 4 * 5 + bytes.size() / 60 + 16);
    size_t column = 0;
    auto put = [&](char c) {
        if (column == 0 && c == '%') {
            out.push_back(' ');
            ++column;
        }
        out.push_back(static_cast<uint8_t>(c));
        if (++column >= 76) {
            out.push_back('\n');
            column = 0;
        }
    };
    const size_t size = bytes.size();
    for (size_t i = 0; i < size; i += 4) {
        const size_t count = size - i < 4 ? size - i : 4;
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) group = (group << 8) | (k < count ? bytes[i + k] : 0);
        if (count == 4 && group == 0) {
            put('z');
            continue;
        }
        char digits[5];
        for (int k = 4; k >= 0; --k) {
            digits[k] = static_cast<char>('!' + group % 85);
            group /= 85;
        }
        // A final group of n bytes is written as n + 1 characters.
        for (size_t k = 0; k < count + 1; ++k) put(digits[k]);
    }
    // The end marker is never split across lines.
    out.push_back('~');
    out.push_back('>');
    out.push_back('\n');
    return out;
}

std::vector<uint8_t> Write(const Page::Pixels& pixels) {
    std::vector<uint8_t> bytes;
    if (pixels.width == 0 || pixels.height == 0 || (pixels.components != 1 && pixels.components != 3) ||
        pixels.data.empty())
        return bytes;
    const Page::Placement place = Page::Place(pixels.width, pixels.height);
    using Page::Number;
    const std::string w = std::to_string(pixels.width);
    const std::string h = std::to_string(pixels.height);
    const std::string box = std::to_string(static_cast<long>(std::floor(place.x))) + " " +
                            std::to_string(static_cast<long>(std::floor(place.y))) + " " +
                            std::to_string(static_cast<long>(std::ceil(place.x + place.width))) + " " +
                            std::to_string(static_cast<long>(std::ceil(place.y + place.height)));
    const bool grey = pixels.components == 1;

    std::string head;
    head += "%!PS-Adobe-3.0\n";
    head += "%%Creator: transform\n";
    head += "%%LanguageLevel: 2\n";
    head += "%%BoundingBox: " + box + "\n";
    head += "%%HiResBoundingBox: " + Number(place.x) + " " + Number(place.y) + " " +
            Number(place.x + place.width) + " " + Number(place.y + place.height) + "\n";
    head += "%%DocumentData: Clean7Bit\n";
    head += "%%DocumentMedia: A4 595 842 0 () ()\n";
    head += "%%Pages: 1\n";
    head += "%%EndComments\n";
    head += "%%BeginSetup\n";
    head += "/setpagedevice where { pop << /PageSize [595 842] >> setpagedevice } if\n";
    head += "%%EndSetup\n";
    head += "%%Page: 1 1\n";
    head += "%%PageBoundingBox: " + box + "\n";
    head += "/QuennelPage save def\n";
    head += Number(place.x) + " " + Number(place.y) + " translate\n";
    head += Number(place.width) + " " + Number(place.height) + " scale\n";
    head += grey ? "/DeviceGray setcolorspace\n" : "/DeviceRGB setcolorspace\n";
    // The procedure is read whole before it runs, so the filter starts
    // reading the file right after "exec"; flushfile then skips what the
    // image filter left before "~>", whatever the decoder read ahead.
    head += "{ /QuennelData currentfile /ASCII85Decode filter def\n";
    head += "  << /ImageType 1 /Width " + w + " /Height " + h + " /BitsPerComponent 8\n";
    head += grey ? "     /Decode [0 1]" : "     /Decode [0 1 0 1 0 1]";
    head += " /ImageMatrix [" + w + " 0 0 -" + h + " 0 " + h + "]\n";
    head += "     /DataSource QuennelData /" + std::string(pixels.filter) + " filter >> image\n";
    head += "  QuennelData flushfile } exec\n";

    const std::vector<uint8_t> data = Ascii85(pixels.data);
    bytes.reserve(head.size() + data.size() + 64);
    ByteWriter out(bytes);
    out.Text(head);
    out.Bytes(data);
    out.Text("QuennelPage restore\nshowpage\n%%Trailer\n%%EOF\n");
    return bytes;
}

}  // namespace PostScript
