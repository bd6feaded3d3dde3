#include "converter/metadata/ColourProfile.h"

#include <lcms2.h>

#include <cstring>
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
    return layout == Layout::Bgra ? cmsSigRgbData : cmsSigGrayData;
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
        row.resize(image.width);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* p = image.Row(y);
        cmsDoTransform(h.transform, p, row.data(), image.width);
        for (uint32_t x = 0; x < image.width; ++x, p += 4) p[0] = p[1] = p[2] = row[x];
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
    // Little CMS dates a new profile with the clock; the same picture must
    // give the same result bytes whenever it is converted, so the header's
    // date (bytes 24 to 35: year, month, day, hour, minute, second) is fixed.
    if (icc.size() >= 36) {
        const uint16_t date[6] = {2000, 1, 1, 0, 0, 0};
        for (int i = 0; i < 6; ++i) {
            icc[24 + 2 * i] = static_cast<uint8_t>(date[i] >> 8);
            icc[25 + 2 * i] = static_cast<uint8_t>(date[i]);
        }
    }
    return icc;
}

namespace {

// One entry of the fallback's table: inks (0 no ink, 65535 full) to the
// sRGB values they leave of white, as stored (before sRGB's tone curve).
// Each is a product of straight lines in one ink and the black; the
// table's interpolation between nine steps an ink misses it by less than a
// level of eight bits.
int SampleFallback(const cmsUInt16Number in[], cmsUInt16Number out[], void*) {
    const uint32_t k = 65535 - in[3];
    for (int i = 0; i < 3; ++i) out[i] = static_cast<cmsUInt16Number>((uint32_t{65535} - in[i]) * k / 65535);
    return 1;
}

// The profile: inks through the table into sRGB values, then sRGB's own
// tone curves and primaries into the connection space (XYZ), as sRGB's
// profile itself takes them.
std::vector<uint8_t> MakeFallbackCmyk() {
    std::vector<uint8_t> icc;
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    const auto* red = srgb ? static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb, cmsSigRedColorantTag)) : nullptr;
    const auto* green = srgb ? static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb, cmsSigGreenColorantTag)) : nullptr;
    const auto* blue = srgb ? static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb, cmsSigBlueColorantTag)) : nullptr;
    cmsToneCurve* curves[3] = {};
    if (srgb) {
        curves[0] = static_cast<cmsToneCurve*>(cmsReadTag(srgb, cmsSigRedTRCTag));
        curves[1] = static_cast<cmsToneCurve*>(cmsReadTag(srgb, cmsSigGreenTRCTag));
        curves[2] = static_cast<cmsToneCurve*>(cmsReadTag(srgb, cmsSigBlueTRCTag));
    }
    bool made = profile && lut && red && green && blue && curves[0] && curves[1] && curves[2];
    if (made) {
        // XYZ in a table's 0 to 1 is 0 to 1 + 32767/32768 in the connection space.
        const double scale = 1.0 / (1.0 + 32767.0 / 32768.0);
        const cmsFloat64Number matrix[9] = {red->X * scale, green->X * scale, blue->X * scale,
                                            red->Y * scale, green->Y * scale, blue->Y * scale,
                                            red->Z * scale, green->Z * scale, blue->Z * scale};
        cmsStage* table = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
        made = table && cmsStageSampleCLut16bit(table, SampleFallback, nullptr, 0);
        // The form lutAToBType stores: A curves, table, M curves, matrix, B curves.
        cmsStage* stages[5] = {cmsStageAllocToneCurves(nullptr, 4, nullptr), table,
                               cmsStageAllocToneCurves(nullptr, 3, curves),
                               cmsStageAllocMatrix(nullptr, 3, 3, matrix, nullptr),
                               cmsStageAllocToneCurves(nullptr, 3, nullptr)};
        for (cmsStage* stage : stages) {
            made = made && stage && cmsPipelineInsertStage(lut, cmsAT_END, stage);
            if (!made && stage) cmsStageFree(stage);
        }
    }
    if (made) {
        cmsSetProfileVersion(profile, 4.3);
        cmsSetDeviceClass(profile, cmsSigInputClass);
        cmsSetColorSpace(profile, cmsSigCmykData);
        cmsSetPCS(profile, cmsSigXYZData);
        cmsMLU* description = cmsMLUalloc(nullptr, 1);
        made = description && cmsMLUsetASCII(description, "en", "US", "CMYK without a profile") &&
               cmsWriteTag(profile, cmsSigProfileDescriptionTag, description) &&
               cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ()) &&
               cmsWriteTag(profile, cmsSigAToB0Tag, lut);
        if (description) cmsMLUfree(description);
    }
    cmsUInt32Number size = 0;
    if (made && cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        icc.resize(size);
        if (!cmsSaveProfileToMem(profile, icc.data(), &size)) icc.clear();
    }
    if (lut) cmsPipelineFree(lut);
    if (profile) cmsCloseProfile(profile);
    if (srgb) cmsCloseProfile(srgb);
    return icc;
}

// A transform from CMYK `icc` into sRGB BGRA, alpha passed over; nullptr
// when the profile is not CMYK or cannot be used.
cmsHTRANSFORM CmykTransform(const std::vector<uint8_t>& icc, bool inverted, cmsUInt32Number intent) {
    if (icc.empty() || icc.size() > 0x7FFFFFFF) return nullptr;
    cmsHPROFILE from = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    if (!from) return nullptr;
    cmsHTRANSFORM transform = nullptr;
    if (cmsGetColorSpace(from) == cmsSigCmykData) {
        if (cmsHPROFILE to = cmsCreate_sRGBProfile()) {
            transform = cmsCreateTransform(from, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, to, TYPE_BGRA_8, intent, 0);
            cmsCloseProfile(to);
        }
    }
    cmsCloseProfile(from);
    return transform;
}

}  // namespace

const std::vector<uint8_t>& FallbackCmyk() {
    static const std::vector<uint8_t> profile = MakeFallbackCmyk();
    return profile;
}

CmykToSrgb::CmykToSrgb(const std::vector<uint8_t>& icc, bool inverted) {
    transform_ = CmykTransform(icc, inverted, INTENT_PERCEPTUAL);
    own_ = transform_ != nullptr;
    // Colorimetric: a perceptual transform would move the fallback's black
    // point, and the fallback is to give the sRGB values its table holds.
    if (!transform_) transform_ = CmykTransform(FallbackCmyk(), inverted, INTENT_RELATIVE_COLORIMETRIC);
}

CmykToSrgb::~CmykToSrgb() {
    if (transform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void CmykToSrgb::Convert(const uint8_t* cmyk, uint8_t* bgra, uint32_t count) const {
    if (cmyk != bgra) return cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), cmyk, bgra, count);
    // In place the transform would read inks it has already overwritten
    // with colours: a few pixels at a time through a copy.
    uint8_t copy[4 * 256];
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = count - done < 256 ? count - done : 256;
        std::memcpy(copy, cmyk + size_t{done} * 4, size_t{n} * 4);
        cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), copy, bgra + size_t{done} * 4, n);
        done += n;
    }
}

void CmykToSrgb::ConvertInPlace(Image& image) const {
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* row = image.Row(y);
        Convert(row, row, image.width);
        for (uint32_t x = 0; x < image.width; ++x) row[size_t{x} * 4 + 3] = 255;
    }
}

}  // namespace ColourProfile
