#include "converter/readers/Jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <climits>
#include <functional>
#include <new>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "converter/base/Pixels.h"
#include "converter/base/CheckedSize.h"
#include "converter/metadata/ColourProfile.h"
#include "converter/metadata/Exif.h"
#include "converter/metadata/ExifOrientation.h"

namespace Jpeg {

namespace {

// A progressive file may hold any number of scans, each a pass over all
// coefficients: a small hostile file could keep a worker busy for minutes.
// Real encoders write about ten; libjpeg-turbo's own tools refuse above 500.
constexpr int MaxScans = 500;

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back into the stage that made the call. Warnings are
// collected instead of printed.
struct Session {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    int failure = 0;         // the message code of the fatal error
    bool ended = false;        // the data ran out: a missing end marker at least
    bool dataMissing = false;  // a scan needed more data than there was
    bool tooManyScans = false;
    bool created = false;
    JOCTET* icc = nullptr;  // the reassembled profile, malloc'ed by libjpeg
    unsigned int iccSize = 0;
    // The streamed path's source: the file's bytes a buffer at a time.
    jpeg_source_mgr source;
    std::function<size_t(uint8_t*, size_t)> fill;
    std::vector<JOCTET> input;

    Session() {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&errors, 0, sizeof errors);
        std::memset(&progress, 0, sizeof progress);
        std::memset(&source, 0, sizeof source);
    }
    ~Session() {
        std::free(icc);
        if (created) jpeg_destroy_decompress(&cinfo);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

Session& Of(j_common_ptr cinfo) { return *static_cast<Session*>(cinfo->client_data); }

void OnError(j_common_ptr cinfo) {
    Session& session = Of(cinfo);
    session.failure = cinfo->err->msg_code;
    std::longjmp(session.jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    if (cinfo->err->msg_code == JWRN_JPEG_EOF) Of(cinfo).ended = true;
    if (cinfo->err->msg_code == JWRN_HIT_MARKER) Of(cinfo).dataMissing = true;
}

// Cut short: a scan ran out of data (its missing blocks are mid-grey), or a
// progressive file ended before its last scan could say it was the last.
// A file that lacks only its end marker after complete sequential data is
// whole.
bool EndedEarly(const Session& session) {
    return session.ended && (session.dataMissing || session.cinfo.progressive_mode);
}

void OnOutput(j_common_ptr) {}

void OnProgress(j_common_ptr cinfo) {
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decompress->input_scan_number > MaxScans) {
        Of(cinfo).tooManyScans = true;
        std::longjmp(Of(cinfo).jump, 1);
    }
}

// The streamed path's source manager, as libjpeg's own file source does it:
// a file that ends early gets an end marker and a warning (JWRN_JPEG_EOF).
void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
    Session& session = Of(reinterpret_cast<j_common_ptr>(cinfo));
    static const JOCTET kEnd[2] = {0xFF, JPEG_EOI};
    size_t got = session.fill(session.input.data(), session.input.size());
    if (got == 0) {
        WARNMS(cinfo, JWRN_JPEG_EOF);
        session.input[0] = kEnd[0];
        session.input[1] = kEnd[1];
        got = 2;
    }
    session.source.next_input_byte = session.input.data();
    session.source.bytes_in_buffer = got;
    return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr& source = *cinfo->src;
    while (count > static_cast<long>(source.bytes_in_buffer)) {
        count -= static_cast<long>(source.bytes_in_buffer);
        FillInput(cinfo);
    }
    if (count > 0) {
        source.next_input_byte += count;
        source.bytes_in_buffer -= static_cast<size_t>(count);
    }
}

void TermSource(j_decompress_ptr) {}

// The stages below call into libjpeg, which may jump back to their setjmp:
// they hold nothing that needs destroying, so the jump skips no destructor.

bool ReadHeader(Session& session, const uint8_t* data, size_t size) {
    if (setjmp(session.jump)) return false;
    jpeg_decompress_struct& cinfo = session.cinfo;
    cinfo.err = jpeg_std_error(&session.errors);
    session.errors.error_exit = OnError;
    session.errors.emit_message = OnMessage;
    session.errors.output_message = OnOutput;
    cinfo.client_data = &session;
    session.created = true;  // destroying a half-made decompressor is safe
    jpeg_create_decompress(&cinfo);
    cinfo.client_data = &session;  // cleared by the creation
    session.progress.progress_monitor = OnProgress;
    cinfo.progress = &session.progress;
    if (data) {
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    } else {
        session.source.init_source = InitSource;
        session.source.fill_input_buffer = FillInput;
        session.source.skip_input_data = SkipInput;
        session.source.resync_to_restart = jpeg_resync_to_restart;
        session.source.term_source = TermSource;
        cinfo.src = &session.source;
    }
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    if (!jpeg_read_icc_profile(&cinfo, &session.icc, &session.iccSize)) {
        session.icc = nullptr;
        session.iccSize = 0;
    }
    return true;
}

bool Prepare(Session& session, unsigned reduction) {
    if (setjmp(session.jump)) return false;
    jpeg_decompress_struct& cinfo = session.cinfo;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    cinfo.scale_num = 1;
    cinfo.scale_denom = reduction;
    jpeg_calc_output_dimensions(&cinfo);
    return true;
}

// What libjpeg holds beside the picture: for a progressive (or otherwise
// many-scan) file every component's coefficients, 64 of 2 bytes a block,
// padded to whole MCUs; its row buffers, generously; its tables. Known
// after the header, before anything large is taken. Unbounded: UINT64_MAX.
uint64_t DecoderBytes(jpeg_decompress_struct& cinfo) {
    size_t bytes = size_t{4} << 20;
    if (!CheckedSize::MulAdd(cinfo.image_width, 256u * static_cast<unsigned>(cinfo.num_components), bytes, bytes))
        return UINT64_MAX;
    if (!jpeg_has_multiple_scans(&cinfo)) return bytes;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& component = cinfo.comp_info[c];
        const uint64_t h = component.h_samp_factor > 0 ? component.h_samp_factor : 1;
        const uint64_t v = component.v_samp_factor > 0 ? component.v_samp_factor : 1;
        const uint64_t across = (component.width_in_blocks + h - 1) / h * h;
        const uint64_t down = (component.height_in_blocks + v - 1) / v * v;
        size_t blocks = 0;
        if (!CheckedSize::Mul(across, down, blocks) || !CheckedSize::MulAdd(blocks, 128, bytes, bytes))
            return UINT64_MAX;
    }
    return bytes;
}

bool Decompress(Session& session, uint8_t* pixels, size_t stride) {
    if (setjmp(session.jump)) return false;
    jpeg_decompress_struct& cinfo = session.cinfo;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels + cinfo.output_scanline * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    // The rest of the file (trailing markers, garbage) is of no interest.
    jpeg_abort_decompress(&cinfo);
    return true;
}

bool Start(Session& session) {
    if (setjmp(session.jump)) return false;
    jpeg_start_decompress(&session.cinfo);
    return true;
}

bool ReadRow(Session& session, uint8_t* row) {
    if (setjmp(session.jump)) return false;
    JSAMPROW rows = row;
    return jpeg_read_scanlines(&session.cinfo, &rows, 1) == 1;
}

ReadResult Failure(const Session& session) {
    if (session.failure == JERR_OUT_OF_MEMORY) return {ReadStatus::OutOfMemory};
    if (session.failure == JERR_BAD_PRECISION || session.failure == JERR_NOT_COMPILED)
        return {ReadStatus::Unsupported};
    return {ReadStatus::Damaged};
}

bool StartsWith(const jpeg_saved_marker_ptr marker, const char* prefix, size_t length) {
    return marker->data_length >= length && std::memcmp(marker->data, prefix, length) == 0;
}

void TakeMetadata(const Session& session, Decoded& out) {
    const jpeg_decompress_struct& cinfo = session.cinfo;
    static const char kExif[] = "Exif\0";           // and one more zero
    static const char kXmp[] = "http://ns.adobe.com/xap/1.0/";  // and its zero
    for (jpeg_saved_marker_ptr marker = cinfo.marker_list; marker; marker = marker->next) {
        if (marker->marker != JPEG_APP0 + 1) continue;
        if (out.metadata.exif.empty() && StartsWith(marker, kExif, 6)) {
            out.metadata.exif.assign(marker->data + 6, marker->data + marker->data_length);
        } else if (out.metadata.xmp.empty() && StartsWith(marker, kXmp, sizeof kXmp)) {
            out.metadata.xmp.assign(marker->data + sizeof kXmp, marker->data + marker->data_length);
        }
    }
    if (session.icc) out.metadata.icc.assign(session.icc, session.icc + session.iccSize);
    if (!out.metadata.exif.empty())
        out.orientation = ExifOrientation::FromTiff(out.metadata.exif.data(), out.metadata.exif.size());
    // Units 0 give only the aspect of a pixel, no resolution.
    if (cinfo.saw_JFIF_marker && cinfo.X_density > 0 && cinfo.Y_density > 0) {
        const double perInch = cinfo.density_unit == 1 ? 1.0 : cinfo.density_unit == 2 ? 2.54 : 0.0;
        out.metadata.dpiX = cinfo.X_density * perInch;
        out.metadata.dpiY = cinfo.Y_density * perInch;
    }
    // Without a resolution in JFIF, the Exif block's (cameras write it there).
    if (out.metadata.dpiX == 0 && !out.metadata.exif.empty())
        Exif::Resolution(out.metadata.exif, out.metadata.dpiX, out.metadata.dpiY);
}

}  // namespace

