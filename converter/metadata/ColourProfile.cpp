#include "converter/metadata/ColourProfile.h"

#include <lcms2.h>

namespace ColourProfile {

bool ToSrgb(Image& image, const std::vector<uint8_t>& icc) {
    if (icc.empty() || icc.size() > 0x7FFFFFFF || !image.Valid()) return false;
    cmsHPROFILE from = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    if (!from) return false;
    cmsHTRANSFORM transform = nullptr;
    if (cmsGetColorSpace(from) == cmsSigRgbData) {
        cmsHPROFILE to = cmsCreate_sRGBProfile();
        if (to) {
            transform = cmsCreateTransform(from, TYPE_BGRA_8, to, TYPE_BGRA_8, INTENT_PERCEPTUAL,
                                           cmsFLAGS_COPY_ALPHA);
            cmsCloseProfile(to);
        }
    }
    cmsCloseProfile(from);
    if (!transform) return false;
    // Row by row: a row's pixel count always fits the library's 32 bits.
    for (uint32_t y = 0; y < image.height; ++y) cmsDoTransform(transform, image.Row(y), image.Row(y), image.width);
    cmsDeleteTransform(transform);
    return true;
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
