#include "converter/pipeline/Streaming.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <new>
#include <string_view>

#include "converter/base/CheckedSize.h"
#include "converter/base/LongPaths.h"
#include "converter/base/Resampling.h"
#include "converter/base/Texts.h"
#include "converter/metadata/IccProfile.h"
#include "converter/metadata/JpegMarkers.h"
#include "converter/metadata/PngChunks.h"
#include "converter/metadata/SourceMetadata.h"
#include "converter/metadata/TiffTags.h"
#include "converter/pipeline/Naming.h"
#include "converter/pipeline/Placement.h"
#include "converter/readers/Jpeg.h"
#include "converter/readers/Readers.h"
#include "converter/writers/ByteSink.h"
#include "converter/writers/Jpeg.h"
#include "converter/writers/Png.h"
#include "converter/writers/Tiff.h"

namespace Streaming {

namespace {

std::atomic<bool> g_enabled{true};

// The first bytes of a result are held back until the metadata is in its
// headers: more than any header our encoders write before the picture's data.
constexpr size_t HeadBytes = size_t{1} << 16;

struct File {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~File() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    size_t Read(uint8_t* buffer, size_t size) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(size < (DWORD{1} << 30) ? size : (DWORD{1} << 30));
        if (!ReadFile(handle, buffer, want, &got, nullptr)) return 0;
        return got;
    }
};

// A file whose last bytes are not JPEG's end marker was cut short (or has
// something after its picture): the whole-picture path decides on it, as it
// does on every damaged file, before anything is asked or written here.
bool EndsWithEndMarker(HANDLE file) {
    LARGE_INTEGER size = {}, back = {};
    uint8_t tail[2] = {};
    DWORD got = 0;
    back.QuadPart = -2;
    const bool ends = GetFileSizeEx(file, &size) && size.QuadPart >= 4 &&
                      SetFilePointerEx(file, back, nullptr, FILE_END) && ReadFile(file, tail, 2, &got, nullptr) &&
                      got == 2 && tail[0] == 0xFF && tail[1] == 0xD9;
    LARGE_INTEGER start = {};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && ends;
}

// The result's temporary file, appended to by the JPEG and PNG writers and
// gone back in by the TIFF writer; its first failure is kept for the reason.
class PendingFile : public RandomAccess {
public:
    explicit PendingFile(Placement::Pending& pending) : pending_(pending) {}

    size_t ReadAt(uint64_t at, uint8_t* into, size_t size) override {
        size_t got = 0;
        Keep(pending_.ReadAt(at, into, size, got));
        return got;
    }
    bool WriteAt(uint64_t at, const uint8_t* data, size_t size) override {
        return Keep(pending_.WriteAt(at, data, size));
    }
    uint64_t Size() override {
        uint64_t size = 0;
        Keep(pending_.Size(size));
        return size;
    }
    bool Truncate(uint64_t size) override { return Keep(pending_.Truncate(size)); }
    ByteSink Appending() {
        return [this](const uint8_t* data, size_t size) { return Keep(pending_.Write(data, size)); };
    }

    HRESULT failure = S_OK;

private:
    bool Keep(HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(failure)) failure = hr;
        return SUCCEEDED(hr) && SUCCEEDED(failure);
    }
    Placement::Pending& pending_;
};

enum class Kind { Jpeg, Png, Tiff };

// The encoder of the result as rows, its metadata put into its headers on
// the way (JPEG, PNG) or appended at the end (TIFF).
class Encoder {
public:
    Encoder(Kind kind, int quality, bool grey, const Metadata& kept, PendingFile& file)
        : kind_(kind), quality_(quality), grey_(grey), kept_(kept), file_(file) {}

