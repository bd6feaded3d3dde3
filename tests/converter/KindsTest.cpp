// One picture of each kind the menu is shown for, made by an independent
// tool, converted to PNG by the real transform.exe in one run, and each
// result compared with ImageMagick's own decode of the source.
#include "ConverterFixture.h"

#include <algorithm>
#include <zlib.h>

#include "native/model/PspModel.h"
#include "untMain/ImageExtensions.h"

namespace {

// How a source of a kind is made and judged.
struct Kind {
    const wchar_t* name;  // the source's file name (each stem once); its extension is the kind
    bool alpha;           // made from the base picture with a transparent corner
    // ImageMagick's arguments after the base picture and before the output,
    // which is written as `coder:path` ("jpg:" writes a JPEG whatever the name).
    const char* options;
    const char* coder;
    // How an independent decoder makes the reference from the source (%s)
    // as an 8-bit PNG (%o); nullptr: ImageMagick's own decode.
    const char* reference;
    double minPsnr;  // 0: the result must be pixel-equal (AE 0) to the reference
    // Turns the bytes ImageMagick made into the source's bytes, for kinds
    // it does not write (or not as they are); nullptr keeps them. With no
    // coder, ImageMagick makes nothing and this makes the source.
    std::string (*remake)(const std::string& made);
    // For what only the platform draws: the reference as a bitmap file of
    // the same drawing onto white, against which the result is judged put
    // onto white; what nothing draws must have stayed transparent.
    std::string (*drawn)();
};

// The base picture: smooth colour, a sharp edge, odd and even sizes.
const char kBase[] = "-size 64x48 gradient:'#2060c0'-'#f0d040' -fill '#a02020' -draw 'circle 30,22 30,8' "
                     "-fill '#102010' -draw 'rectangle 44,30 60,44' -depth 8";
// The same with a transparent corner, for the kinds that hold alpha.
const char kBaseAlpha[] = "-size 64x48 gradient:'#2060c0'-'#f0d040' -fill '#a02020' -draw 'circle 30,22 30,8' "
                          "-alpha set -region 20x12+0+0 -alpha transparent +region -depth 8";

// The metafiles' drawing, 96 x 72 pixels (a whole number of hundredths of
// a millimetre at 96 dpi): shapes GDI draws alike into a metafile and into a
// bitmap, the top left corner left untouched, and a dot in two others, so
// that a renderer which frames the drawn part frames the whole.
constexpr int DrawingWidth = 96, DrawingHeight = 72;

void Draw(HDC dc) {
    const HBRUSH blue = CreateSolidBrush(RGB(0x20, 0x40, 0xC0)), red = CreateSolidBrush(RGB(0xC0, 0x20, 0x20));
    const HPEN green = CreatePen(PS_SOLID, 3, RGB(0x10, 0xA0, 0x30));
    const HGDIOBJ oldBrush = SelectObject(dc, blue), oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    Rectangle(dc, 10, 8, 51, 41);
    SelectObject(dc, red);
    const POINT diamond[] = {{50, 18}, {72, 36}, {50, 54}, {28, 36}};
    Polygon(dc, diamond, 4);
    SelectObject(dc, green);
    MoveToEx(dc, 5, 55, nullptr);
    LineTo(dc, 75, 30);
    SelectObject(dc, blue);
    SelectObject(dc, GetStockObject(NULL_PEN));
    Rectangle(dc, 0, DrawingHeight - 2, 2, DrawingHeight);
    Rectangle(dc, DrawingWidth - 2, 0, DrawingWidth, 2);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(blue);
    DeleteObject(red);
    DeleteObject(green);
}

std::string DrawnEmf(const std::string&) {
    // The frame in hundredths of a millimetre: 80 x 60 pixels at 96 dpi.
    const RECT frame = {0, 0, DrawingWidth * 2540 / 96, DrawingHeight * 2540 / 96};
    const HDC dc = CreateEnhMetaFileW(nullptr, nullptr, &frame, nullptr);
    if (!dc) return {};
    Draw(dc);
    const HENHMETAFILE emf = CloseEnhMetaFile(dc);
    std::string bytes(GetEnhMetaFileBits(emf, 0, nullptr), '\0');
    GetEnhMetaFileBits(emf, static_cast<UINT>(bytes.size()), reinterpret_cast<BYTE*>(&bytes[0]));
    DeleteEnhMetaFile(emf);
    return bytes;
}

// A plain WMF: no frame of its own, only the window its drawing sets.
std::string DrawnPlainWmf(const std::string&) {
    const HDC dc = CreateMetaFileW(nullptr);
    if (!dc) return {};
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowOrgEx(dc, 0, 0, nullptr);
    SetWindowExtEx(dc, DrawingWidth, DrawingHeight, nullptr);
    Draw(dc);
    const HMETAFILE wmf = CloseMetaFile(dc);
    std::string bits(GetMetaFileBitsEx(wmf, 0, nullptr), '\0');
    GetMetaFileBitsEx(wmf, static_cast<UINT>(bits.size()), &bits[0]);
    DeleteMetaFile(wmf);
    return bits;
}

// A placeable WMF: the 22-byte header that names its frame (in units of
// 1/96 inch here), then the plain metafile.
std::string DrawnWmf(const std::string& made) {
    const uint16_t header[10] = {0xCDD7, 0x9AC6, 0, 0, 0, DrawingWidth, DrawingHeight, 96, 0, 0};
    uint16_t checksum = 0;
    for (uint16_t word : header) checksum ^= word;
    std::string placeable(reinterpret_cast<const char*>(header), sizeof header);
    placeable.append(reinterpret_cast<const char*>(&checksum), 2);
    return placeable + DrawnPlainWmf(made);
}

// The same drawing straight into a 24-bit bitmap on white, as a BMP file.
std::string DrawnBitmap() {
    const uint32_t stride = (DrawingWidth * 3 + 3) & ~3u;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = DrawingWidth;
    info.bmiHeader.biHeight = DrawingHeight;  // bottom-up, as a BMP file keeps it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    const HDC dc = CreateCompatibleDC(nullptr);
    const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    const RECT all = {0, 0, DrawingWidth, DrawingHeight};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    Draw(dc);
    GdiFlush();
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * DrawingHeight;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    bytes.append(static_cast<const char*>(bits), stride * DrawingHeight);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return bytes;
}

// An icon as a cursor: the same directory of type 2, whose entries hold a
// hot spot where an icon's hold planes and bit count.
std::string AsCursor(const std::string& icon) {
    std::string cursor = icon;
    if (cursor.size() < 6) return cursor;
    cursor[2] = 2;
    const size_t count = static_cast<uint8_t>(cursor[4]) | static_cast<uint8_t>(cursor[5]) << 8;
    for (size_t i = 0; i < count && 6 + i * 16 + 16 <= cursor.size(); ++i) {
        cursor[6 + i * 16 + 4] = 3;  // hot spot 3, 5
        cursor[6 + i * 16 + 5] = 0;
        cursor[6 + i * 16 + 6] = 5;
        cursor[6 + i * 16 + 7] = 0;
    }
    return cursor;
}

// Dr. Halo CUT and Alias PIX: nothing on the host writes them, so they are
// made here by their documented layouts from the base picture's raw bytes
// (ImageMagick's "gray:" and "rgb:"); ImageMagick reads both and judges them.
constexpr size_t BaseWidth = 64, BaseHeight = 48;

// Lines of a 16-bit length, then flag bytes: 0x80 | n repeats the next byte
// n times, n alone takes the next n bytes as they are, 0 ends the line.
std::string HaloCutFromGrey(const std::string& grey) {
    if (grey.size() != BaseWidth * BaseHeight) return {};
    std::string cut = {char(BaseWidth), 0, char(BaseHeight), 0, 0, 0};
    for (size_t y = 0; y < BaseHeight; ++y) {
        const std::string row = grey.substr(y * BaseWidth, BaseWidth);
        std::string line;
        for (size_t x = 0; x < BaseWidth;) {
            size_t run = 1;
            while (x + run < BaseWidth && run < 127 && row[x + run] == row[x]) ++run;
            if (run >= 3) {
                line += char(0x80 | run);
                line += row[x];
            } else {
                run = std::min<size_t>(BaseWidth - x, 4);
                line += char(run);
                line += row.substr(x, run);
            }
            x += run;
        }
        line += '\0';
        cut += char(line.size() & 0xFF);
        cut += char(line.size() >> 8);
        cut += line;
    }
    return cut;
}

// The .pal beside it: the 40-byte header ("AH", ..., at 12 the highest
// index and the highest red, green and blue), then 16-bit R, G, B triples of
// 0 to 63 in 512-byte blocks that no triple straddles.
std::string HaloPalette() {
    std::string pal(40, '\0');
    const auto word = [&pal](size_t at, unsigned value) {
        pal[at] = char(value & 0xFF);
        pal[at + 1] = char(value >> 8);
    };
    pal[0] = 'A';
    pal[1] = 'H';
    word(2, 0xE3);
    pal[6] = 'A';
    word(12, 255);
    word(14, 63);
    word(16, 63);
    word(18, 63);
    pal.replace(20, 8, "Dr. Halo");
    for (unsigned i = 0; i < 256; ++i) {
        if (512 - pal.size() % 512 < 6) pal.resize((pal.size() / 512 + 1) * 512, '\0');
        for (unsigned value : {i / 4, 63 - i / 4, (i * 7) % 64}) pal += std::string{char(value), '\0'};
    }
    word(4, static_cast<unsigned>(pal.size()));
    return pal;
}

// A 10-byte big-endian header (width, height, two unused offsets, 24 bits),
// then run-length packets of count, blue, green, red that end with each line.
std::string AliasPixFromRgb(const std::string& rgb) {
    if (rgb.size() != BaseWidth * BaseHeight * 3) return {};
    std::string pix = {0, char(BaseWidth), 0, char(BaseHeight), 0, 0, 0, 0, 0, 24};
    for (size_t y = 0; y < BaseHeight; ++y) {
        for (size_t x = 0; x < BaseWidth;) {
            const size_t at = (y * BaseWidth + x) * 3;
            size_t run = 1;
            while (x + run < BaseWidth && rgb.compare(at + run * 3, 3, rgb, at, 3) == 0) ++run;
            pix += {char(run), rgb[at + 2], rgb[at + 1], rgb[at]};
            x += run;
        }
    }
    return pix;
}

// Files a source needs beside it, under the same stem.
struct Companion {
    const wchar_t* source;
    const wchar_t* name;
    std::string (*make)();
};

const Companion kCompanions[] = {{L"cut.cut", L"cut.pal", HaloPalette}};
// Paint Shop Pro, which nothing on the host writes or reads: the base
// picture (ImageMagick's raw RGB of it) as the full-size composite of a file
// built by the format's documented layout, judged against the base itself.
PspModel::Picture PspPicture(const std::string& rgb) {
    PspModel::Picture p;
    p.width = 64;
    p.height = 48;
    const size_t stride = p.Stride();
    for (auto* plane : {&p.red, &p.green, &p.blue}) plane->assign(stride * p.height, 0);
    for (size_t y = 0; y < p.height && (y + 1) * p.width * 3 <= rgb.size(); ++y)
        for (size_t x = 0; x < p.width; ++x) {
            const char* px = rgb.data() + (y * p.width + x) * 3;
            p.red[y * stride + x] = static_cast<uint8_t>(px[0]);
            p.green[y * stride + x] = static_cast<uint8_t>(px[1]);
            p.blue[y * stride + x] = static_cast<uint8_t>(px[2]);
        }
    return p;
}

std::vector<uint8_t> Deflated(const std::vector<uint8_t>& data) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(length);
    if (compress(out.data(), &length, data.data(), static_cast<uLong>(data.size())) != Z_OK) return {};
    out.resize(length);
    return out;
}

