// Sizes through the real converter: a picture reduced while decoding still
// ends at exactly the size asked, a large JPEG 2000 picture comes out whole
// however short the codec's memory, and headers crafted to wrap a size or to
// hold far more memory than their file are skipped with their reason while
// the pictures beside them are converted. Judged by ImageMagick.
#include "ConverterFixture.h"

namespace {

class SizesTest : public ConverterFixture {
protected:
    // Runs a short Python program on the host that writes `path`.
    static void Craft(const std::wstring& path, const std::string& program) {
        const ProcessResult made = Host("python3 -c \"" + program + "\" " + Unix(path));
        ASSERT_EQ(made.exitCode, 0u) << made.err;
    }
};

// 4000 x 3001 through the 800x600 preset: decoded at a quarter (1000 x 751),
// fitted from the stored size, not from the reduced one.
TEST_F(SizesTest, AJpegReducedWhileDecodingEndsAtExactlyThePresetSize) {
    MakePicture(At(L"photo.jpg"), "-size 4000x3001 gradient:navy-orange -quality 85");
    MakePicture(At(L"tall.jpg"), "-size 1201x1999 gradient:white-black -quality 85");
    const ProcessResult run = Convert({At(L"photo.jpg"), At(L"tall.jpg")}, "RS_1");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Identify(At(L"photo (800x600).jpg")), "JPEG 800x600");
    EXPECT_EQ(Identify(At(L"tall (800x600).jpg")), "JPEG 360x600");
    MakePicture(At(L"reference.png"), Unix(At(L"photo.jpg")) + " -filter Catrom -resize 800x600! -depth 8");
    EXPECT_GE(Compare(At(L"reference.png"), At(L"photo (800x600).jpg"), "PSNR"), 30.0);
}

// 5000 x 4000 (20 megapixels): more than the 32-bit converter's codec may
// hold at once, so it is decoded in bands, never at a lower level.
TEST_F(SizesTest, ALargeJpeg2000PictureComesOutWholeAndExact) {
    // OpenJPEG's own tool, lossless from a PPM (its PNG import applies the
    // file's gamma, which would change the pixels).
    MakePicture(At(L"source.ppm"), "-size 5000x4000 gradient:teal-yellow -depth 8");
    const ProcessResult made =
        Host("opj_compress -i " + Unix(At(L"source.ppm")) + " -o " + Unix(At(L"big.jp2")) + " >/dev/null");
    ASSERT_EQ(made.exitCode, 0u) << made.err;
    const ProcessResult run = Convert({At(L"big.jp2")}, "TOPNG");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Identify(At(L"big.png")), "PNG 5000x4000");
    EXPECT_EQ(Compare(At(L"source.ppm"), At(L"big.png"), "AE"), 0.0);
}

TEST_F(SizesTest, CraftedHeadersAreSkippedWithTheirReasonAndTheOthersConverted) {
    MakePicture(At(L"good.png"), "-size 64x48 gradient:red-blue -depth 8");
    // PCX: 4 planes of 16384 bytes a line and 65536 lines (4 GiB, an empty
    // buffer where 32 bits wrap) over 65 MiB of runs.
    Craft(At(L"wrap.pcx"),
          "import struct,sys\n"
          "h=bytearray(128); h[0:4]=bytes([10,5,1,8]); struct.pack_into('<4H',h,4,0,0,1023,65535)\n"
          "h[65]=4; struct.pack_into('<H',h,66,16384)\n"
          "open(sys.argv[1],'wb').write(bytes(h)+bytes([255,0])*(68174085//2+1))");
    // Photoshop: 8000 x 8000 RGB whose PackBits rows are 2 bytes each.
    Craft(At(L"rows.psd"),
          "import struct,sys\n"
          "d=b'8BPS'+struct.pack('>H',1)+bytes(6)+struct.pack('>HIIHH',3,8000,8000,8,3)+bytes(12)\n"
          "d+=struct.pack('>H',1)+struct.pack('>H',2)*24000+bytes([255,0])*24000\n"
          "open(sys.argv[1],'wb').write(d)");
    // PNG whose 3 MiB eXIf has 1024 entries each naming the whole block.
    Craft(At(L"exif.png"),
          "import struct,sys,zlib\n"
          "n=1024; size=3<<20\n"
          "b=bytearray(b'II*\\x00'+struct.pack('<IH',8,n))\n"
          "for i in range(n): b+=struct.pack('<HHII',0x9000+i,7,size-8,8)\n"
          "b+=bytes(size-len(b))\n"
          "c=lambda t,d: struct.pack('>I',len(d))+t+d+struct.pack('>I',zlib.crc32(t+d))\n"
          "png=b'\\x89PNG\\r\\n\\x1a\\n'+c(b'IHDR',struct.pack('>IIBBBBB',2,2,8,2,0,0,0))\n"
          "png+=c(b'eXIf',bytes(b))+c(b'IDAT',zlib.compress(bytes(14)))+c(b'IEND',b'')\n"
          "open(sys.argv[1],'wb').write(png)");
    const ProcessResult run = Convert({At(L"wrap.pcx"), At(L"rows.psd"), At(L"exif.png"), At(L"good.png")}, "TOBMP");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1u) << run.err;
    EXPECT_NE(run.err.find("2 Dateien wurden umgewandelt."), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("2 Dateien wurden übersprungen"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("wrap.pcx: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("rows.psd: "), std::string::npos) << run.err;
    EXPECT_EQ(Identify(At(L"good.bmp")), "BMP3 64x48");
    EXPECT_EQ(Identify(At(L"exif.bmp")), "BMP3 2x2");
    EXPECT_FALSE(FileExists(At(L"wrap.bmp")));
    EXPECT_FALSE(FileExists(At(L"rows.bmp")));
}

}  // namespace
