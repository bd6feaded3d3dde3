# zlib, libdeflate, libjpeg-turbo and Little CMS as the static library targets
# quennel_zlib, quennel_deflate, quennel_jpeg and quennel_lcms2, each from its
# pinned Debian source package (cmake/DebianSource.cmake).
set(ZLIB_DEBIAN_VERSION "1:1.2.13.dfsg-1")
set(LIBDEFLATE_DEBIAN_VERSION "1.14-1")
set(LIBJPEG_TURBO_DEBIAN_VERSION "1:2.1.5-2")
set(LCMS2_DEBIAN_VERSION "2.14-2+deb12u1")

# Plain C libraries: their sources compiled as targets of this build, with
# its flags. Their own warnings are not ours to fix.
function(codec_library target)
  add_library(${target} STATIC ${ARGN})
  target_compile_options(${target} PRIVATE -O2 -w)
  set_target_properties(${target} PROPERTIES C_VISIBILITY_PRESET default)
endfunction()

debian_source(ZLIB_SOURCE zlib ${ZLIB_DEBIAN_VERSION})
codec_library(quennel_zlib
  ${ZLIB_SOURCE}/adler32.c ${ZLIB_SOURCE}/compress.c ${ZLIB_SOURCE}/crc32.c ${ZLIB_SOURCE}/deflate.c
  ${ZLIB_SOURCE}/gzclose.c ${ZLIB_SOURCE}/gzlib.c ${ZLIB_SOURCE}/gzread.c ${ZLIB_SOURCE}/gzwrite.c
  ${ZLIB_SOURCE}/infback.c ${ZLIB_SOURCE}/inffast.c ${ZLIB_SOURCE}/inflate.c ${ZLIB_SOURCE}/inftrees.c
  ${ZLIB_SOURCE}/trees.c ${ZLIB_SOURCE}/uncompr.c ${ZLIB_SOURCE}/zutil.c)
target_include_directories(quennel_zlib SYSTEM PUBLIC ${ZLIB_SOURCE})

