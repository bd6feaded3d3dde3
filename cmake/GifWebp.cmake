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

# libwebp's encoder for the wizard's WebP results (and libtiff's WebP codec,
# which names it) (libwebp's own files for
# it as its makefile lists them, with the sharp RGB-to-YUV conversion its
# picture import links), on the decoder's shared parts above.
set(LIBWEBP_ENC_DSP cost cost_sse2 enc enc_sse2 enc_sse41 lossless_enc lossless_enc_sse2 lossless_enc_sse41
  ssim ssim_sse2)
set(LIBWEBP_ENC_UTILS bit_writer_utils huffman_encode_utils quant_levels_utils)
file(GLOB LIBWEBP_ENC_SOURCES ${LIBWEBP_SOURCE}/src/enc/*.c)
foreach(name ${LIBWEBP_ENC_DSP})
  list(APPEND LIBWEBP_ENC_SOURCES ${LIBWEBP_SOURCE}/src/dsp/${name}.c)
endforeach()
foreach(name ${LIBWEBP_ENC_UTILS})
  list(APPEND LIBWEBP_ENC_SOURCES ${LIBWEBP_SOURCE}/src/utils/${name}.c)
endforeach()
foreach(name sharpyuv sharpyuv_csp sharpyuv_dsp sharpyuv_gamma sharpyuv_sse2)
  list(APPEND LIBWEBP_ENC_SOURCES ${LIBWEBP_SOURCE}/sharpyuv/${name}.c)
endforeach()
codec_library(quennel_webpenc ${LIBWEBP_ENC_SOURCES})
target_include_directories(quennel_webpenc SYSTEM PUBLIC ${LIBWEBP_SOURCE}/src)
target_include_directories(quennel_webpenc PRIVATE ${LIBWEBP_SOURCE})
target_link_libraries(quennel_webpenc PUBLIC quennel_webpdec)
