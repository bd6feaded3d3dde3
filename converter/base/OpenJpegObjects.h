// Owner of OpenJPEG's C objects for one decode or encode: whatever was made
// is destroyed on every path out.
#pragma once

#include <openjpeg.h>

struct OpenJpegObjects {
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    opj_image_t* image = nullptr;
    OpenJpegObjects() = default;
    OpenJpegObjects(const OpenJpegObjects&) = delete;
    OpenJpegObjects& operator=(const OpenJpegObjects&) = delete;
    ~OpenJpegObjects() {
        if (stream) opj_stream_destroy(stream);
        if (codec) opj_destroy_codec(codec);
        if (image) opj_image_destroy(image);
    }
};
