// The eight formats with writers of the converter's own (RLE, PCX, ICO, WBMP,
// PostScript, PDF, JPEG 2000 file and code stream): the real transform.exe
// converts pictures made by the host's ImageMagick, and the host's decoders
// judge the results (ImageMagick, OpenJPEG's tools, Ghostscript, poppler).
// The icon and the RLE bitmap are also loaded as Windows programs load them.
#include "ConverterFixture.h"

#include <initguid.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <tuple>

#include "converter/base/Com.h"
#include "support/ExtensionDll.h"
#include "support/PeImage.h"

namespace {

// The picture's rectangle on the A4 page, in pixels at 72 dots an inch from
// the top left: as large as fits inside half-inch margins, centred.
std::string PageCrop(int width, int height) {
    const double scale = std::min(523.0 / width, 770.0 / height);
    const double w = width * scale, h = height * scale;
    const double x = (595 - w) / 2, top = (842 - h) / 2;
    char crop[96];
    std::snprintf(crop, sizeof crop, "%dx%d+%d+%d", static_cast<int>(w + 0.5), static_cast<int>(h + 0.5),
                  static_cast<int>(x + 0.5), static_cast<int>(top + 0.5));
    return crop;
}

// A bitmap as a Windows program reads it: through WIC's decoder, as 32-bit
// BGRA. Empty when WIC cannot read it.
std::string WicPixels(const std::wstring& path, UINT& width, UINT& height) {
    ComPtr<IWICImagingFactory> wic;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(wic.Put()));
    if (SUCCEEDED(hr))
        hr = wic->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                            decoder.Put());
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, frame.Put());
    if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
    if (SUCCEEDED(hr)) hr = wic->CreateFormatConverter(converter.Put());
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom);
    std::string pixels;
    if (FAILED(hr)) return pixels;
    pixels.resize(size_t{width} * height * 4);
    hr = converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(pixels.size()),
                               reinterpret_cast<BYTE*>(&pixels[0]));
    return SUCCEEDED(hr) ? pixels : std::string();
}

}  // namespace

class OwnWritersTest : public ConverterFixture {
protected:
    void SetUp() override {
        ConverterFixture::SetUp();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        // An odd size, smooth colour and sharp edges; transparency without
        // half-transparent edges, so putting it onto white is exact; a
        // picture larger than an icon's largest image.
        MakePicture(At(L"picture.png"), "-size 97x61 gradient:'#2060c0'-'#f0d040' -fill '#102010' "
                                        "-draw 'rectangle 10,10 40,30' -depth 8");
        MakePicture(At(L"alpha.png"), "-size 40x30 xc:none +antialias -fill '#c02020' -draw 'circle 20,15 20,5'");
        MakePicture(At(L"alpha-on-white.png"), Unix(At(L"alpha.png")) + " -background white -flatten");
        MakePicture(At(L"wide.png"), "-size 300x120 gradient:'#203040'-'#e0f0a0' -depth 8");
    }
    void TearDown() override {
        CoUninitialize();
        ConverterFixture::TearDown();
    }

    void ConvertAll(const char* token) {
        const ProcessResult run = Convert({At(L"picture.png"), At(L"alpha.png"), At(L"wide.png")}, token);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 0u) << run.err;
        EXPECT_NE(run.err.find("3 Dateien wurden umgewandelt."), std::string::npos) << run.err;
    }

    // Every line of `command`'s output on the host.
    std::string HostOut(const std::string& command) {
        const ProcessResult run = Host(command);
        EXPECT_EQ(run.exitCode, 0u) << command << ": " << run.err;
        return run.out;
    }
};

TEST_F(OwnWritersTest, LosslessFormatsDecodeToTheSourcePixels) {
    ConvertAll("TOPCX");
    EXPECT_EQ(Identify(At(L"picture.pcx")), "PCX 97x61");
    EXPECT_EQ(Compare(At(L"picture.png"), At(L"picture.pcx"), "AE"), 0.0);
    EXPECT_EQ(Compare(At(L"alpha-on-white.png"), At(L"alpha.pcx"), "AE"), 0.0);
    EXPECT_EQ(Compare(At(L"wide.png"), At(L"wide.pcx"), "AE"), 0.0);

    for (const char* token : {"TOJPEG2000", "TOJPEG2000CS"}) {
        SCOPED_TRACE(token);
        ConvertAll(token);
        const bool file = std::string(token) == "TOJPEG2000";
        const std::wstring ext = file ? L".jp2" : L".j2k";
        EXPECT_EQ(Identify(At(L"picture" + ext)), file ? "JP2 97x61" : "J2K 97x61");
        // JPEG 2000 keeps transparency: the alpha channel comes back too.
        for (const wchar_t* name : {L"picture", L"alpha", L"wide"}) {
            EXPECT_EQ(Compare(At(std::wstring(name) + L".png"), At(name + ext), "AE"), 0.0) << Utf8FromWide(name);
            // OpenJPEG's own decoder on the host, and its dump of the coding
            // style: the reversible 5/3 wavelet (qmfbid=1) and colour transform.
            const std::wstring decoded = At(std::wstring(name) + L"-opj.png");
            HostOut("opj_decompress -quiet -i " + Unix(At(name + ext)) + " -o " + Unix(decoded));
            EXPECT_EQ(Compare(At(std::wstring(name) + L".png"), decoded, "AE"), 0.0) << Utf8FromWide(name);
        }
        const std::string dump = HostOut("opj_dump -i " + Unix(At(L"picture" + ext)));
        EXPECT_NE(dump.find("qmfbid=1"), std::string::npos) << dump;
        EXPECT_NE(dump.find("mct=1"), std::string::npos) << dump;
    }
}

