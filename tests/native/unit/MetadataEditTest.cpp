// The metadata editors on files the host's ImageMagick and exiftool make,
// judged by exiftool: what the end-to-end test through the converter cannot
// reach (a big-endian TIFF to write into; directories that loop).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "converter/metadata/JpegMarkers.h"
#include "converter/metadata/SourceMetadata.h"
#include "converter/metadata/TiffIfd.h"
#include "converter/metadata/TiffTags.h"
#include "model/HostTools.h"

namespace {

using HostTools::Output;
using HostTools::TempFile;

std::vector<uint8_t> Made(const std::string& command, const std::string& suffix) {
    const std::string path = "/tmp/quennel-metadata-" + std::to_string(getpid()) + suffix;
    const int rc = std::system((command + " " + path + " >/dev/null 2>&1").c_str());
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    return rc == 0 ? bytes : std::vector<uint8_t>();
}

std::string Tags(const std::vector<uint8_t>& file, const std::string& suffix, const std::string& tags) {
    TempFile temp(file, suffix);
    const auto out = Output("exiftool -m -f -n -p '" + tags + "' " + temp.Path());
    return out ? std::string(out->begin(), out->end()) : std::string("(exiftool failed)");
}

}  // namespace

TEST(MetadataEdit, ExifOfALittleEndianJpegGoesIntoABigEndianTiff) {
    ASSERT_TRUE(HostTools::Have("exiftool") && HostTools::Have("convert")) << "exiftool and ImageMagick are needed";
    // exiftool writes a new Exif block big-endian: make it little-endian.
    const std::vector<uint8_t> jpeg =
        Made("convert -size 12x8 xc:'#336699' -density 150 -units PixelsPerInch", ".jpg");
    ASSERT_FALSE(jpeg.empty());
    TempFile source(jpeg, ".jpg");
    ASSERT_EQ(std::system(("exiftool -q -overwrite_original '-ExifByteOrder#=II' -Make=Quennelcam "
                           "'-DateTimeOriginal=2024:05:17 14:33:09' -GPSLatitude=52.5 -GPSLatitudeRef=N "
                           "-Orientation#=8 -XMP-dc:Title=Tor " + source.Path())
                              .c_str()),
              0);
    std::ifstream in(source.Path(), std::ios::binary);
    const std::vector<uint8_t> tagged((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Metadata read;
    SourceMetadata::FromFile(tagged.data(), tagged.size(), read);
    ASSERT_GE(read.exif.size(), 8u);
    ASSERT_EQ(read.exif[0], 'I') << "the block to move is little-endian";
    EXPECT_NEAR(read.dpiX, 150, 0.01);

    const std::vector<uint8_t> tiff =
        Made("convert -size 12x8 xc:'#336699' -define tiff:endian=msb -compress none -depth 8", ".tif");
    ASSERT_GE(tiff.size(), 2u);
    ASSERT_EQ(tiff[0], 'M') << "the TIFF to write into is big-endian";
    const Metadata kept = SourceMetadata::ForResult(read, 8, 12, 8);  // turned upright from 8
    const std::vector<uint8_t> result = TiffTags::Embed(tiff, kept);
    ASSERT_FALSE(result.empty());
    EXPECT_EQ(Tags(result, ".tif",
                   "${Make}|${DateTimeOriginal}|${GPSLatitude}|${Orientation}|${XResolution}|${XMP-dc:Title}"),
              "Quennelcam|2024:05:17 14:33:09|52.5|1|150|Tor\n");
    // The pixels are where they were.
    TempFile written(result, ".tif"), original(tiff, ".tif");
    std::string differing;  // compare's figure goes to standard error
    EXPECT_TRUE(Output("compare -metric AE " + written.Path() + " " + original.Path() + " null:", &differing));
    EXPECT_EQ(differing, "0");
}

TEST(MetadataEdit, DirectoriesThatLoopOrPointOutsideAreReadOnce) {
    // A first directory whose Exif pointer names the first directory itself,
    // and whose GPS pointer lies past the end; the link to the next names it too.
    const std::vector<uint8_t> looping = {'I', 'I', 42, 0, 8, 0, 0, 0,  // header
                                          3, 0,                          // three entries
                                          0x0F, 0x01, 2, 0, 2, 0, 0, 0, 'A', 0, 0, 0,      // Make "A"
                                          0x69, 0x87, 4, 0, 1, 0, 0, 0, 8, 0, 0, 0,        // Exif: itself
                                          0x25, 0x88, 4, 0, 1, 0, 0, 0, 0xF0, 0, 0, 0,     // GPS: outside
                                          8, 0, 0, 0};                                     // next: itself
    TiffIfd::Structure tiff;
    ASSERT_TRUE(TiffIfd::Read(looping.data(), looping.size(), tiff));
    ASSERT_EQ(tiff.first.size(), 1u) << "the pointers to nothing readable are left out";
    EXPECT_EQ(tiff.first[0].tag, 0x010F);
    Metadata read;
    SourceMetadata::FromFile(looping.data(), looping.size(), read);
    const std::vector<uint8_t> block = SourceMetadata::ForResult(read, 1, 1).exif;
    ASSERT_TRUE(TiffIfd::Read(block.data(), block.size(), tiff));
    EXPECT_EQ(tiff.first.size(), 1u);
}