std::string PspRunLength(const std::string& rgb) {
    const std::vector<uint8_t> file = PspModel::WithComposite(PspPicture(rgb), PspModel::kRle, false);
    return std::string(file.begin(), file.end());
}

std::string PspDeflated(const std::string& rgb) {
    const std::vector<uint8_t> file = PspModel::WithComposite(PspPicture(rgb), PspModel::kLz77, false, Deflated);
    return std::string(file.begin(), file.end());
}

// References other than ImageMagick's plain decode.
const char kFirstImage[] = "convert '%s[0]' -depth 8 png32:%o";
// ImageMagick 6 hands a TGA's rows over in stored order and names its
// corner in the orientation tag: -auto-orient shows it as the header says.
// (Its own TGAs store the top row first under a bottom-left header, so by
// the format's rule they show the base picture upside down.)
const char kAutoOriented[] = "convert 'tga:%s' -auto-orient -depth 8 png32:%o";
const char kOnScreen[] = "convert '%s[0]' -background none -flatten -depth 8 png32:%o";
const char kOpenJpeg[] = "opj_decompress -quiet -i '%s' -o %o";
const char kAt96Dpi[] = "convert -density 96 -background none '%s' -depth 8 png32:%o";
// Fax has no header: ImageMagick is told the coder and the width.
const char kFax[] = "convert -size 1728 'fax:%s' -depth 8 png32:%o";
// The picture a Paint Shop Pro source was built from.
const char kBasePicture[] = "convert \"$(dirname '%s')/../base.png\" -depth 8 png32:%o";

