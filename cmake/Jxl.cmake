# libjxl's decoder as the static library target quennel_jxl, on highway (its
# SIMD layer) and brotli's decoder (compressed boxes), each from its pinned
# Debian source package (cmake/DebianSource.cmake), compiled as plain targets
# of this build: no encoder, no tools, no tests, no thread pool (the
# converter runs one worker a core already), and no colour management (the
# decoder hands the file's own profile on; the pipeline applies it).
set(JPEG_XL_DEBIAN_VERSION "0.7.0-10+deb12u1")
set(HIGHWAY_DEBIAN_VERSION "1.0.3-3+deb12u1")
set(BROTLI_DEBIAN_VERSION "1.0.9-2")

# brotli: the decoder and the tables it shares with the encoder.
debian_source(BROTLI_SOURCE brotli ${BROTLI_DEBIAN_VERSION})
file(GLOB BROTLI_SOURCES ${BROTLI_SOURCE}/c/common/*.c ${BROTLI_SOURCE}/c/dec/*.c)
codec_library(quennel_brotlidec ${BROTLI_SOURCES})
target_include_directories(quennel_brotlidec SYSTEM PUBLIC ${BROTLI_SOURCE}/c/include)

# SIMD targets: SSE4 chosen at run time where the processor has it, else
# the portable code. AVX2 and AVX-512 are left out: MinGW's GCC does not
# align the stack for 32-byte vectors on 64-bit Windows (spills would
# fault), highway already refuses them on 32 bits, and every target left
# out is one compilation less of every SIMD file. SSSE3 alone (processors
# before 2008) takes the portable path too.
set(JXL_HWY_DISABLED "HWY_DISABLED_TARGETS=(HWY_SSSE3|HWY_AVX2|HWY_AVX3|HWY_AVX3_DL)")

debian_source(HIGHWAY_SOURCE highway ${HIGHWAY_DEBIAN_VERSION})
add_library(quennel_hwy STATIC ${HIGHWAY_SOURCE}/hwy/aligned_allocator.cc ${HIGHWAY_SOURCE}/hwy/targets.cc)
target_compile_options(quennel_hwy PRIVATE -O2 -w)
# For C++ only: the resource compiler takes definitions too, and no "|".
target_compile_definitions(quennel_hwy PUBLIC $<$<COMPILE_LANGUAGE:CXX>:${JXL_HWY_DISABLED}>)
target_include_directories(quennel_hwy SYSTEM PUBLIC ${HIGHWAY_SOURCE})

# libjxl: the decoder's sources as its own jxl.cmake lists them.
debian_source(JPEG_XL_SOURCE jpeg-xl ${JPEG_XL_DEBIAN_VERSION})
file(READ ${JPEG_XL_SOURCE}/lib/jxl.cmake JXL_CMAKE_TEXT)
string(REGEX MATCH "set\\(JPEGXL_INTERNAL_SOURCES_DEC[^)]*\\)" JXL_DEC_LIST "${JXL_CMAKE_TEXT}")
string(REGEX MATCHALL "jxl/[A-Za-z0-9_/-]+\\.cc" JXL_DEC_FILES "${JXL_DEC_LIST}")
list(LENGTH JXL_DEC_FILES JXL_DEC_COUNT)
if(JXL_DEC_COUNT LESS 50)
  message(FATAL_ERROR "libjxl: the decoder's source list was not found in lib/jxl.cmake")
endif()
list(TRANSFORM JXL_DEC_FILES PREPEND ${JPEG_XL_SOURCE}/lib/)

# The two headers its own build writes: the version, and the export
# decoration (none: the library is linked in statically).
set(JXL_GENERATED ${CMAKE_BINARY_DIR}/_deps/jpeg-xl/include)
set(JPEGXL_MAJOR_VERSION 0)
set(JPEGXL_MINOR_VERSION 7)
set(JPEGXL_PATCH_VERSION 0)
configure_file(${JPEG_XL_SOURCE}/lib/jxl/version.h.in ${JXL_GENERATED}/jxl/version.h)
file(WRITE ${JXL_GENERATED}/jxl/jxl_export.h.new
  "#ifndef JXL_EXPORT_H\n#define JXL_EXPORT_H\n#define JXL_EXPORT\n#define JXL_NO_EXPORT\n"
  "#define JXL_DEPRECATED __attribute__((__deprecated__))\n#endif\n")
configure_file(${JXL_GENERATED}/jxl/jxl_export.h.new ${JXL_GENERATED}/jxl/jxl_export.h COPYONLY)

add_library(quennel_jxl STATIC ${JXL_DEC_FILES})
target_compile_options(quennel_jxl PRIVATE -O2 -w -fmerge-all-constants -ffunction-sections -fdata-sections)
target_compile_definitions(quennel_jxl PRIVATE JXL_INTERNAL_LIBRARY_BUILD
  JPEGXL_MAJOR_VERSION=0 JPEGXL_MINOR_VERSION=7 JPEGXL_PATCH_VERSION=0)
target_include_directories(quennel_jxl PRIVATE ${JPEG_XL_SOURCE})
target_include_directories(quennel_jxl SYSTEM PUBLIC ${JPEG_XL_SOURCE}/lib/include ${JXL_GENERATED})
set_target_properties(quennel_jxl PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN 1)
# 32-bit Windows promises a stack aligned to 4 bytes only; the SSE4 code
# keeps 16-byte vectors there.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_options(quennel_jxl PRIVATE -mstackrealign)
  target_compile_options(quennel_hwy PRIVATE -mstackrealign)
endif()
target_link_libraries(quennel_jxl PUBLIC quennel_hwy quennel_brotlidec)
