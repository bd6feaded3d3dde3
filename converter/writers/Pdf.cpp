#include "converter/writers/Pdf.h"

#include <string>

#include "converter/writers/ByteWriter.h"

namespace Pdf {
namespace {

std::string Offset10(size_t offset) {
    std::string digits = std::to_string(offset);
    return std::string(digits.size() < 10 ? 10 - digits.size() : 0, '0') + digits;
}

}  // namespace

std::vector<uint8_t> Write(const Page::Pixels& pixels) {
    std::vector<uint8_t> bytes;
    if (pixels.width == 0 || pixels.height == 0 || (pixels.components != 1 && pixels.components != 3) ||
        pixels.data.empty())
        return bytes;
    // Offsets in the cross-reference table have 10 digits.
    const uint64_t dataSize = pixels.data.size();
    if (dataSize > 9000000000ull) return bytes;
    const Page::Placement place = Page::Place(pixels.width, pixels.height);
    using Page::Number;

    bytes.reserve(pixels.data.size() + 1024);
    ByteWriter out(bytes);
    std::vector<size_t> offsets;  // of objects 1, 2, ...
    auto object = [&](const std::string& text) {
        offsets.push_back(out.Size());
        out.Text(std::to_string(offsets.size()) + " 0 obj\n" + text);
    };

    // The binary comment line tells transfer programs the file is binary.
    out.Text("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    object("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842]\n"
           "   /Resources << /XObject << /Im0 4 0 R >> >>\n"
           "   /Contents 5 0 R >>\nendobj\n");
    object("<< /Type /XObject /Subtype /Image /Width " + std::to_string(pixels.width) + " /Height " +
           std::to_string(pixels.height) + (pixels.components == 1 ? " /ColorSpace /DeviceGray" : " /ColorSpace /DeviceRGB") +
           " /BitsPerComponent 8 /Filter /" + pixels.filter + " /Length " +
           std::to_string(pixels.data.size()) + " >>\nstream\n");
    out.Bytes(pixels.data);
    out.Text("\nendstream\nendobj\n");
    const std::string content = "q " + Number(place.width) + " 0 0 " + Number(place.height) + " " +
                                Number(place.x) + " " + Number(place.y) + " cm /Im0 Do Q\n";
    object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream\nendobj\n");
    object("<< /Producer (transform) >>\nendobj\n");

    const size_t xref = out.Size();
    out.Text("xref\n0 " + std::to_string(offsets.size() + 1) + "\n");
    // Every entry is exactly 20 bytes, its end of line two characters.
    out.Text("0000000000 65535 f\r\n");
    for (size_t offset : offsets) out.Text(Offset10(offset) + " 00000 n\r\n");
    out.Text("trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R /Info 6 0 R >>\n");
    out.Text("startxref\n" + std::to_string(xref) + "\n%%EOF\n");
    return bytes;
}

}  // namespace Pdf
