#include "converter/writers/Jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jpeglib.h>

namespace Jpeg {

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back into the stage that called it. Warnings are not
// printed. The file's bytes go to the sink a buffer at a time.
struct RowWriter::Session {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    jpeg_destination_mgr destination;
    std::jmp_buf jump;
    bool created = false;
    bool failed = false;
    ByteSink sink;
    std::vector<JOCTET> buffer;

    Session() {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&errors, 0, sizeof errors);
        std::memset(&destination, 0, sizeof destination);
    }
    ~Session() {
        if (created) jpeg_destroy_compress(&cinfo);
    }
};

namespace {

constexpr size_t BufferBytes = size_t{1} << 16;

RowWriter::Session& Of(j_compress_ptr cinfo) { return *static_cast<RowWriter::Session*>(cinfo->client_data); }

void OnError(j_common_ptr cinfo) {
    std::longjmp(static_cast<RowWriter::Session*>(cinfo->client_data)->jump, 1);
}
void OnOutput(j_common_ptr) {}

void InitDestination(j_compress_ptr cinfo) {
    RowWriter::Session& s = Of(cinfo);
    s.destination.next_output_byte = s.buffer.data();
    s.destination.free_in_buffer = s.buffer.size();
}

boolean EmptyBuffer(j_compress_ptr cinfo) {
    RowWriter::Session& s = Of(cinfo);
    // libjpeg asks for the whole buffer to be taken, whatever is left in it.
    if (!s.sink(s.buffer.data(), s.buffer.size())) {
        s.failed = true;
        std::longjmp(s.jump, 1);
    }
    InitDestination(cinfo);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    RowWriter::Session& s = Of(cinfo);
    const size_t used = s.buffer.size() - s.destination.free_in_buffer;
    if (used && !s.sink(s.buffer.data(), used)) {
        s.failed = true;
        std::longjmp(s.jump, 1);
    }
}

// The stages below call into libjpeg, which may jump back to their setjmp:
// they hold nothing that needs destroying, so the jump skips no destructor.

bool Begin(RowWriter::Session& session, uint32_t width, uint32_t height, int quality) {
    if (setjmp(session.jump)) return false;
    jpeg_compress_struct& cinfo = session.cinfo;
    cinfo.err = jpeg_std_error(&session.errors);
    session.errors.error_exit = OnError;
    session.errors.output_message = OnOutput;
    cinfo.client_data = &session;
    session.created = true;
    jpeg_create_compress(&cinfo);
    cinfo.client_data = &session;
    session.destination.init_destination = InitDestination;
    session.destination.empty_output_buffer = EmptyBuffer;
    session.destination.term_destination = TermDestination;
    cinfo.dest = &session.destination;

    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRA;
    jpeg_set_defaults(&cinfo);  // YCbCr, 4:2:0, JFIF header
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = uint64_t{width} * height <= OptimisedPixels ? TRUE : FALSE;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&cinfo, TRUE);
    return true;
}

bool WriteRow(RowWriter::Session& session, const uint8_t* bgra) {
    if (setjmp(session.jump)) return false;
    JSAMPROW row = const_cast<uint8_t*>(bgra);
    jpeg_write_scanlines(&session.cinfo, &row, 1);
    return true;
}

bool End(RowWriter::Session& session) {
    if (setjmp(session.jump)) return false;
    jpeg_finish_compress(&session.cinfo);
    return true;
}

}  // namespace

uint64_t EncoderBytes(uint32_t width, uint32_t height) {
    // Row buffers for a band of 16 rows in three planes and the tables; the
    // coefficients of the whole picture when its tables are optimised.
    uint64_t bytes = (uint64_t{2} << 20) + uint64_t{width} * 16 * 8;
    if (uint64_t{width} * height <= OptimisedPixels) bytes += uint64_t{width} * height * 3 + (uint64_t{1} << 20);
    return bytes;
}

RowWriter::RowWriter() = default;
RowWriter::~RowWriter() = default;

bool RowWriter::Start(uint32_t width, uint32_t height, int quality, ByteSink sink) {
    if (width == 0 || height == 0 || width > MaxSide || height > MaxSide) return false;
    try {
        session_.reset(new Session());
        session_->sink = std::move(sink);
        session_->buffer.resize(BufferBytes);
        if (Begin(*session_, width, height, std::clamp(quality, 1, 100))) return true;
    } catch (const std::bad_alloc&) {
    }
    session_.reset();
    return false;
}

bool RowWriter::Row(const uint8_t* bgra) {
    if (!session_) return false;
    if (WriteRow(*session_, bgra)) return true;
    session_.reset();
    return false;
}

bool RowWriter::Finish() {
    if (!session_) return false;
    const bool ok = End(*session_);
    session_.reset();
    return ok;
}

std::vector<uint8_t> Write(const Image& image, int quality) {
    if (!image.Valid() || image.width > MaxSide || image.height > MaxSide) return {};
    try {
        std::vector<uint8_t> out;
        RowWriter writer;
        if (!writer.Start(image.width, image.height, quality, Appending(out))) return {};
        for (uint32_t y = 0; y < image.height; ++y)
            if (!writer.Row(image.Row(y))) return {};
        if (!writer.Finish()) return {};
        return out;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace Jpeg
