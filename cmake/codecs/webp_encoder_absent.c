/* libtiff's WebP codec both decodes and encodes, so it names libwebp's
   encoder. The converter reads WebP inside TIFF but never writes it, and the
   encoder is three times the decoder's code: these entry points stand in for
   it and refuse, so a WebP-compressed TIFF could only fail to be written
   (the TIFF writer never asks for that compression). */
#include "webp/encode.h"

int WebPConfigInitInternal(WebPConfig* config, WebPPreset preset, float quality, int version) {
    (void)config, (void)preset, (void)quality, (void)version;
    return 0;
}

int WebPValidateConfig(const WebPConfig* config) {
    (void)config;
    return 0;
}

int WebPPictureInitInternal(WebPPicture* picture, int version) {
    (void)picture, (void)version;
    return 0;
}

void WebPPictureFree(WebPPicture* picture) { (void)picture; }

int WebPPictureImportRGB(WebPPicture* picture, const uint8_t* rgb, int stride) {
    (void)picture, (void)rgb, (void)stride;
    return 0;
}

int WebPPictureImportRGBA(WebPPicture* picture, const uint8_t* rgba, int stride) {
    (void)picture, (void)rgba, (void)stride;
    return 0;
}

int WebPEncode(const WebPConfig* config, WebPPicture* picture) {
    (void)config, (void)picture;
    return 0;
}
