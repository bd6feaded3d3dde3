#include "converter/pipeline/Pipeline.h"

#include <objbase.h>

#include <algorithm>
#include <new>

#include "converter/base/Com.h"
#include "converter/pipeline/Naming.h"
#include "converter/base/Pixels.h"
#include "converter/pipeline/Placement.h"
#include "converter/base/Resampling.h"
#include "converter/base/Texts.h"
#include "converter/base/CheckedSize.h"
#include "converter/metadata/ColourProfile.h"
#include "converter/metadata/SourceMetadata.h"
#include "converter/pipeline/Streaming.h"
#include "converter/pipeline/WorkMemory.h"
#include "converter/readers/Readers.h"

namespace Pipeline {

void Progress::SetCurrent(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = name;
}

std::wstring Progress::Current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
}

Outcome Failed(std::wstring reason) {
    Outcome outcome;
    outcome.started = true;
    outcome.reason = std::move(reason);
    return outcome;
}

bool ResultFits(PixelSize size) {
    size_t pixels = 0, bytes = 0;
    return CheckedSize::Mul(size.width, size.height, pixels) && pixels <= Readers::MaxPixels &&
           CheckedSize::Mul(pixels, 4, bytes);
}

namespace {

// A result larger than the converter takes as a source: refused, however
// small its source, before any memory is taken for it.
std::wstring TooLargeResult(PixelSize size) {
    return L"Das Ergebnis w\u00e4re mit " + std::to_wstring(size.width) + L" \u00d7 " +
           std::to_wstring(size.height) + L" Bildpunkten zu gro\u00df.";
}

// The memory a picture's conversion needs, asked once its size is known:
// by the reader before decoding, or else once it is decoded.
class Admission {
public:
    Admission(const Job& job, const Admit& admit) : job_(job), admit_(admit) {}