TEST_F(OwnWritersTest, IconHasTheLargeImageExactAndEverySmallerSize) {
    ConvertAll("TOICO");
    // The picture centred on a transparent square: ImageMagick's own idea of
    // it is the reference.
    EXPECT_EQ(HostOut("identify -format '%m %wx%h,' " + Unix(At(L"picture.ico"))),
              "PNG 97x97,ICO 48x48,ICO 32x32,ICO 16x16,");
    EXPECT_EQ(HostOut("identify -format '%m %wx%h,' " + Unix(At(L"alpha.ico"))), "PNG 40x40,ICO 32x32,ICO 16x16,");
    EXPECT_EQ(HostOut("identify -format '%m %wx%h,' " + Unix(At(L"wide.ico"))),
              "PNG 256x256,ICO 48x48,ICO 32x32,ICO 16x16,");
    for (auto [name, side] : {std::pair<const wchar_t*, int>{L"picture", 97}, {L"alpha", 40}}) {
        const std::wstring expected = At(std::wstring(name) + L"-square.png");
        MakePicture(expected, Unix(At(std::wstring(name) + L".png")) + " -background none -gravity center -extent " +
                                  std::to_string(side) + "x" + std::to_string(side));
        const std::wstring large = At(std::wstring(name) + L"-large.png");
        HostOut("convert " + Unix(At(std::wstring(name) + L".ico")) + "'[0]' " + Unix(large));
        EXPECT_EQ(Compare(expected, large, "AE"), 0.0) << Utf8FromWide(name);
    }
    // Larger than 256: made smaller, against ImageMagick's reduction.
    MakePicture(At(L"wide-square.png"),
                Unix(At(L"wide.png")) + " -resize 256x256 -background none -gravity center -extent 256x256");
    HostOut("convert " + Unix(At(L"wide.ico")) + "'[0]' " + Unix(At(L"wide-large.png")));
    EXPECT_GE(Compare(At(L"wide-square.png"), At(L"wide-large.png"), "PSNR"), 35.0);
    // The 32-bit images: the picture made smaller, against ImageMagick's.
    MakePicture(At(L"picture-48.png"), Unix(At(L"picture.png")) +
                                           " -resize 48x48 -background none -gravity center -extent 48x48");
    HostOut("convert " + Unix(At(L"picture.ico")) + "'[1]' " + Unix(At(L"picture-ico48.png")));
    EXPECT_GE(Compare(At(L"picture-48.png"), At(L"picture-ico48.png"), "PSNR"), 25.0);

    // As Windows programs load icons: every size, the PNG-compressed one too.
    for (int size : {16, 32, 48, 97}) {
        const HANDLE icon = LoadImageW(nullptr, At(L"picture.ico").c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE);
        ASSERT_NE(icon, nullptr) << "LoadImage at " << size << ": error " << GetLastError();
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info));
        BITMAP bitmap = {};
        GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
        DestroyIcon(static_cast<HICON>(icon));
    }
}

