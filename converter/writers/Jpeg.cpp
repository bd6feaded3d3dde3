#include "converter/writers/Jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jpeglib.h>

namespace Jpeg {

namespace {

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

// Calls into libjpeg, which may jump back to the setjmp: it holds nothing
// that needs destroying, so the jump skips no destructor.
bool Compress(Session& session, const Image& image, int quality) {
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
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(image.Row(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> Write(const Image& image, int quality) {
    if (!image.Valid() || image.width > MaxSide || image.height > MaxSide) return {};
    try {
        Session session;
        if (!Compress(session, image, std::clamp(quality, 1, 100))) return {};
        return std::vector<uint8_t>(session.buffer, session.buffer + session.bufferSize);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace Jpeg