const Kind kKinds[] = {
    {L"jpg.jpg", false, "-quality 92", "jpg:", nullptr, 35, nullptr, nullptr},
    {L"jpeg.jpeg", false, "-quality 92 -sampling-factor 1x1", "jpg:", nullptr, 35, nullptr, nullptr},
    {L"jpe.jpe", false, "-quality 80 -interlace JPEG", "jpg:", nullptr, 35, nullptr, nullptr},
    {L"png.png", true, "", "png:", nullptr, 0, nullptr, nullptr},
    {L"palette-png.png", false, "-colors 50", "png8:", nullptr, 0, nullptr, nullptr},
    // Content first: a JPEG named .png is read as a JPEG.
    {L"jpeg-named.png", false, "-quality 92", "jpg:", nullptr, 35, nullptr, nullptr},
    {L"gif.gif", false, "", "gif:", nullptr, 0, nullptr, nullptr},
    {L"tif.tif", true, "-compress lzw", "tiff:", nullptr, 0, nullptr, nullptr},
    {L"tiff.tiff", false, "-compress none -type palette", "tiff:", nullptr, 0, nullptr, nullptr},
    // A first frame smaller than the logical screen, at an offset: composed
    // onto the whole screen, transparent around it.
    {L"offset-gif.gif", false, "-repage 100x80+20+10", "gif:", kOnScreen, 0, nullptr, nullptr},
    {L"bmp.bmp", false, "", "bmp3:", nullptr, 0, nullptr, nullptr},
    {L"dib.dib", false, "-type palette", "bmp3:", nullptr, 0, nullptr, nullptr},
    {L"rle.rle", false, "-colors 200 -compress RLE", "bmp3:", nullptr, 0, nullptr, nullptr},
    // JPEG 2000: 8 bits with alpha from the channel definition, 16 bits,
    // grey, and components sub-sampled; as a JP2 file and as code streams.
    {L"jp2.jp2", true, "-depth 8", "jp2:", nullptr, 0, nullptr, nullptr},
    {L"deep-jp2.jp2", false, "-depth 16", "jp2:", nullptr, 0, nullptr, nullptr},
    {L"grey-j2k.j2k", false, "-colorspace gray -depth 8", "j2k:", nullptr, 0, nullptr, nullptr},
    {L"jpc.jpc", true, "-depth 8", "j2k:", nullptr, 0, nullptr, nullptr},
    {L"sampled-j2c.j2c", false, "-sampling-factor 2x1 -depth 8", "j2k:", kOpenJpeg, 0, nullptr, nullptr},
    // The largest image of each: a 32-bit bitmap with alpha; a PNG stream;
    // an 8-bit bitmap with its mask, in a cursor.
    {L"ico.ico", true, "\\( -clone 0 -resize 32x24! \\) \\( -clone 0 -resize 16x12! \\)", "ico:", kFirstImage, 0,
     nullptr, nullptr},
    {L"large-ico.ico", false, "-resize 256x256! \\( -clone 0 -resize 48x48! \\) -depth 8", "ico:", kFirstImage, 0,
     nullptr, nullptr},
    {L"cur.cur", true, "-colors 60 \\( -clone 0 -resize 24x18! \\)", "ico:", kFirstImage, 0, AsCursor, nullptr},
    // Metafiles drawn by GDI: the EMF judged by GDI's drawing of the same
    // into a bitmap; the WMF by ImageMagick's renderer, which smooths edges
    // that GDI leaves sharp (the same drawing upside down or 3 pixels off
    // scores 12 to 16 dB).
    {L"wmf.wmf", false, "", nullptr, kAt96Dpi, 20, DrawnWmf, nullptr},
    // A WMF without the placeable header has no frame: ImageMagick guesses
    // one, the converter takes the window the drawing sets, as GDI would.
    {L"plain-wmf.wmf", false, "", nullptr, nullptr, 0, DrawnPlainWmf, DrawnBitmap},
    {L"emf.emf", false, "", nullptr, nullptr, 0, DrawnEmf, DrawnBitmap},
    // TGA under each of its names, which has no magic bytes: true colour
    // with alpha, colour-mapped and grey, run-length and raw.
    {L"tga.tga", true, "-compress RLE", "tga:", kAutoOriented, 0, nullptr, nullptr},
    {L"targa.targa", false, "-type palette -compress RLE", "tga:", kAutoOriented, 0, nullptr, nullptr},
    {L"vda.vda", false, "-type grayscale -compress RLE", "tga:", kAutoOriented, 0, nullptr, nullptr},
    {L"icb.icb", false, "-compress none", "tga:", kAutoOriented, 0, nullptr, nullptr},
    {L"vst.vst", true, "-compress none", "tga:", kAutoOriented, 0, nullptr, nullptr},
    // Netpbm: raw colour, 16-bit grey, plain black and white, and PAM with
    // alpha (read by its content, whatever the extension).
    {L"ppm.ppm", false, "", "ppm:", nullptr, 0, nullptr, nullptr},
    {L"pgm.pgm", false, "-colorspace gray -depth 16", "pgm:", nullptr, 0, nullptr, nullptr},
    {L"pbm.pbm", false, "-monochrome -compress none", "pbm:", nullptr, 0, nullptr, nullptr},
    {L"pxm.pxm", true, "", "pam:", nullptr, 0, nullptr, nullptr},
    {L"pcx.pcx", false, "", "pcx:", nullptr, 0, nullptr, nullptr},
    {L"palette-pcx.pcx", false, "-type palette", "pcx:", nullptr, 0, nullptr, nullptr},
    {L"wbmp.wbmp", false, "", "wbmp:", nullptr, 0, nullptr, nullptr},
    // With its palette beside it (kCompanions), and grey without one.
    {L"cut.cut", false, "-colorspace gray -depth 8", "gray:", nullptr, 0, HaloCutFromGrey, nullptr},
    {L"grey-cut.cut", false, "-colorspace gray -depth 8", "gray:", nullptr, 0, HaloCutFromGrey, nullptr},
    // ImageMagick reads a PIX only when told to stop after the first picture.
    {L"pix.pix", false, "-depth 8", "rgb:", kFirstImage, 0, AliasPixFromRgb, nullptr},
    // Photoshop's merged picture: RGB run-length encoded, CMYK raw (as true
    // colour: ImageMagick cannot read back the indexed files it writes).
    // CMYK without a profile goes through the converter's fallback CMYK
    // profile, ImageMagick's formula within a level.
    {L"psd.psd", false, "-type truecolor -compress rle", "psd:", kFirstImage, 0, nullptr, nullptr},
    {L"pdd.pdd", false, "-colorspace cmyk -compress none", "psd:", kFirstImage, 48, nullptr, nullptr},
    // Photo CD's base picture: chroma at half size and the colour sums
    // rounded differently, so within a step.
    {L"pcd.pcd", false, "-resize 768x512!", "pcd:", nullptr, 45, nullptr, nullptr},
    // Fax pages of 1728 pixels a row, black and white.
    {L"fax.fax", false, "-resize 1728x100! -monochrome", "g3:", kFax, 0, nullptr, nullptr},
    {L"g3n.g3n", false, "-resize 1728x60! -monochrome", "g3:", kFax, 0, nullptr, nullptr},
    {L"g3f.g3f", false, "-resize 1728x120! -monochrome", "g3:", kFax, 0, nullptr, nullptr},
    {L"psp.psp", false, "-depth 8", "rgb:", kBasePicture, 0, PspRunLength, nullptr},
    {L"pspimage.pspimage", false, "-depth 8", "rgb:", kBasePicture, 0, PspDeflated, nullptr},
};

