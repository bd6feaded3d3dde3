# HEIF/HEIC and AVIF reading: libheif with libde265 (HEVC) and dav1d (AV1) as
# the static library target quennel_heif, each from its pinned Debian source
# package (cmake/DebianSource.cmake). Their decoders alone are compiled, as
# plain targets of this build with a hand-written configuration (no meson,
# no encoders, no plugin loading). The newest security versions of libheif
# and libde265 are not on the mirror: these are the newest that are.
set(LIBHEIF_DEBIAN_VERSION "1.15.1-1+deb12u1")
set(LIBDE265_DEBIAN_VERSION "1.0.11-1+deb12u2")
set(DAV1D_DEBIAN_VERSION "1.0.0-2+deb12u1")

# libde265: the decoder with its SSE4.1 motion and transform code, which it
# picks at run time by CPUID (so the 32-bit build's baseline stays as it is).
# Its threads are Windows threads of its own on _WIN32.
# Its locks on Windows are critical sections and condition variables
# (cmake/patches/libde265-windows-locks.patch says why).
debian_source(LIBDE265_SOURCE libde265 ${LIBDE265_DEBIAN_VERSION}
  PATCHES ${CMAKE_CURRENT_LIST_DIR}/patches/libde265-windows-locks.patch)
set(LIBDE265_FILES alloc_pool bitstream cabac configparam contextmodel de265 deblock decctx dpb
  fallback-dct fallback-motion fallback image intrapred md5 motion nal-parser nal pps quality refpic
  sao scan sei slice sps threads transform util visualize vps vui x86/sse x86/sse-motion x86/sse-dct)
set(LIBDE265_SOURCES "")
foreach(name ${LIBDE265_FILES})
  list(APPEND LIBDE265_SOURCES ${LIBDE265_SOURCE}/libde265/${name}.cc)
endforeach()
codec_library(quennel_de265 ${LIBDE265_SOURCES})
set_source_files_properties(${LIBDE265_SOURCE}/libde265/x86/sse-motion.cc ${LIBDE265_SOURCE}/libde265/x86/sse-dct.cc
  PROPERTIES COMPILE_OPTIONS "-msse2;-mssse3;-msse4.1")
target_compile_definitions(quennel_de265 PRIVATE HAVE_SSE4_1=1 HAVE_MALLOC_H=1)
target_compile_definitions(quennel_de265 PUBLIC LIBDE265_STATIC_BUILD)
target_include_directories(quennel_de265 SYSTEM PUBLIC ${LIBDE265_SOURCE})
target_include_directories(quennel_de265 PRIVATE ${LIBDE265_SOURCE}/libde265 ${LIBDE265_SOURCE}/extra)

# dav1d: the portable C code for 8 and 16 bits a sample, without its nasm
# assembly (AV1 speed is not what this build is tuned for), with its own
# Windows thread layer.
debian_source(DAV1D_SOURCE dav1d ${DAV1D_DEBIAN_VERSION})
set(DAV1D_CONFIG ${CMAKE_BINARY_DIR}/_deps/dav1d/config)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(DAV1D_X86_64 1)
  set(DAV1D_X86_32 0)
else()
  set(DAV1D_X86_64 0)
  set(DAV1D_X86_32 1)
endif()
file(WRITE ${DAV1D_CONFIG}/config.h.new
  "#pragma once\n"
  "#define ARCH_AARCH64 0\n#define ARCH_ARM 0\n#define ARCH_PPC64LE 0\n"
  "#define ARCH_X86 1\n#define ARCH_X86_32 ${DAV1D_X86_32}\n#define ARCH_X86_64 ${DAV1D_X86_64}\n"
  "#define CONFIG_8BPC 1\n#define CONFIG_16BPC 1\n#define CONFIG_LOG 0\n"
  "#define ENDIANNESS_BIG 0\n#define HAVE_ASM 0\n#define HAVE_ALIGNED_MALLOC 1\n"
  "#define HAVE_IO_H 1\n#define HAVE_UNISTD_H 1\n#define STACK_ALIGNMENT 16\n")
file(WRITE ${DAV1D_CONFIG}/vcs_version.h.new "#define DAV1D_VERSION \"1.0.0\"\n")
file(WRITE ${DAV1D_CONFIG}/include/dav1d/version.h.new
  "#ifndef DAV1D_VERSION_H\n#define DAV1D_VERSION_H\n"
  "#define DAV1D_API_VERSION_MAJOR 6\n#define DAV1D_API_VERSION_MINOR 6\n#define DAV1D_API_VERSION_PATCH 0\n"
  "#endif\n")
