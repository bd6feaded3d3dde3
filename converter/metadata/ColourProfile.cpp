#include "converter/metadata/ColourProfile.h"

#include <lcms2.h>

#include <new>

#include "converter/metadata/IccProfile.h"

namespace ColourProfile {
namespace {

// Grey at one byte, each pixel four bytes wide: the grey in the first, the
// other three passed over.
constexpr cmsUInt32Number GreyInBgra8 = COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(3);

// Closes what Little CMS hands out, whatever way a function leaves.
struct Handles {
    cmsHPROFILE from = nullptr;
    cmsHPROFILE to = nullptr;
    cmsToneCurve* curve = nullptr;
    cmsHTRANSFORM transform = nullptr;
    ~Handles() {
        if (transform) cmsDeleteTransform(transform);
        if (to) cmsCloseProfile(to);
        if (from) cmsCloseProfile(from);
        if (curve) cmsFreeToneCurve(curve);
    }
};

// Grey in sRGB's tone curve and white: what B = G = R means in sRGB.
cmsHPROFILE SrgbGrey(Handles& h) {
    const cmsFloat64Number srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    h.curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
    return h.curve ? cmsCreateGrayProfile(cmsD50_xyY(), h.curve) : nullptr;
}

cmsColorSpaceSignature SpaceOf(Layout layout) {
    switch (layout) {
    case Layout::Bgra: return cmsSigRgbData;
    case Layout::GreyInBgra: return cmsSigGrayData;
    default: return cmsSigCmykData;
    }
}

// Whether every pixel is grey (B = G = R), alpha aside.
bool AllGrey(const Image& image) {
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t* p = image.Row(y);
        for (uint32_t x = 0; x < image.width; ++x, p += 4)
            if (p[0] != p[1] || p[1] != p[2]) return false;
    }
    return true;
}

}  // namespace

bool ToSrgb(Image& image, Layout layout, const std::vector<uint8_t>& icc) {
    if (icc.empty() || icc.size() > 0x7FFFFFFF || !image.Valid()) return false;
    Handles h;
    h.from = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    if (!h.from || cmsGetColorSpace(h.from) != SpaceOf(layout)) return false;
    h.to = layout == Layout::GreyInBgra ? SrgbGrey(h) : cmsCreate_sRGBProfile();
    if (!h.to) return false;
    switch (layout) {
    case Layout::Bgra:
        h.transform = cmsCreateTransform(h.from, TYPE_BGRA_8, h.to, TYPE_BGRA_8, INTENT_PERCEPTUAL,
                                         cmsFLAGS_COPY_ALPHA);
        break;
    case Layout::GreyInBgra:
        h.transform = cmsCreateTransform(h.from, GreyInBgra8, h.to, TYPE_GRAY_8, INTENT_PERCEPTUAL, 0);
        break;
    case Layout::Cmyk:
    case Layout::CmykInverted:
        h.transform = cmsCreateTransform(h.from, layout == Layout::Cmyk ? TYPE_CMYK_8 : TYPE_CMYK_8_REV, h.to,
                                         TYPE_BGRA_8, INTENT_PERCEPTUAL, 0);
        break;
    }
    if (!h.transform) return false;
    // Row by row: a row's pixel count always fits the library's 32 bits.
    if (layout == Layout::Bgra) {
        for (uint32_t y = 0; y < image.height; ++y)
            cmsDoTransform(h.transform, image.Row(y), image.Row(y), image.width);
        return true;
    }
    std::vector<uint8_t> row;
    try {
        row.resize(image.Stride());
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* p = image.Row(y);
        cmsDoTransform(h.transform, p, row.data(), image.width);
        if (layout == Layout::GreyInBgra) {
            for (uint32_t x = 0; x < image.width; ++x, p += 4) p[0] = p[1] = p[2] = row[x];
        } else {
            for (uint32_t x = 0; x < image.width; ++x, p += 4) {
                const uint8_t* q = &row[size_t{x} * 4];
                p[0] = q[0];
                p[1] = q[1];
                p[2] = q[2];
                p[3] = 255;
            }
        }
    }
    return true;
}

bool ToSrgb(Image& image, const std::vector<uint8_t>& icc) { return ToSrgb(image, Layout::Bgra, icc); }

void ForResult(Image& image, std::vector<uint8_t>& icc, bool keeps) {
    if (icc.empty()) return;
    switch (IccProfile::SpaceOf(icc)) {
    case IccProfile::Space::Rgb:
        // An RGB profile Little CMS cannot read stays where it can: the
        // result carries it for a reader that can.
        if (!keeps) {
            ToSrgb(image, Layout::Bgra, icc);
            icc.clear();
        }
        return;
    case IccProfile::Space::Grey:
        if (AllGrey(image)) ToSrgb(image, Layout::GreyInBgra, icc);
        icc.clear();
        return;
    default:
        icc.clear();
        return;
    }
}


std::vector<uint8_t> FromGamma(double gamma, const Chromaticities& primaries) {
    std::vector<uint8_t> icc;
    if (!(gamma > 0.05 && gamma < 20)) return icc;
    const cmsCIExyY white = {primaries.whiteX, primaries.whiteY, 1.0};
    const cmsCIExyYTRIPLE rgb = {{primaries.redX, primaries.redY, 1.0},
                                 {primaries.greenX, primaries.greenY, 1.0},
                                 {primaries.blueX, primaries.blueY, 1.0}};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    if (!curve) return icc;
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &rgb, curves);
    cmsFreeToneCurve(curve);
    if (!profile) return icc;
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        icc.resize(size);
        if (!cmsSaveProfileToMem(profile, icc.data(), &size)) icc.clear();
    }
    cmsCloseProfile(profile);
    return icc;
}

bool CmykToSrgb(const uint8_t* cmyk, const std::vector<uint8_t>& icc, Image& image) {
    if (!cmyk || icc.empty() || icc.size() > 0x7FFFFFFF || !image.Valid()) return false;
    cmsHPROFILE from = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    if (!from) return false;
    cmsHTRANSFORM transform = nullptr;
    if (cmsGetColorSpace(from) == cmsSigCmykData) {
        cmsHPROFILE to = cmsCreate_sRGBProfile();
        if (to) {
            // Alpha sits between the colours the transform writes and is
            // left alone: BGRA with one extra byte the transform skips.
            transform = cmsCreateTransform(from, TYPE_CMYK_8, to, TYPE_BGRA_8, INTENT_PERCEPTUAL, 0);
            cmsCloseProfile(to);
        }
    }
    cmsCloseProfile(from);
    if (!transform) return false;
    const size_t stride = static_cast<size_t>(image.width) * 4;
    for (uint32_t y = 0; y < image.height; ++y)
        cmsDoTransform(transform, cmyk + y * stride, image.Row(y), image.width);
    cmsDeleteTransform(transform);
    return true;
}

}  // namespace ColourProfile