std::wstring ResultName(const std::wstring& source) {
    const std::wstring stem = source.substr(0, source.find_last_of(L'.'));
    return source == stem + L".png" ? stem + L" (2).png" : stem + L".png";
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

// The host's path of a Windows path, without the shell's quotes.
std::string Bare(const std::string& quoted) { return quoted.substr(1, quoted.size() - 2); }

}  // namespace

class KindsTest : public ConverterFixture {};

TEST_F(KindsTest, EveryKindConvertsToPngAsImageMagickDecodesIt) {
    // Every kind the menu is shown for has its row.
    for (const std::string_view extension : ImageExtensions::AcceptedExtensions) {
        const std::wstring wide(extension.begin(), extension.end());
        EXPECT_TRUE(std::any_of(std::begin(kKinds), std::end(kKinds), [&wide](const Kind& kind) {
            const std::wstring name = kind.name;
            return name.size() > wide.size() && name.compare(name.size() - wide.size(), wide.size(), wide) == 0;
        })) << extension;
    }
    MakePicture(At(L"base.png"), kBase);
    MakePicture(At(L"base-alpha.png"), kBaseAlpha);
    size_t made = 0;
    CreateDirectoryW(At(L"sources").c_str(), nullptr);
    for (const Kind& kind : kKinds) {
        const std::wstring source = At(std::wstring(L"sources\\") + kind.name);
        std::string bytes;
        if (kind.coder) {
            const ProcessResult made = Host("convert " + Unix(At(kind.alpha ? L"base-alpha.png" : L"base.png")) +
                                            " " + kind.options + " " + kind.coder + Unix(source));
            ASSERT_EQ(made.exitCode, 0u) << Utf8FromWide(kind.name) << ": " << made.err;
            ASSERT_TRUE(ReadWholeFile(source, bytes));
        }
        if (kind.remake) {
            ASSERT_TRUE(WriteBytes(source, kind.remake(bytes)));
        }
        for (const Companion& companion : kCompanions)
            if (companion.source == std::wstring(kind.name))
                ASSERT_TRUE(WriteBytes(At(std::wstring(L"sources\\") + companion.name), companion.make()));
        ++made;
    }

    // The folder stands for them all: each kind is taken by the folder walk,
    // and a file of no picture kind is not.
    ASSERT_EQ(Host("echo hallo > " + Unix(At(L"sources\\notes.txt"))).exitCode, 0u);
    const ProcessResult run = Convert({At(L"sources")}, "TOPNG");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.err.find(std::to_string(made) + " Dateien wurden umgewandelt."), std::string::npos) << run.err;

    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(Utf8FromWide(kind.name));
        const std::wstring source = At(std::wstring(L"sources\\") + kind.name);
        const std::wstring reference = At(std::wstring(L"reference-") + kind.name + L".png");
        const std::wstring result = At(L"sources\\" + ResultName(kind.name));
        ASSERT_EQ(Identify(result).substr(0, 4), "PNG ");
        std::wstring judged = result;
        if (kind.drawn) {
            ASSERT_TRUE(WriteBytes(reference, kind.drawn()));
            EXPECT_EQ(Host("convert " + Unix(result) + " -format '%[fx:p{0,0}.a]' info:").out, "0");
            judged = At(std::wstring(L"on-white-") + kind.name + L".png");
            ASSERT_EQ(Host("convert " + Unix(result) + " -background white -flatten " + Unix(judged)).exitCode, 0u);
        } else {
            std::string command = kind.reference ? kind.reference : "convert '%s' -depth 8 png32:%o";
            command.replace(command.find("%s"), 2, Bare(Unix(source)));
            command.replace(command.find("%o"), 2, Unix(reference));
            const ProcessResult decoded = Host(command);
            ASSERT_EQ(decoded.exitCode, 0u) << decoded.err;
        }
        if (kind.minPsnr == 0)
            EXPECT_EQ(Compare(reference, judged, "AE"), 0.0);
        else
            EXPECT_GE(Compare(reference, judged, "PSNR"), kind.minPsnr);
    }
}

