#include "converter/writers/Jpeg.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jpeglib.h>

namespace Jpeg {

namespace {

// The longest payload one marker segment holds: 65535 less its length field.
constexpr size_t MaxMarkerBytes = 65533;

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back into Compress. Warnings are not printed.
struct Session {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    std::jmp_buf jump;
    bool created = false;
    unsigned char* buffer = nullptr;  // the file, malloc'ed by libjpeg's memory destination
    unsigned long bufferSize = 0;

    Session() {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&errors, 0, sizeof errors);
    }
    ~Session() {
        if (created) jpeg_destroy_compress(&cinfo);
        std::free(buffer);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

void OnError(j_common_ptr cinfo) { std::longjmp(static_cast<Session*>(cinfo->client_data)->jump, 1); }
void OnOutput(j_common_ptr) {}

// One APP marker's payload: its signature, then the block.
struct Block {
    const char* signature;  // with its terminating zero
    size_t signatureSize;
    const std::vector<uint8_t>* bytes;
};

// Calls into libjpeg, which may jump back to the setjmp: it holds nothing
// that needs destroying, so the jump skips no destructor. The markers are
// written in this order after the JFIF header: Exif, XMP, then the profile.
bool Compress(Session& session, const Image& image, int quality, const Metadata* metadata,
              const Block* blocks, size_t blockCount) {
    if (setjmp(session.jump)) return false;
    jpeg_compress_struct& cinfo = session.cinfo;
    cinfo.err = jpeg_std_error(&session.errors);
    session.errors.error_exit = OnError;
    session.errors.output_message = OnOutput;
    cinfo.client_data = &session;
    session.created = true;
    jpeg_create_compress(&cinfo);
    cinfo.client_data = &session;
    jpeg_mem_dest(&cinfo, &session.buffer, &session.bufferSize);

    cinfo.image_width = image.width;
    cinfo.image_height = image.height;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRA;
    jpeg_set_defaults(&cinfo);  // YCbCr, 4:2:0, JFIF header
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = TRUE;
    cinfo.dct_method = JDCT_ISLOW;
    if (metadata && metadata->dpiX > 0 && metadata->dpiY > 0) {
        const double x = std::round(metadata->dpiX), y = std::round(metadata->dpiY);
        if (x >= 1 && y >= 1 && x <= 65535 && y <= 65535) {
            cinfo.density_unit = 1;  // dots an inch
            cinfo.X_density = static_cast<UINT16>(x);
            cinfo.Y_density = static_cast<UINT16>(y);
        }
    }
    jpeg_start_compress(&cinfo, TRUE);
    for (size_t i = 0; i < blockCount; ++i) {
        const Block& block = blocks[i];
        // libjpeg writes one marker's bytes as they come: signature, then block.
        jpeg_write_m_header(&cinfo, JPEG_APP0 + 1, static_cast<unsigned>(block.signatureSize + block.bytes->size()));
        for (size_t k = 0; k < block.signatureSize; ++k) jpeg_write_m_byte(&cinfo, block.signature[k]);
        for (uint8_t byte : *block.bytes) jpeg_write_m_byte(&cinfo, byte);
    }
    if (metadata && !metadata->icc.empty() && metadata->icc.size() <= 0xFFFFFFFFu)
        jpeg_write_icc_profile(&cinfo, metadata->icc.data(), static_cast<unsigned>(metadata->icc.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(image.Row(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> Write(const Image& image, int quality, const Metadata* metadata) {
    if (!image.Valid() || image.width > MaxSide || image.height > MaxSide) return {};
    static const char kExif[] = "Exif\0";  // and one more zero
    static const char kXmp[] = "http://ns.adobe.com/xap/1.0/";  // and its zero
    Block blocks[2];
    size_t blockCount = 0;
    if (metadata) {
        if (!metadata->exif.empty() && metadata->exif.size() + sizeof kExif <= MaxMarkerBytes)
            blocks[blockCount++] = {kExif, sizeof kExif, &metadata->exif};
        if (!metadata->xmp.empty() && metadata->xmp.size() + sizeof kXmp <= MaxMarkerBytes)
            blocks[blockCount++] = {kXmp, sizeof kXmp, &metadata->xmp};
    }
    try {
        Session session;
        if (!Compress(session, image, std::clamp(quality, 1, 100), metadata, blocks, blockCount)) return {};
        return std::vector<uint8_t>(session.buffer, session.buffer + session.bufferSize);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace Jpeg
