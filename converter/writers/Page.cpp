#include "converter/writers/Page.h"

#include <algorithm>
#include <cmath>

namespace Page {

Placement Place(uint32_t pixelWidth, uint32_t pixelHeight) {
    Placement place;
    if (pixelWidth == 0 || pixelHeight == 0) return place;
    const double boxWidth = Width - 2 * Margin;
    const double boxHeight = Height - 2 * Margin;
    const double scale = std::min(boxWidth / pixelWidth, boxHeight / pixelHeight);
    place.width = pixelWidth * scale;
    place.height = pixelHeight * scale;
    place.x = (Width - place.width) / 2;
    place.y = (Height - place.height) / 2;
    return place;
}

std::string Number(double value) {
    // By hand rather than printf, whose decimal point follows the locale.
    const bool negative = value < 0;
    const long long tenThousandths = std::llround(std::fabs(value) * 10000);
    std::string number = std::to_string(tenThousandths / 10000);
    long long fraction = tenThousandths % 10000;
    if (fraction) {
        std::string digits = std::to_string(fraction);
        digits.insert(0, 4 - digits.size(), '0');
        while (digits.back() == '0') digits.pop_back();
        number += "." + digits;
    }
    if (negative && tenThousandths) number.insert(0, "-");
    return number;
}

bool FromJpeg(const std::vector<uint8_t>& jpeg, Pixels& pixels) {
    const size_t size = jpeg.size();
    if (size < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    size_t at = 2;
    while (at + 4 <= size) {
        if (jpeg[at] != 0xFF) return false;
        const uint8_t marker = jpeg[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA || (marker >= 0xD0 && marker <= 0xD7))
            return false;  // no frame header before the image data
        const size_t length = (size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
        if (length < 2 || at + 2 + length > size) return false;
        // Start of frame: every SOFn but DHT (C4), JPG (C8) and DAC (CC).
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 8) return false;
            const uint8_t* f = jpeg.data() + at + 4;
            const uint32_t height = (uint32_t{f[1]} << 8) | f[2];
            const uint32_t width = (uint32_t{f[3]} << 8) | f[4];
            const int components = f[5];
            // Baseline or progressive Huffman, 8-bit: what DCTDecode takes.
            if (marker != 0xC0 && marker != 0xC1 && marker != 0xC2) return false;
            if (f[0] != 8 || width == 0 || height == 0 || (components != 1 && components != 3)) return false;
            pixels.width = width;
            pixels.height = height;
            pixels.components = components;
            pixels.filter = "DCTDecode";
            pixels.data = jpeg;
            return true;
        }
        at += 2 + length;
    }
    return false;
}

std::vector<uint8_t> RunLength(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size() + bytes.size() / 128 + 2);
    const size_t size = bytes.size();
    size_t i = 0;
    while (i < size) {
        size_t run = 1;
        while (i + run < size && run < 128 && bytes[i + run] == bytes[i]) ++run;
        if (run >= 2) {
            out.push_back(static_cast<uint8_t>(257 - run));
            out.push_back(bytes[i]);
            i += run;
            continue;
        }
        // A literal stretch until the next pair of equal bytes.
        size_t end = i + 1;
        while (end < size && end - i < 128 && !(end + 1 < size && bytes[end] == bytes[end + 1])) ++end;
        out.push_back(static_cast<uint8_t>(end - i - 1));
        out.insert(out.end(), bytes.begin() + i, bytes.begin() + end);
        i = end;
    }
    out.push_back(128);
    return out;
}

Pixels FromImage(const Image& image) {
    Pixels pixels;
    if (!image.Valid()) return pixels;
    std::vector<uint8_t> rgb(static_cast<size_t>(image.width) * image.height * 3);
    uint8_t* to = rgb.data();
    const uint8_t* from = image.bgra.data();
    for (size_t i = 0, n = static_cast<size_t>(image.width) * image.height; i < n; ++i, from += 4) {
        *to++ = from[2];
        *to++ = from[1];
        *to++ = from[0];
    }
    pixels.width = image.width;
    pixels.height = image.height;
    pixels.components = 3;
    pixels.filter = "RunLengthDecode";
    pixels.data = RunLength(rgb);
    return pixels;
}

}  // namespace Page
