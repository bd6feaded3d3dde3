# giflib and libwebp's decoder as the static library targets quennel_gif and
# quennel_webpdec, each from its pinned Debian source package
# (cmake/DebianSource.cmake), compiled with codec_library (cmake/Codecs.cmake).
set(GIFLIB_DEBIAN_VERSION "5.2.1-2.5+deb12u1")
set(LIBWEBP_DEBIAN_VERSION "1.2.4-0.2+deb12u1")

# giflib: the decoder and what it shares with the encoder (errors, colour
# maps); its tools and the encoder itself are left out.
debian_source(GIFLIB_SOURCE giflib ${GIFLIB_DEBIAN_VERSION})
codec_library(quennel_gif
  ${GIFLIB_SOURCE}/dgif_lib.c ${GIFLIB_SOURCE}/gif_err.c ${GIFLIB_SOURCE}/gifalloc.c
  ${GIFLIB_SOURCE}/gif_hash.c ${GIFLIB_SOURCE}/openbsd-reallocarray.c)
target_include_directories(quennel_gif SYSTEM PUBLIC ${GIFLIB_SOURCE})

# libwebp: the decoder alone (libwebpdecoder's files as its own makefile
# lists them) and the container's demuxer (an animation's first frame, the
# ICC profile), without threads, with the x86 SIMD the compiler targets.
debian_source(LIBWEBP_SOURCE libwebp ${LIBWEBP_DEBIAN_VERSION})
set(LIBWEBP_DSP alpha_processing alpha_processing_sse2 alpha_processing_sse41 cpu dec dec_clip_tables dec_sse2
  dec_sse41 filters filters_sse2 lossless lossless_sse2 lossless_sse41 rescaler rescaler_sse2 upsampling
  upsampling_sse2 upsampling_sse41 yuv yuv_sse2 yuv_sse41)
set(LIBWEBP_UTILS bit_reader_utils color_cache_utils filters_utils huffman_utils quant_levels_dec_utils
  random_utils rescaler_utils thread_utils utils)
file(GLOB LIBWEBP_SOURCES ${LIBWEBP_SOURCE}/src/dec/*.c)
list(APPEND LIBWEBP_SOURCES ${LIBWEBP_SOURCE}/src/demux/demux.c)
foreach(name ${LIBWEBP_DSP})
  list(APPEND LIBWEBP_SOURCES ${LIBWEBP_SOURCE}/src/dsp/${name}.c)
endforeach()
foreach(name ${LIBWEBP_UTILS})
  list(APPEND LIBWEBP_SOURCES ${LIBWEBP_SOURCE}/src/utils/${name}.c)
endforeach()
codec_library(quennel_webpdec ${LIBWEBP_SOURCES})
target_include_directories(quennel_webpdec SYSTEM PUBLIC ${LIBWEBP_SOURCE}/src)
target_include_directories(quennel_webpdec PRIVATE ${LIBWEBP_SOURCE})

# libtiff's WebP codec (cmake/Codecs.cmake) on this decoder; the encoder it
# also names is left out (cmake/codecs/webp_encoder_absent.c).
codec_library(quennel_webpenc_absent ${CMAKE_SOURCE_DIR}/cmake/codecs/webp_encoder_absent.c)
target_link_libraries(quennel_webpenc_absent PUBLIC quennel_webpdec)