debian_source(LIBDEFLATE_SOURCE libdeflate ${LIBDEFLATE_DEBIAN_VERSION})
file(GLOB LIBDEFLATE_SOURCES ${LIBDEFLATE_SOURCE}/lib/*.c ${LIBDEFLATE_SOURCE}/lib/x86/*.c)
codec_library(quennel_deflate ${LIBDEFLATE_SOURCES})
target_compile_definitions(quennel_deflate PRIVATE BUILDING_LIBDEFLATE)
target_include_directories(quennel_deflate SYSTEM PUBLIC ${LIBDEFLATE_SOURCE})

debian_source(LCMS2_SOURCE lcms2 ${LCMS2_DEBIAN_VERSION})
file(GLOB LCMS2_SOURCES ${LCMS2_SOURCE}/src/*.c)
codec_library(quennel_lcms2 ${LCMS2_SOURCES})
target_include_directories(quennel_lcms2 SYSTEM PUBLIC ${LCMS2_SOURCE}/include)
target_include_directories(quennel_lcms2 PRIVATE ${LCMS2_SOURCE}/src)

# libjpeg-turbo through its own build, which assembles its SIMD code with
# nasm and writes its configuration header; only the static library is made.
debian_source(LIBJPEG_TURBO_SOURCE libjpeg-turbo ${LIBJPEG_TURBO_DEBIAN_VERSION})
set(LIBJPEG_TURBO_BUILD ${CMAKE_BINARY_DIR}/_deps/libjpeg-turbo/build)
set(LIBJPEG_TURBO_LIBRARY ${LIBJPEG_TURBO_BUILD}/libjpeg.a)
include(ExternalProject)
ExternalProject_Add(libjpeg_turbo_build
  PREFIX ${CMAKE_BINARY_DIR}/_deps/libjpeg-turbo
  SOURCE_DIR ${LIBJPEG_TURBO_SOURCE}
  BINARY_DIR ${LIBJPEG_TURBO_BUILD}
  DOWNLOAD_COMMAND ""
  UPDATE_COMMAND ""
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${DEBIAN_SOURCE_TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=Release
    # Its Windows default (C:/libjpeg-turbo-gcc64) is no path on this host.
    -DCMAKE_INSTALL_PREFIX=<BINARY_DIR>/install
    -DCMAKE_C_FLAGS=-ffunction-sections\ -fdata-sections
    -DCMAKE_ASM_NASM_COMPILER=nasm
    -DENABLE_SHARED=OFF
    -DENABLE_STATIC=ON
    -DWITH_TURBOJPEG=OFF
    -DWITH_SIMD=ON
    -DREQUIRE_SIMD=ON
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${LIBJPEG_TURBO_LIBRARY}
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_OUTPUT_ON_FAILURE ON)
# The imported target's include folders must exist before the first build.
file(MAKE_DIRECTORY ${LIBJPEG_TURBO_BUILD})
add_library(quennel_jpeg STATIC IMPORTED GLOBAL)
set_target_properties(quennel_jpeg PROPERTIES
  IMPORTED_LOCATION ${LIBJPEG_TURBO_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES "${LIBJPEG_TURBO_SOURCE};${LIBJPEG_TURBO_BUILD}")
add_dependencies(quennel_jpeg libjpeg_turbo_build)

# libspng (PNG reading) and libtiff (TIFF reading and writing) as the static
# library targets quennel_spng and quennel_tiff, on the zlib and libjpeg-turbo
# above.
set(LIBSPNG_DEBIAN_VERSION "0.7.3-3")
set(TIFF_DEBIAN_VERSION "4.5.0-6+deb12u4")

# libspng is one C file.
debian_source(LIBSPNG_SOURCE libspng ${LIBSPNG_DEBIAN_VERSION})
codec_library(quennel_spng ${LIBSPNG_SOURCE}/spng/spng.c)
target_compile_definitions(quennel_spng PUBLIC SPNG_STATIC)
# Its SSE2 filters need SSE2 as the 32-bit target's baseline, which GCC 12's
# intrinsics headers then refuse to compile: the 32-bit build takes the
# portable code.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_definitions(quennel_spng PRIVATE SPNG_DISABLE_OPT)
endif()
target_include_directories(quennel_spng SYSTEM PUBLIC ${LIBSPNG_SOURCE}/spng)
target_link_libraries(quennel_spng PUBLIC quennel_zlib)

include(${CMAKE_CURRENT_LIST_DIR}/GifWebp.cmake)

# liblzma (xz-utils) for LZMA inside TIFF: LZMA1/2 and delta, no branch
# filters and no threads. libtiff's codec calls the encoder as well as the
# decoder, so both are built; its tools, lzip and the threaded coders are not.
set(XZ_DEBIAN_VERSION "5.4.1-1+deb12u2")
debian_source(XZ_SOURCE xz-utils ${XZ_DEBIAN_VERSION})
set(LZMA_DIR ${XZ_SOURCE}/src/liblzma)
file(GLOB LZMA_SOURCES ${LZMA_DIR}/common/*.c ${LZMA_DIR}/delta/*.c ${LZMA_DIR}/lz/*.c ${LZMA_DIR}/lzma/*.c)
list(FILTER LZMA_SOURCES EXCLUDE REGEX "(_mt|outqueue|hardware_cputhreads|lzip_decoder|microlzma|string_conversion|tablegen)\\.c$")
list(APPEND LZMA_SOURCES ${LZMA_DIR}/check/check.c ${LZMA_DIR}/check/crc32_fast.c ${LZMA_DIR}/check/crc32_table.c
  ${LZMA_DIR}/check/crc64_fast.c ${LZMA_DIR}/check/crc64_table.c ${LZMA_DIR}/check/sha256.c
  ${LZMA_DIR}/rangecoder/price_table.c ${XZ_SOURCE}/src/common/tuklib_physmem.c)
codec_library(quennel_lzma ${LZMA_SOURCES})
target_compile_options(quennel_lzma PRIVATE -std=gnu99)
target_compile_definitions(quennel_lzma PUBLIC LZMA_API_STATIC)
target_compile_definitions(quennel_lzma PRIVATE HAVE_STDBOOL_H HAVE__BOOL HAVE_STDINT_H HAVE_INTTYPES_H
  HAVE_CHECK_CRC32 HAVE_CHECK_CRC64 HAVE_CHECK_SHA256 HAVE_DECODERS HAVE_ENCODERS
  HAVE_DECODER_LZMA1 HAVE_DECODER_LZMA2 HAVE_DECODER_DELTA HAVE_ENCODER_LZMA1 HAVE_ENCODER_LZMA2 HAVE_ENCODER_DELTA
  HAVE_MF_HC3 HAVE_MF_HC4 HAVE_MF_BT2 HAVE_MF_BT3 HAVE_MF_BT4 TUKLIB_SYMBOL_PREFIX=lzma_ TUKLIB_PHYSMEM_WINDOWS)
target_include_directories(quennel_lzma SYSTEM PUBLIC ${LZMA_DIR}/api)
target_include_directories(quennel_lzma PRIVATE ${LZMA_DIR}/common ${LZMA_DIR}/check ${LZMA_DIR}/delta ${LZMA_DIR}/lz
  ${LZMA_DIR}/lzma ${LZMA_DIR}/rangecoder ${LZMA_DIR}/simple ${XZ_SOURCE}/src/common)

# libtiff through its own build, which writes its configuration headers; only
# the library, with the codecs pictures in the wild use (none, CCITT,
# PackBits, LZW, Deflate through zlib, JPEG and old-style JPEG through
# libjpeg-turbo, LZMA through liblzma, WebP through libwebp's decoder (the
# target quennel_webpdec of cmake/GifWebp.cmake),
# LogLuv, ThunderScan, NeXT). Its other codecs need libraries we do not build.
debian_source(TIFF_SOURCE tiff ${TIFF_DEBIAN_VERSION})
set(TIFF_BUILD ${CMAKE_BINARY_DIR}/_deps/tiff/build)
set(TIFF_LIBRARY ${TIFF_BUILD}/libtiff/libtiff.a)
ExternalProject_Add(tiff_build
  PREFIX ${CMAKE_BINARY_DIR}/_deps/tiff
  SOURCE_DIR ${TIFF_SOURCE}
  BINARY_DIR ${TIFF_BUILD}
  DOWNLOAD_COMMAND ""
  UPDATE_COMMAND ""
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${DEBIAN_SOURCE_TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=OFF
    -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dtiff-install=OFF
    -Dcxx=OFF -Dlibdeflate=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=ON -Dzstd=OFF -Dwebp=ON
    -Dpixarlog=OFF -Djpeg12=OFF -Dsphinx=OFF
    -DZLIB_INCLUDE_DIR=${ZLIB_SOURCE}
    -DZLIB_LIBRARY=$<TARGET_FILE:quennel_zlib>
    -DJPEG_INCLUDE_DIR=${LIBJPEG_TURBO_SOURCE}
    -DJPEG_LIBRARY=${LIBJPEG_TURBO_LIBRARY}
    -DLIBLZMA_INCLUDE_DIR=${LZMA_DIR}/api
    -DLIBLZMA_LIBRARY=$<TARGET_FILE:quennel_lzma>
    # Known to be there: the checks would link test programs before the library exists.
    -DLIBLZMA_HAS_AUTO_DECODER=ON -DLIBLZMA_HAS_EASY_ENCODER=ON -DLIBLZMA_HAS_LZMA_PRESET=ON
    -DWebP_INCLUDE_DIR=${CMAKE_BINARY_DIR}/_deps/libwebp/source/src
    -DWebP_LIBRARY=$<TARGET_FILE:quennel_webpdec>
    -DCMAKE_C_FLAGS=-ffunction-sections\ -fdata-sections\ -I${LIBJPEG_TURBO_BUILD}\ -DLZMA_API_STATIC
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target tiff
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${TIFF_LIBRARY}
  DEPENDS quennel_zlib quennel_lzma quennel_webpdec libjpeg_turbo_build
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_OUTPUT_ON_FAILURE ON)
file(MAKE_DIRECTORY ${TIFF_BUILD}/libtiff)
add_library(quennel_tiff STATIC IMPORTED GLOBAL)
set_target_properties(quennel_tiff PROPERTIES
  IMPORTED_LOCATION ${TIFF_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES "${TIFF_SOURCE}/libtiff;${TIFF_BUILD}/libtiff"
  INTERFACE_LINK_LIBRARIES "quennel_jpeg;quennel_zlib;quennel_lzma;quennel_webpenc")
add_dependencies(quennel_tiff tiff_build)