namespace {

struct Written {
    const char* token;
    const wchar_t* extension;
    bool lossless;  // comes back as the source's very pixels
};

// Every format the converter writes and reads; PostScript and PDF it only writes.
const Written kWritten[] = {
    {"TOPNG", L".png", true},         {"TOBMP", L".bmp", true},         {"TODIB", L".dib", true},
    {"TOTIFF", L".tif", true},        {"TOJPEG2000", L".jp2", true},    {"TOJPEG2000CS", L".j2k", true},
    {"TORLE", L".rle", false},        {"TOGIF", L".gif", false},        {"TOJPG", L".jpg", false},
    {"TOICO", L".ico", false},        {"TOPCX", L".pcx", true},         {"TOWBMP", L".wbmp", false},
};

}  // namespace

TEST_F(KindsTest, EverythingItWritesItReadsBack) {
    MakePicture(At(L"source.png"), kBase);
    for (const Written& written : kWritten) {
        SCOPED_TRACE(written.token);
        const std::wstring folder = At(WideFromAnsi(written.token));
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(At(L"source.png").c_str(), (folder + L"\\source.png").c_str(), TRUE));
        ProcessResult run = Convert({folder + L"\\source.png"}, written.token);
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        const bool png = written.extension == std::wstring(L".png");
        const std::wstring result = folder + L"\\source" + (png ? L" (2)" : L"") + written.extension;
        const std::wstring name = std::wstring(L"written") + written.extension;
        ASSERT_TRUE(MoveFileW(result.c_str(), (folder + L"\\" + name).c_str()));
        run = Convert({folder + L"\\" + name}, "TOPNG");
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        const std::wstring back = folder + L"\\" + ResultName(name);
        // What it wrote, as ImageMagick reads it, is what it reads.
        const std::wstring decoded = folder + L"\\decoded.png";
        ASSERT_EQ(Host("convert '" + Bare(Unix(folder + L"\\" + name)) + "[0]' -depth 8 png32:" +
                       Unix(decoded)).exitCode, 0u);
        if (written.extension == std::wstring(L".jpg"))
            EXPECT_GE(Compare(decoded, back, "PSNR"), 35.0);
        else
            EXPECT_EQ(Compare(decoded, back, "AE"), 0.0);
        if (written.lossless) {
            EXPECT_EQ(Compare(At(L"source.png"), back, "AE"), 0.0);
        }
    }
}
