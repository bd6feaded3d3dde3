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

}  // namespace ColourProfile
