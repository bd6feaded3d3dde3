# LibRaw, the camera raw decoder, as the static library target quennel_raw
# from its pinned Debian source package (cmake/DebianSource.cmake), its
# sources compiled as a plain target: no threads or OpenMP, no Jasper
# (RED cine), no demosaic packs, no DNG SDK or RawSpeed. zlib inflates
# deflate-compressed (floating point) DNGs, libjpeg-turbo lossy DNGs.
set(LIBRAW_DEBIAN_VERSION "0.20.2-2.1+deb12u1")
debian_source(LIBRAW_SOURCE libraw ${LIBRAW_DEBIAN_VERSION})
set(LIBRAW_FILES
  libraw_c_api libraw_datastream
  decoders/canon_600 decoders/crx decoders/decoders_dcraw decoders/decoders_libraw_dcrdefs
  decoders/decoders_libraw decoders/dng decoders/fp_dng decoders/fuji_compressed decoders/generic
  decoders/kodak_decoders decoders/load_mfbacks decoders/smal decoders/unpack_thumb decoders/unpack
  demosaic/aahd_demosaic demosaic/ahd_demosaic demosaic/dcb_demosaic demosaic/dht_demosaic
  demosaic/misc_demosaic demosaic/xtrans_demosaic
  integration/dngsdk_glue integration/rawspeed_glue
  metadata/adobepano metadata/canon metadata/ciff metadata/cr3_parser metadata/epson metadata/exif_gps
  metadata/fuji metadata/identify_tools metadata/identify metadata/kodak metadata/leica
  metadata/makernotes metadata/mediumformat metadata/minolta metadata/misc_parsers metadata/nikon
  metadata/normalize_model metadata/olympus metadata/hasselblad_model metadata/p1 metadata/pentax
  metadata/samsung metadata/sony metadata/tiff
  postprocessing/aspect_ratio postprocessing/dcraw_process postprocessing/mem_image
  postprocessing/postprocessing_aux postprocessing/postprocessing_utils_dcrdefs
  postprocessing/postprocessing_utils
  preprocessing/ext_preprocess preprocessing/raw2image preprocessing/subtract_black
  tables/cameralist tables/colorconst tables/colordata tables/wblists
  utils/curves utils/decoder_info utils/init_close_utils utils/open utils/phaseone_processing
  utils/read_utils utils/thumb_utils utils/utils_dcraw utils/utils_libraw
  write/apply_profile write/file_write write/tiff_writer
  x3f/x3f_parse_process x3f/x3f_utils_patched)
set(LIBRAW_SOURCES)
foreach(name ${LIBRAW_FILES})
  list(APPEND LIBRAW_SOURCES ${LIBRAW_SOURCE}/src/${name}.cpp)
endforeach()
add_library(quennel_raw STATIC ${LIBRAW_SOURCES})
target_compile_options(quennel_raw PRIVATE -O2 -w)
target_compile_definitions(quennel_raw PUBLIC LIBRAW_NODLL LIBRAW_NOTHREADS LIBRAW_NO_WINSOCK2
  PRIVATE USE_ZLIB USE_JPEG)
# Without Winsock's header (and its DLL) LibRaw still needs the byte-order
# functions for its few big-endian fields: a header of our own gives them.
target_compile_options(quennel_raw PRIVATE -include ${CMAKE_SOURCE_DIR}/cmake/libraw-byteorder.h)
target_include_directories(quennel_raw SYSTEM PUBLIC ${LIBRAW_SOURCE})
target_link_libraries(quennel_raw PRIVATE quennel_zlib quennel_jpeg)