unsigned Reduction(PixelSize stored, int orientation, const ReadRequest& request) {
    if (request.box.width == 0 || request.box.height == 0 || stored.width == 0 || stored.height == 0) return 1;
    const PixelSize upright =
        Pixels::TurnsSideways(orientation) ? PixelSize{stored.height, stored.width} : stored;
    const PixelSize fit = Geometry::FitInside(upright, request.box, request.enlarge);
    for (unsigned reduction : {8u, 4u, 2u}) {
        const uint32_t width = (upright.width + reduction - 1) / reduction;
        const uint32_t height = (upright.height + reduction - 1) / reduction;
        if (width >= fit.width && height >= fit.height) return reduction;
    }
    return 1;
}

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    if (size < 3 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF) return {ReadStatus::NotThisFormat};
    if (size > 0xFFFFFFFFu) return {ReadStatus::TooLarge};  // libjpeg counts bytes in an unsigned long
    try {
        Session session;
        if (!ReadHeader(session, data, size)) return Failure(session);
        jpeg_decompress_struct& cinfo = session.cinfo;
        if (cinfo.image_width == 0 || cinfo.image_height == 0) return {ReadStatus::Damaged};

        out = Decoded();
        TakeMetadata(session, out);
        const unsigned reduction =
            Reduction({cinfo.image_width, cinfo.image_height}, out.orientation, request);
        if (!Prepare(session, reduction)) return Failure(session);
        // The limit is on what is held: a picture reduced while decoding
        // counts at its reduced size.
        if (uint64_t{cinfo.output_width} * cinfo.output_height > request.maxPixels) {
            out = Decoded();
            return {ReadStatus::TooLarge};
        }

        // Asked before libjpeg or the picture takes anything large; what
        // was asked caps libjpeg's own memory, which then fails instead of
        // taking more.
        const uint64_t decoderBytes = DecoderBytes(cinfo);
        size_t pictureBytes = 0;
        if (decoderBytes == UINT64_MAX ||
            !CheckedSize::Product({cinfo.output_width, cinfo.output_height, 4}, pictureBytes))
            return {ReadStatus::TooLarge};
        if (!request.Admits(cinfo.output_width, cinfo.output_height, decoderBytes)) return {ReadStatus::OutOfMemory};
        cinfo.mem->max_memory_to_use = static_cast<long>(std::min<uint64_t>(decoderBytes, LONG_MAX));

        Image& image = out.image;
        image.width = cinfo.output_width;
        image.height = cinfo.output_height;
        image.bgra.resize(pictureBytes);
        if (!Decompress(session, image.bgra.data(), image.Stride())) {
            out = Decoded();
            if (session.failure == JERR_NO_BACKING_STORE) return {ReadStatus::OutOfMemory};
            return session.tooManyScans ? ReadResult{ReadStatus::Damaged} : Failure(session);
        }
        // Reduced while decoding: the result is fitted from the stored size,
        // so that it ends exactly where the full picture's fit would.
        if (reduction > 1) out.full = {cinfo.image_width, cinfo.image_height};
        // A file cut short is converted as libjpeg's own tools show it: what
        // is there, the missing blocks mid-grey, and the summary says so.
        const wchar_t* remark = EndedEarly(session) ? CutShort : nullptr;
        if (cinfo.out_color_space == JCS_CMYK) {
            // Through the file's own profile when it has a CMYK one: the
            // pixels are sRGB then, and the profile has said what it had to.
            // Adobe's writers (the APP14 marker) store the inks inverted, as
            // most CMYK JPEGs in the wild are.
            const ColourProfile::CmykToSrgb inks(out.metadata.icc, cinfo.saw_Adobe_marker);
            if (!inks.Ok()) {
                out = Decoded();
                return {ReadStatus::OutOfMemory};
            }
            inks.ConvertInPlace(image);
            out.metadata.icc.clear();  // whatever it was, it described the inks
        }
        return {ReadStatus::Ok, remark};
    } catch (const std::bad_alloc&) {
        out = Decoded();
        return {ReadStatus::OutOfMemory};
    }
}

