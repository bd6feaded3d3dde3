# OpenJPEG, the JPEG 2000 reference codec, as the static library target
# `openjp2` (OPJ_STATIC defined for its users). Debian ships no Windows build,
# so its source package is fetched at build time (scripts/fetch-debian-source.sh,
# one pinned version) and built with this build's own MinGW toolchain. Both
# steps leave stamps in the build tree: a second build costs nothing.
set(OPENJPEG_DEBIAN_VERSION "2.5.0-2+deb12u3")
set(OPENJPEG_ROOT ${CMAKE_BINARY_DIR}/_deps/openjpeg2)
set(OPENJPEG_INSTALL ${OPENJPEG_ROOT}/install)
set(OPENJPEG_LIBRARY ${OPENJPEG_INSTALL}/lib/libopenjp2.a)

include(ExternalProject)
ExternalProject_Add(openjpeg_build
  PREFIX ${OPENJPEG_ROOT}
  SOURCE_DIR ${OPENJPEG_ROOT}/source
  BINARY_DIR ${OPENJPEG_ROOT}/build
  INSTALL_DIR ${OPENJPEG_INSTALL}
  DOWNLOAD_COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-debian-source.sh openjpeg2 ${OPENJPEG_DEBIAN_VERSION} ${OPENJPEG_ROOT}
  UPDATE_COMMAND ""
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${DEBIAN_SOURCE_TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
    -DCMAKE_C_FLAGS=-ffunction-sections\ -fdata-sections
    -DBUILD_SHARED_LIBS=OFF
    -DBUILD_STATIC_LIBS=ON
    -DBUILD_CODEC=OFF
    -DBUILD_TESTING=OFF
    -DBUILD_DOC=OFF
  BUILD_BYPRODUCTS ${OPENJPEG_LIBRARY}
  LOG_DOWNLOAD ON
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_INSTALL ON
  LOG_OUTPUT_ON_FAILURE ON)

# The imported target's include folder must exist before the first build.
file(MAKE_DIRECTORY ${OPENJPEG_INSTALL}/include/openjpeg-2.5)
add_library(openjp2 STATIC IMPORTED GLOBAL)
set_target_properties(openjp2 PROPERTIES
  IMPORTED_LOCATION ${OPENJPEG_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${OPENJPEG_INSTALL}/include/openjpeg-2.5
  INTERFACE_COMPILE_DEFINITIONS OPJ_STATIC)
add_dependencies(openjp2 openjpeg_build)
