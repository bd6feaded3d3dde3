#include "converter/pipeline/Streaming.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string_view>

#include "converter/base/CheckedSize.h"
#include "converter/base/Pixels.h"
#include "converter/base/Resampling.h"
#include "converter/base/Texts.h"
#include "converter/metadata/IccProfile.h"
#include "converter/metadata/JpegMarkers.h"
#include "converter/metadata/PngChunks.h"
#include "converter/metadata/SourceMetadata.h"
#include "converter/metadata/TiffTags.h"
#include "converter/pipeline/Naming.h"
#include "converter/pipeline/Placement.h"
#include "converter/pipeline/RowSources.h"
#include "converter/pipeline/WorkMemory.h"
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
    Encoder(Kind kind, int quality, Png::RowLayout layout, const Metadata& kept, PendingFile& file)
        : kind_(kind), quality_(quality), layout_(layout), kept_(kept), file_(file) {}

    bool Start(PixelSize size) {
        if (kind_ == Kind::Tiff) {
            auto tiff = std::make_unique<Tiff::RowWriter>();
            const bool started = tiff->Start(size.width, size.height, layout_ == Png::RowLayout::Rgba, file_);
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
        const bool started = png->Start(size.width, size.height, layout_, options, head_->Sink());
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
    Png::RowLayout layout_;
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
                             : token == "TOPNG"  ? Png::RowWriterBytes(result.width)
                                                 : 0;
    size_t rows = 0, total = 0;
    // A decoded row and a result row; the held-back head and the sinks' buffers.
    const bool fits = resampler != UINT64_MAX && encoder != UINT64_MAX &&
                      CheckedSize::Product({decoded.width, 4}, rows) &&
                      CheckedSize::MulAdd(result.width, 4, rows, rows) &&
                      CheckedSize::Add(rows, decoderBytes, total) && CheckedSize::Add(total, resampler, total) &&
                      CheckedSize::Add(total, encoder, total) && CheckedSize::Add(total, 4 * HeadBytes, total);
    return fits ? total : UINT64_MAX;
}

Taken Convert(const Job& job, const Sources::Source& source, const Pipeline::Admit& admit,
              Pipeline::Outcome& outcome, Readers::Picture& collected) {
    if (!g_enabled) return Taken::No;
    std::unique_ptr<RowSources::Source> rows;
    Decoded decoded;
    std::wstring skipped;
    const RowSources::Opened opened = RowSources::Open(source, job, rows, decoded, skipped);
    if (opened == RowSources::Opened::Skipped) {
        outcome = Pipeline::Failed(skipped);
        return Taken::Done;
    }
    if (opened == RowSources::Opened::No) return Taken::No;
    const bool jpeg = rows->ownToken == std::string_view("TOJPG");
    const char* own = rows->ownToken;
    const FormatInfo* format = job.format ? job.format : Formats::ByToken(own);
    // A kind we do not write, kept "in its own format", becomes JPEG when
    // it cannot be transparent (as on the whole-picture path, which decides
    // on a transparent one by its pixels), and the report says so.
    const bool substituted = !format && !job.format && !rows->transparent;
    if (substituted) format = Formats::ByToken("TOJPG");
    if (!format || !format->encode) return Taken::No;
    const bool jpegResult = format->token == "TOJPG";
    const Kind kind = jpegResult ? Kind::Jpeg : format->token == "TOTIFF" ? Kind::Tiff : Kind::Png;
    DropOversizedBlocks(decoded.metadata);
    const PixelSize size = rows->size;
    const bool held = uint64_t{size.width} * size.height <= Readers::MaxPixels;
    PixelSize result = size;
    if (job.box.width != 0 && job.box.height != 0) {
        const PixelSize full = decoded.full.width != 0 ? decoded.full : size;
        result = Geometry::FitInside(full, job.box, job.enlarge);
    }
    if (result.width == 0 || result.height == 0) return Taken::No;

    // The writers that take rows: JPEG; TIFF, and PNG from a JPEG above
    // the size its palette look is worth, where the whole-picture path
    // would choose the same layout (or cannot hold the picture: the layout
    // is then the source's own).
    bool writerTakesRows = jpegResult;
    if (kind == Kind::Tiff) writerTakesRows = !rows->transparent || !held;
    if (format->token == "TOPNG")
        writerTakesRows = !held || (jpeg && uint64_t{result.width} * result.height > Png::RowPixels);
    if (jpegResult && (result.width > Jpeg::MaxSide || result.height > Jpeg::MaxSide)) return Taken::No;
    // Turning needs the whole picture; so does a profile the result cannot
    // carry (its pixels are converted), or a grey one. Such a picture larger
    // than the whole-picture path holds is skipped here with the reason why.
    Metadata& metadata = decoded.metadata;
    const bool coloursKept = metadata.icc.empty() || (Formats::KeepsProfile(*format, metadata.icc) && !rows->grey &&
                                                      IccProfile::SpaceOf(metadata.icc) == IccProfile::Space::Rgb);
    // A PNG's or TIFF's rows can also be gathered into the result, which
    // the whole-picture path's writers then take: it holds the result,
    // never the file or the picture at its stored size.
    const bool gather = !jpeg && !(writerTakesRows && coloursKept) && Pipeline::ResultFits(result);
    const wchar_t* whole = nullptr;
    if (decoded.orientation >= 2 && decoded.orientation <= 8)
        whole = L"Das Bild ist zu gro\u00df, um es aufzurichten: dazu m\u00fcsste es ganz im Speicher liegen.";
    else if (gather)
        whole = nullptr;
    else if (!writerTakesRows)
        whole = L"Das Bild ist zu gro\u00df f\u00fcr dieses Format: es m\u00fcsste dazu ganz im Speicher liegen.";
    else if (!coloursKept)
        whole = L"Das Bild ist zu gro\u00df, um seine Farben umzurechnen: dazu m\u00fcsste es ganz im Speicher liegen.";
    if (whole) {
        if (held) return Taken::No;
        outcome = Pipeline::Failed(whole);
        return Taken::Done;
    }

    // From here on the streamed path answers for the picture.
    uint64_t peak = Peak(size, rows->decoderBytes, result, gather ? "" : format->token);
    if (gather && peak != UINT64_MAX) {
        const uint64_t rest = WorkMemory::Peak(result, 0, result);
        peak = rest == WorkMemory::Unbounded || rest > UINT64_MAX - peak ? UINT64_MAX : peak + rest;
    }
    if (peak == UINT64_MAX || (admit && !admit(size, peak))) {
        outcome = Pipeline::Failed(Texts::ReasonForError(ERROR_OUTOFMEMORY));
        return Taken::Done;
    }
    try {
        std::unique_ptr<Resampling::Rows> resampler;
        if (!(size == result)) resampler.reset(new Resampling::Rows(size, result));
        std::vector<uint8_t> row(static_cast<size_t>(size.width) * 4);
        std::vector<uint8_t> out(resampler ? static_cast<size_t>(result.width) * 4 : 0);
        // Hands every result row to `put` in turn; false when the source
        // failed (`decodedOk`) or `put` did.
        bool decodedOk = true;
        const auto pass = [&](const std::function<bool(uint8_t*)>& put) {
            decodedOk = rows->Begin();
            bool putOk = true;
            uint32_t done = 0;
            while (decodedOk && putOk && done < result.height) {
                if (resampler && resampler->Ready()) {
                    resampler->Take(out.data());
                    putOk = put(out.data());
                    ++done;
                    continue;
                }
                decodedOk = rows->Row(row.data());
                if (!decodedOk) break;
                if (resampler) {
                    resampler->Give(row.data());
                } else {
                    putOk = put(row.data());
                    ++done;
                }
            }
            return decodedOk && putOk;
        };

        if (gather) {
            Image& image = collected.decoded.image;
            image.width = result.width;
            image.height = result.height;
            image.bgra.resize(static_cast<size_t>(result.width) * result.height * 4);
            uint32_t y = 0;
            pass([&](uint8_t* bgra) {
                std::memcpy(image.Row(y++), bgra, static_cast<size_t>(result.width) * 4);
                return true;
            });
            if (!decodedOk) {
                collected = Readers::Picture();
                outcome = Pipeline::Failed(Texts::ReasonForRead(rows->Failure(), rows->kind));
                return Taken::Done;
            }
            collected.decoded.metadata = std::move(metadata);
            collected.decoded.orientation = decoded.orientation;
            if (!(size == result)) collected.decoded.full = size;
            collected.kind = rows->kind;
            collected.sameToken = own;
            return Taken::Collected;
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
            return Taken::Done;
        }
        PendingFile output(pending);
        const Metadata kept = SourceMetadata::ForResult(metadata, result.width, result.height, 1);
        const Png::RowLayout layout = rows->transparent ? Png::RowLayout::Rgba
                                      : rows->grey      ? Png::RowLayout::Grey
                                                        : Png::RowLayout::Rgb;
        Encoder encoder(kind, job.jpegQuality, layout, kept, output);
        bool encodedOk = encoder.Start(result);
        const bool flatten = !format->keepsAlpha && rows->transparent;
        encodedOk = encodedOk && pass([&](uint8_t* bgra) {
                        if (flatten) Pixels::FlattenRowOntoWhite(bgra, result.width);
                        return encoder.Row(bgra);
                    }) && encoder.Finish();
        if (!decodedOk) {
            outcome = Pipeline::Failed(Texts::ReasonForRead(rows->Failure(), rows->kind));
            return Taken::Done;
        }
        if (rows->Remark()) outcome.remark = rows->Remark();
        if (!encodedOk) {
            outcome = Pipeline::Failed(FAILED(output.failure) ? Texts::ReasonForResult(output.failure)
                                                              : Texts::ReasonForResult(WINCODEC_ERR_BADIMAGE));
            return Taken::Done;
        }
        hr = pending.Finish(target, outcome.result);
        if (FAILED(hr)) {
            outcome = Pipeline::Failed(Texts::ReasonForResult(hr));
            return Taken::Done;
        }
    } catch (const std::bad_alloc&) {
        collected = Readers::Picture();
        outcome = Pipeline::Failed(Texts::ReasonForError(ERROR_OUTOFMEMORY));
        return Taken::Done;
    }
    outcome.started = true;
    outcome.converted = true;
    if (substituted) {
        outcome.substituteFrom = rows->kind;
        outcome.substituteTo = format->name;
    }
    return Taken::Done;
}

}  // namespace Streaming