    bool Start(PixelSize size) {
        if (kind_ == Kind::Tiff) {
            auto tiff = std::make_unique<Tiff::RowWriter>();
            const bool started = tiff->Start(size.width, size.height, false, file_);
            rows_ = std::move(tiff);
            return started;
        }
        head_ = std::make_unique<EditedHead>(file_.Appending(), HeadBytes, [this](const std::vector<uint8_t>& head) {
            return kind_ == Kind::Jpeg ? JpegMarkers::Embed(head, kept_) : PngChunks::Embed(head, kept_);
        });
        if (kind_ == Kind::Jpeg) {
            auto jpeg = std::make_unique<Jpeg::RowWriter>();
            const bool started = jpeg->Start(size.width, size.height, quality_, head_->Sink());
            rows_ = std::move(jpeg);
            return started;
        }
        auto png = std::make_unique<Png::RowWriter>();
        const Png::Options options;
        const bool started =
            png->Start(size.width, size.height, grey_ ? Png::RowLayout::Grey : Png::RowLayout::Rgb, options, head_->Sink());
        rows_ = std::move(png);
        return started;
    }
    bool Row(const uint8_t* bgra) { return rows_->Row(bgra); }
    bool Finish() {
        if (!rows_->Finish()) return false;
        return kind_ == Kind::Tiff ? TiffTags::EmbedInto(file_, kept_) : head_->Finish();
    }

private:
    Kind kind_;
    int quality_;
    bool grey_;
    const Metadata& kept_;
    PendingFile& file_;
    std::unique_ptr<EditedHead> head_;
    std::unique_ptr<RowSink> rows_;
};

}  // namespace

void Enable(bool on) { g_enabled = on; }

uint64_t Peak(PixelSize decoded, uint64_t decoderBytes, PixelSize result, std::string_view token) {
    const bool resize = !(decoded == result);
    const uint64_t resampler = resize ? Resampling::Rows::Bytes(decoded, result) : 0;
    const uint64_t encoder = token == "TOJPG"    ? Jpeg::EncoderBytes(result.width, result.height)
                             : token == "TOTIFF" ? Tiff::RowWriterBytes(result.width, result.height)
                                                 : Png::RowWriterBytes(result.width);
    size_t rows = 0, total = 0;
    // A decoded row and a result row; the held-back head and the sinks' buffers.
    const bool fits = resampler != UINT64_MAX && encoder != UINT64_MAX &&
                      CheckedSize::Product({decoded.width, 4}, rows) &&
                      CheckedSize::MulAdd(result.width, 4, rows, rows) &&
                      CheckedSize::Add(rows, decoderBytes, total) && CheckedSize::Add(total, resampler, total) &&
                      CheckedSize::Add(total, encoder, total) && CheckedSize::Add(total, 4 * HeadBytes, total);
    return fits ? total : UINT64_MAX;
}