# Rewritten only when changed, so that a second configure rebuilds nothing.
foreach(name config.h vcs_version.h include/dav1d/version.h)
  configure_file(${DAV1D_CONFIG}/${name}.new ${DAV1D_CONFIG}/${name} COPYONLY)
endforeach()
set(DAV1D_FILES cdf cpu data decode dequant_tables getbits intra_edge itx_1d lf_mask log mem msac obu
  picture qm ref refmvs scan tables warpmv wedge lib thread_task win32/thread)
set(DAV1D_TEMPLATES cdef_apply cdef fg_apply filmgrain ipred_prepare ipred itx lf_apply loopfilter
  looprestoration lr_apply mc recon)
set(DAV1D_SOURCES "")
foreach(name ${DAV1D_FILES})
  list(APPEND DAV1D_SOURCES ${DAV1D_SOURCE}/src/${name}.c)
endforeach()
set(DAV1D_TEMPLATE_SOURCES "")
foreach(name ${DAV1D_TEMPLATES})
  list(APPEND DAV1D_TEMPLATE_SOURCES ${DAV1D_SOURCE}/src/${name}_tmpl.c)
endforeach()
function(dav1d_settings target)
  target_compile_options(${target} PRIVATE -O2 -w)
  target_compile_definitions(${target} PRIVATE _POSIX_C_SOURCE=200112L __USE_MINGW_ANSI_STDIO=0)
  target_include_directories(${target} PRIVATE ${DAV1D_CONFIG} ${DAV1D_SOURCE} ${DAV1D_SOURCE}/include
    ${DAV1D_SOURCE}/include/dav1d ${DAV1D_CONFIG}/include/dav1d)
endfunction()
# The sample-size templates are compiled once for each size.
foreach(bits 8 16)
  add_library(quennel_dav1d_${bits}bpc OBJECT ${DAV1D_TEMPLATE_SOURCES})
  dav1d_settings(quennel_dav1d_${bits}bpc)
  target_compile_definitions(quennel_dav1d_${bits}bpc PRIVATE BITDEPTH=${bits})
endforeach()
add_library(quennel_dav1d STATIC ${DAV1D_SOURCES}
  $<TARGET_OBJECTS:quennel_dav1d_8bpc> $<TARGET_OBJECTS:quennel_dav1d_16bpc>)
dav1d_settings(quennel_dav1d)
target_include_directories(quennel_dav1d SYSTEM PUBLIC ${DAV1D_SOURCE}/include ${DAV1D_CONFIG}/include
  ${DAV1D_CONFIG}/include/dav1d)

# libheif: the reading side and the two decoder plugins, built in; its
# tiles decoded on several threads (std::thread on MinGW's POSIX threads,
# linked statically like the rest of the runtime).
# Its HEVC plugin decodes in the calling thread
# (cmake/patches/libheif-de265-in-calling-thread.patch).
debian_source(LIBHEIF_SOURCE libheif ${LIBHEIF_DEBIAN_VERSION}
  PATCHES ${CMAKE_CURRENT_LIST_DIR}/patches/libheif-de265-in-calling-thread.patch)
set(LIBHEIF_FILES bitstream box error heif heif_avif heif_colorconversion heif_context heif_file
  heif_hevc heif_image heif_init heif_plugin heif_plugin_registry nclx exif metadata_compression
  common_utils plugins/heif_decoder_libde265 plugins/heif_decoder_dav1d)
set(LIBHEIF_SOURCES "")
foreach(name ${LIBHEIF_FILES})
  list(APPEND LIBHEIF_SOURCES ${LIBHEIF_SOURCE}/libheif/${name}.cc)
endforeach()
codec_library(quennel_heif ${LIBHEIF_SOURCES})
target_compile_definitions(quennel_heif PRIVATE HAVE_LIBDE265=1 HAVE_DAV1D=1
  ENABLE_MULTITHREADING_SUPPORT=1 ENABLE_PARALLEL_TILE_DECODING=1)
target_include_directories(quennel_heif SYSTEM PUBLIC ${LIBHEIF_SOURCE})
target_include_directories(quennel_heif PRIVATE ${LIBHEIF_SOURCE}/libheif ${LIBHEIF_SOURCE}/libheif/plugins)
# Privately: the decoders' headers (dav1d's "version.h") stay out of the
# converter's include path; their archives are linked all the same.
target_link_libraries(quennel_heif PRIVATE quennel_de265 quennel_dav1d)