TEST_F(OwnWritersTest, ReducedFormatsStayWithinTheirReduction) {
    ConvertAll("TORLE");
    EXPECT_EQ(HostOut("identify -format '%m %wx%h %C' " + Unix(At(L"picture.rle"))), "BMP3 97x61 RLE");
    EXPECT_GE(Compare(At(L"picture.png"), At(L"picture.rle"), "PSNR"), 35.0);
    EXPECT_GE(Compare(At(L"alpha-on-white.png"), At(L"alpha.rle"), "PSNR"), 35.0);
    EXPECT_GE(Compare(At(L"wide.png"), At(L"wide.rle"), "PSNR"), 35.0);
    // Windows reads it too: WIC with the same pixels as ImageMagick, and
    // LoadImage.
    UINT width = 0, height = 0;
    const std::string wic = WicPixels(At(L"picture.rle"), width, height);
    ASSERT_EQ(wic.size(), 97u * 61u * 4u);
    const std::string host = HostOut("convert " + Unix(At(L"picture.rle")) + " -depth 8 bgra:-");
    ASSERT_EQ(host.size(), wic.size());
    EXPECT_TRUE(host == wic) << "WIC and ImageMagick read different pixels";
    const HANDLE bitmap = LoadImageW(nullptr, At(L"picture.rle").c_str(), IMAGE_BITMAP, 0, 0,
                                     LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    ASSERT_NE(bitmap, nullptr) << "LoadImage: error " << GetLastError();
    DIBSECTION dib = {};
    ASSERT_EQ(GetObjectW(bitmap, sizeof dib, &dib), static_cast<int>(sizeof dib));
    EXPECT_EQ(dib.dsBm.bmWidth, 97);
    EXPECT_EQ(dib.dsBm.bmHeight, 61);
    DeleteObject(bitmap);

    ConvertAll("TOWBMP");
    EXPECT_EQ(Identify(At(L"picture.wbmp")), "WBMP 97x61");
    EXPECT_EQ(HostOut("convert " + Unix(At(L"picture.wbmp")) + " -format %k info:"), "2");
    // Error diffusion keeps each area's brightness: blurred, the black and
    // white picture is close to the blurred grey source.
    for (const wchar_t* name : {L"picture", L"wide"}) {
        const std::wstring grey = At(std::wstring(name) + L"-grey.png"), dots = At(std::wstring(name) + L"-dots.png");
        MakePicture(grey, Unix(At(std::wstring(name) + L".png")) + " -colorspace Gray -blur 0x2");
        MakePicture(dots, Unix(At(std::wstring(name) + L".wbmp")) + " -colorspace Gray -blur 0x2");
        EXPECT_GE(Compare(grey, dots, "PSNR"), 20.0) << Utf8FromWide(name);
    }
}

TEST_F(OwnWritersTest, PagesRenderThePictureCentredOnA4) {
    ConvertAll("TOPS");
    ConvertAll("TOPDF");
    EXPECT_EQ(HostOut("head -c 23 " + Unix(At(L"picture.ps"))), "%!PS-Adobe-3.0\n%%Creato");
    // poppler reads the cross-reference table without a complaint.
    EXPECT_EQ(HostOut("pdfinfo " + Unix(At(L"picture.pdf")) + " 2>&1 | grep -c -i error || true"), "0\n");
    EXPECT_NE(HostOut("pdfinfo " + Unix(At(L"picture.pdf"))).find("595 x 842 pts (A4)"), std::string::npos);
    for (auto [name, width, height] : {std::tuple<const wchar_t*, int, int>{L"picture", 97, 61},
                                       {L"alpha", 40, 30}, {L"wide", 300, 120}}) {
        const std::wstring source = At(std::wstring(name) + (name == std::wstring(L"alpha") ? L"-on-white.png" : L".png"));
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        const std::wstring ps = At(std::wstring(name) + L"-ps.png"), pdf = At(std::wstring(name) + L"-pdf");
        HostOut("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r72 -sOutputFile=" + Unix(ps) + " " +
                Unix(At(std::wstring(name) + L".ps")));
        HostOut("pdftoppm -r 72 -png -singlefile " + Unix(At(std::wstring(name) + L".pdf")) + " " + Unix(pdf));
        for (const std::wstring& page : {ps, pdf + L".png"}) {
            SCOPED_TRACE(Utf8FromWide(page));
            EXPECT_EQ(Identify(page), "PNG 595x842");
            // The picture's place on the page, brought back to its own size
            // (JPEG's loss and two scalings on sharp edges: some 26 dB; a
            // picture off its place scores near 10).
            const std::wstring cut = page + L"-cut.png";
            MakePicture(cut, Unix(page) + " -crop " + PageCrop(width, height) + " +repage -scale " + size + "!");
            EXPECT_GE(Compare(source, cut, "PSNR"), 24.0);
            // The margins stay white.
            EXPECT_EQ(HostOut("convert " + Unix(page) + " -crop 595x30+0+0 -format '%[fx:minima.r*255]' info:"), "255");
        }
    }
}

// Explorer starts the converter on machines without MinGW's runtime: with
// OpenJPEG linked in, it still needs nothing but the system's DLLs.
TEST(TransformImage, ImportsSystemDllsOnly) {
    PeImage image;
    ASSERT_TRUE(image.Load(ProgramDir() + "transform.exe")) << image.Error();
    const std::vector<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",    "advapi32.dll",
                                             "shell32.dll",  "ole32.dll",    "oleaut32.dll", "msvcrt.dll",
                                             "comctl32.dll", "windowscodecs.dll", "shlwapi.dll", "uxtheme.dll"};
    std::vector<std::string> imports = image.ImportedDlls();
    const std::vector<std::string> delayed = image.DelayImportedDlls();
    imports.insert(imports.end(), delayed.begin(), delayed.end());
    EXPECT_FALSE(imports.empty());
    for (std::string dll : imports) {
        for (char& c : dll) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        EXPECT_NE(std::find(system.begin(), system.end(), dll), system.end()) << "imports " << dll;
    }
}