bool Convert(const Job& job, const Sources::Source& source, const Pipeline::Admit& admit,
             Pipeline::Outcome& outcome) {
    if (!g_enabled) return false;
    const FormatInfo* format = job.format ? job.format : Formats::ByToken("TOJPG");
    if (!format || !format->encode) return false;
    const bool jpegResult = format->token == "TOJPG";
    const Kind kind = jpegResult ? Kind::Jpeg : format->token == "TOTIFF" ? Kind::Tiff : Kind::Png;
    const bool formatStreams = jpegResult || format->token == "TOPNG" || kind == Kind::Tiff;

    File file;
    file.handle = CreateFileW(LongPaths::ForApi(source.path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file.handle == INVALID_HANDLE_VALUE || !EndsWithEndMarker(file.handle)) return false;

    ReadRequest request;
    request.maxPixels = UINT64_MAX;  // what is held decides here, not the source's size
    request.box = job.box;
    request.enlarge = job.enlarge;
    Jpeg::RowReader reader;
    Decoded decoded;
    const ReadResult opened =
        reader.Open([&file](uint8_t* buffer, size_t size) { return file.Read(buffer, size); }, request, decoded);
    if (!opened.Ok()) return false;
    if (reader.Cmyk() && uint64_t{reader.Size().width} * reader.Size().height <= Readers::MaxPixels) return false;
    if (reader.Cmyk()) {
        outcome = Pipeline::Failed(L"Das CMYK-Bild ist zu gro\u00df, um seine Farben umzurechnen: dazu m\u00fcsste es ganz im Speicher liegen.");
        return true;
    }
    DropOversizedBlocks(decoded.metadata);
    const PixelSize size = reader.Size();
    // Turning needs the whole picture; so does a profile the result cannot
    // carry (its pixels are converted), or a grey one; and a writer that
    // takes the picture whole. Such a picture larger than the whole-picture
    // path holds is skipped here with the reason why.
    Metadata& metadata = decoded.metadata;
    const wchar_t* whole = nullptr;
    if (decoded.orientation != 1 && decoded.orientation >= 2 && decoded.orientation <= 8)
        whole = L"Das Bild ist zu gro\u00df, um es aufzurichten: dazu m\u00fcsste es ganz im Speicher liegen.";
    else if (!formatStreams)
        whole = L"Das Bild ist zu gro\u00df f\u00fcr dieses Format: es m\u00fcsste dazu ganz im Speicher liegen.";
    else if (!metadata.icc.empty() && (!Formats::KeepsProfile(*format, metadata.icc) || reader.Grey() ||
                                       IccProfile::SpaceOf(metadata.icc) != IccProfile::Space::Rgb))
        whole = L"Das Bild ist zu gro\u00df, um seine Farben umzurechnen: dazu m\u00fcsste es ganz im Speicher liegen.";
    if (whole) {
        if (uint64_t{size.width} * size.height <= Readers::MaxPixels) return false;
        outcome = Pipeline::Failed(whole);
        return true;
    }
    PixelSize result = size;
    if (job.box.width != 0 && job.box.height != 0) {
        const PixelSize full = decoded.full.width != 0 ? decoded.full : size;
        result = Geometry::FitInside(full, job.box, job.enlarge);
    }
    if (result.width == 0 || result.height == 0) return false;
    if (jpegResult && (result.width > Jpeg::MaxSide || result.height > Jpeg::MaxSide)) return false;
    // A smaller PNG is written whole (a palette when it has few colours,
    // libdeflate): streamed only when the whole-picture path cannot hold it.
    const bool held = uint64_t{size.width} * size.height <= Readers::MaxPixels;
    if (kind == Kind::Png && uint64_t{result.width} * result.height <= Png::RowPixels && held) return false;

    // From here on the streamed path answers for the picture.
    const uint64_t peak = Peak(size, reader.DecoderBytes(), result, format->token);
    if (peak == UINT64_MAX || (admit && !admit(size, peak))) {
        outcome = Pipeline::Failed(Texts::ReasonForError(ERROR_OUTOFMEMORY));
        return true;
    }

    Placement::Target target;
    target.folder = job.folder.empty() ? source.folder : job.folder;
    target.stem = Naming::Stem(source.name);
    target.tag = job.tag;
    target.extension = format->extension;
    Placement::Pending pending;
    HRESULT hr = pending.Begin(target.folder);
    if (FAILED(hr)) {
        outcome = Pipeline::Failed(Texts::ReasonForResult(hr));
        return true;
    }
    PendingFile output(pending);

    try {
        const Metadata kept = SourceMetadata::ForResult(metadata, result.width, result.height, 1);
        Encoder encoder(kind, job.jpegQuality, reader.Grey(), kept, output);
        std::unique_ptr<Resampling::Rows> resampler;
        if (!(size == result)) resampler.reset(new Resampling::Rows(size, result));
        std::vector<uint8_t> row(static_cast<size_t>(size.width) * 4);
        std::vector<uint8_t> out(resampler ? static_cast<size_t>(result.width) * 4 : 0);
        bool decodedOk = reader.Begin(), encodedOk = encoder.Start(result);
        uint32_t done = 0;
        while (decodedOk && encodedOk && done < result.height) {
            if (resampler && resampler->Ready()) {
                resampler->Take(out.data());
                encodedOk = encoder.Row(out.data());
                ++done;
                continue;
            }
            decodedOk = reader.Row(row.data());
            if (!decodedOk) break;
            if (resampler) {
                resampler->Give(row.data());
            } else {
                encodedOk = encoder.Row(row.data());
                ++done;
            }
        }
        encodedOk = encodedOk && decodedOk && encoder.Finish();
        if (!decodedOk) {
            outcome = Pipeline::Failed(Texts::ReasonForRead(ReadStatus::Damaged, L"JPEG"));
            return true;
        }
        if (reader.Truncated()) outcome.remark = Jpeg::CutShort;
        if (!encodedOk) {
            outcome = Pipeline::Failed(FAILED(output.failure) ? Texts::ReasonForResult(output.failure)
                                             : Texts::ReasonForResult(WINCODEC_ERR_BADIMAGE));
            return true;
        }
    } catch (const std::bad_alloc&) {
        outcome = Pipeline::Failed(Texts::ReasonForError(ERROR_OUTOFMEMORY));
        return true;
    }
    hr = pending.Finish(target, outcome.result);
    if (FAILED(hr)) {
        outcome = Pipeline::Failed(Texts::ReasonForResult(hr));
        return true;
    }
    outcome.started = true;
    outcome.converted = true;
    return true;
}

}  // namespace Streaming