    // The supervisor is asked once a picture: a second question (a reader
    // that asks again) is answered from what the first was granted.
    bool operator()(PixelSize decoded, uint64_t decoderBytes) {
        const PixelSize result = WorkMemory::LargestResult(decoded, job_.box, job_.enlarge);
        const uint64_t peak = WorkMemory::Peak(decoded, decoderBytes, result);
        if (!ResultFits(result) || peak == WorkMemory::Unbounded) {
            tooLarge_ = result;
            return false;
        }
        if (asked_) return granted_ >= peak;
        asked_ = true;
        granted_ = !admit_ || admit_(decoded, peak) ? peak : 0;
        return granted_ != 0;
    }
    bool Asked() const { return asked_; }
    // The result's size when it was refused as too large ({0, 0}: it was not).
    PixelSize TooLarge() const { return tooLarge_; }

private:
    const Job& job_;
    const Admit& admit_;
    bool asked_ = false;
    uint64_t granted_ = 0;
    PixelSize tooLarge_;
};

// The kind of a source kept "in its own format" that was written as
// another, because we write none of its own (empty: none such).
struct Substitute {
    std::wstring from, to;
};

// The writable format of the source's own kind; nullptr when we write none.
const FormatInfo* SameFormat(const Readers::Picture& picture) {
    const FormatInfo* same = picture.sameToken ? Formats::ByToken(picture.sameToken)
                                               : Formats::ByContainer(picture.container);
    return same && same->encode ? same : nullptr;
}

Outcome Convert(IWICImagingFactory* wic, const Job& job, const Sources::Source& source, const Admit& admit) {
    Readers::Picture picture;
    bool collected = false;
    {
        Outcome streamed;
        const Streaming::Taken taken = Streaming::Convert(job, source, admit, streamed, picture);
        if (taken == Streaming::Taken::Done) return streamed;
        collected = taken == Streaming::Taken::Collected;
    }
    std::vector<uint8_t> bytes;
    const FormatInfo* format = job.format;
    Substitute substitute;
    std::wstring remark;
    {
        Admission admission(job, admit);
        if (!collected) {
            ReadRequest request;
            request.maxPixels = Readers::MaxPixels;
            request.box = job.box;
            request.enlarge = job.enlarge;
            request.admit = [&admission](PixelSize decoded, uint64_t decoderBytes) {
                return admission(decoded, decoderBytes);
            };
            const std::wstring reason = Readers::Read(wic, source.path, request, picture);
            if (admission.TooLarge().width != 0) return Failed(TooLargeResult(admission.TooLarge()));
            if (!reason.empty()) return Failed(reason);
        }
        if (picture.remark) remark = picture.remark;

        if (!format) format = SameFormat(picture);
        Image image = std::move(picture.decoded.image);
        if (!format) {
            // A kind we do not write (HEIC, raw, TGA ...) kept "in its own
            // format" becomes JPEG, or PNG where it is transparent, and the
            // report says so.
            format = Formats::ByToken(Pixels::HasTransparency(image) ? "TOPNG" : "TOJPG");
            if (format && picture.kind) substitute = {picture.kind, format->name};
        }
        if (!format || !format->encode) return Failed(L"Dieses Format kann nicht geschrieben werden.");

        // A collected picture was admitted with what its writing holds.
        if (!collected && !admission.Asked() && !admission({image.width, image.height}, 0)) {
            if (admission.TooLarge().width != 0) return Failed(TooLargeResult(admission.TooLarge()));
            return Failed(Texts::ReasonForError(ERROR_OUTOFMEMORY));
        }
        const int orientation = picture.decoded.orientation;
        Pixels::Orient(image, orientation);
        const PixelSize upright = {image.width, image.height};
        PixelSize size = upright;
        if (job.box.width != 0 && job.box.height != 0) {
            PixelSize full = picture.decoded.full.width != 0 ? picture.decoded.full : upright;
            if (picture.decoded.full.width != 0 && Pixels::TurnsSideways(orientation))
                full = {full.height, full.width};
            size = Geometry::FitInside(full, job.box, job.enlarge);
        }
        if (!ResultFits(size)) return Failed(TooLargeResult(size));
        if (!(size == upright)) image = Resampling::Resize(image, size);
        // A format without a profile is shown as sRGB: its pixels become sRGB.
        // A profile of another colour space than the pixels never goes on.
        Metadata& metadata = picture.decoded.metadata;
        ColourProfile::ForResult(image, metadata.icc, Formats::KeepsProfile(*format, metadata.icc));
        if (!format->keepsAlpha) Pixels::FlattenOntoWhite(image);
        EncodeOptions options;
        options.wic = wic;
        options.jpegQuality = job.jpegQuality;
        const Metadata kept =
            SourceMetadata::ForResult(metadata, image.width, image.height, picture.decoded.orientation);
        options.metadata = &kept;
        const HRESULT hr = format->encode(options, image, bytes);
        if (FAILED(hr)) return Failed(Texts::ReasonForResult(hr));
    }

    Placement::Target target;
    target.folder = job.folder.empty() ? source.folder : job.folder;
    target.stem = Naming::Stem(source.name);
    target.tag = job.tag;
    target.extension = format->extension;
    Outcome outcome;
    outcome.started = true;
    const HRESULT hr = Placement::Place(target, bytes, outcome.result);
    if (FAILED(hr)) return Failed(Texts::ReasonForResult(hr));
    outcome.converted = true;
    outcome.substituteFrom = substitute.from;
    outcome.substituteTo = substitute.to;
    outcome.remark = std::move(remark);
    return outcome;
}

}  // namespace

Outcome ConvertOne(IWICImagingFactory* wic, const Job& job, const Sources::Source& source, const Admit& admit) {
    // No picture, however made, may end the run for the others.
    try {
        return Convert(wic, job, source, admit);
    } catch (const std::bad_alloc&) {
        return Failed(Texts::ReasonForError(ERROR_OUTOFMEMORY));
    } catch (...) {
        return Failed(L"Unerwarteter Fehler beim Umwandeln.");
    }
}

}  // namespace Pipeline
