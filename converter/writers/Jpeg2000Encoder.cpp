#include "converter/writers/Jpeg2000Encoder.h"

#include <new>

#include "converter/metadata/IccProfile.h"
#include "converter/metadata/Jp2Boxes.h"
#include "converter/writers/Jpeg2000.h"

namespace Jpeg2000Encoder {
namespace {

HRESULT Encode(const Image& image, Jpeg2000::Container container, std::vector<uint8_t>& out) {
    out.clear();
    if (!image.Valid()) return E_INVALIDARG;
    try {
        out = Jpeg2000::Write(image, container);
    } catch (const std::bad_alloc&) {
        out.clear();
    }
    // The codec tells no reason; memory is what it runs out of.
    return out.empty() ? E_OUTOFMEMORY : S_OK;
}

}  // namespace

HRESULT ToJp2(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    HRESULT hr = Encode(image, Jpeg2000::Container::Jp2, out);
    // Only a profile a plain JP2 file can label: the pipeline made the
    // pixels of any other picture sRGB.
    if (SUCCEEDED(hr) && options.metadata && IccProfile::QualifiesRestricted(options.metadata->icc)) {
        try {
            std::vector<uint8_t> with = Jp2Boxes::WithProfile(out, options.metadata->icc);
            if (with.empty()) return WINCODEC_ERR_BADIMAGE;  // the codec's own file is always readable
            out = std::move(with);
        } catch (const std::bad_alloc&) {
            out.clear();
            hr = E_OUTOFMEMORY;
        }
    }
    return hr;
}

HRESULT ToJ2k(const EncodeOptions&, const Image& image, std::vector<uint8_t>& out) {
    return Encode(image, Jpeg2000::Container::CodeStream, out);
}

}  // namespace Jpeg2000Encoder