struct RowReader::State {
    Session session;
};

RowReader::RowReader() = default;
RowReader::~RowReader() = default;

ReadResult RowReader::Open(std::function<size_t(uint8_t*, size_t)> fill, const ReadRequest& request,
                           Decoded& out) {
    try {
        state_.reset(new State());
        Session& session = state_->session;
        session.fill = std::move(fill);
        session.input.resize(size_t{1} << 16);
        uint8_t magic[3] = {};
        // The first bytes decide, as for the whole file; they are then read again.
        if (session.fill(magic, 3) != 3 || magic[0] != 0xFF || magic[1] != 0xD8 || magic[2] != 0xFF) {
            state_.reset();
            return {ReadStatus::NotThisFormat};
        }
        std::memcpy(session.input.data(), magic, 3);
        session.source.next_input_byte = session.input.data();
        session.source.bytes_in_buffer = 3;
        // ReadHeader sets up the source without touching what is buffered.
        if (!ReadHeader(session, nullptr, 0)) return Fail(Failure(session));
        jpeg_decompress_struct& cinfo = session.cinfo;
        if (cinfo.image_width == 0 || cinfo.image_height == 0) return Fail({ReadStatus::Damaged});
        out = Decoded();
        TakeMetadata(session, out);
        const unsigned reduction = Reduction({cinfo.image_width, cinfo.image_height}, out.orientation, request);
        if (!Prepare(session, reduction)) return Fail(Failure(session));
        if (reduction > 1) out.full = {cinfo.image_width, cinfo.image_height};
        decoderBytes_ = Jpeg::DecoderBytes(cinfo);
        if (decoderBytes_ == UINT64_MAX) return Fail({ReadStatus::TooLarge});
        size_ = {cinfo.output_width, cinfo.output_height};
        cmyk_ = cinfo.out_color_space == JCS_CMYK;
        grey_ = cinfo.num_components == 1;
        return {ReadStatus::Ok};
    } catch (const std::bad_alloc&) {
        return Fail({ReadStatus::OutOfMemory});
    }
}

ReadResult RowReader::Fail(ReadResult result) {
    state_.reset();
    return result;
}

bool RowReader::Begin() {
    if (!state_) return false;
    Session& session = state_->session;
    session.cinfo.mem->max_memory_to_use = static_cast<long>(std::min<uint64_t>(decoderBytes_, LONG_MAX));
    if (Start(session)) return true;
    state_.reset();
    return false;
}

bool RowReader::Row(uint8_t* bgra) {
    if (!state_) return false;
    Session& session = state_->session;
    if (session.cinfo.output_scanline >= session.cinfo.output_height || !ReadRow(session, bgra)) {
        state_.reset();
        return false;
    }
    return true;
}

bool RowReader::Truncated() const { return state_ && EndedEarly(state_->session); }

}  // namespace Jpeg
