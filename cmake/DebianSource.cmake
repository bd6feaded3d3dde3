# The codecs the converter links in come from Debian's source packages, one
# pinned version each, hash-checked and with Debian's patches applied
# (scripts/fetch-debian-source.sh), and are built with this build's own MinGW
# toolchain as static libraries: the shipped programs import system DLLs only.

# The toolchain file as an absolute path, for the codecs built as projects
# of their own. A relative path means the build folder first, then the source.
set(DEBIAN_SOURCE_TOOLCHAIN ${CMAKE_TOOLCHAIN_FILE})
if(NOT IS_ABSOLUTE ${DEBIAN_SOURCE_TOOLCHAIN})
  if(EXISTS ${CMAKE_BINARY_DIR}/${DEBIAN_SOURCE_TOOLCHAIN})
    set(DEBIAN_SOURCE_TOOLCHAIN ${CMAKE_BINARY_DIR}/${DEBIAN_SOURCE_TOOLCHAIN})
  else()
    set(DEBIAN_SOURCE_TOOLCHAIN ${CMAKE_SOURCE_DIR}/${DEBIAN_SOURCE_TOOLCHAIN})
  endif()
endif()

# Fetches <package>=<version> while configuring, so that its files can be
# listed in targets of this build; sets <out_var> to its patched tree. The
# script's stamp makes a second configure cost nothing. After PATCHES, this
# build's own patches (cmake/patches), applied after Debian's; the tree
# notes which, and a tree patched otherwise is fetched afresh.
function(debian_source out_var package version)
  cmake_parse_arguments(ARG "" "" "PATCHES" ${ARGN})
  set(root ${CMAKE_BINARY_DIR}/_deps/${package})
  set(wanted "")
  foreach(patch ${ARG_PATCHES})
    file(SHA256 ${patch} hash)
    string(APPEND wanted "${hash}\n")
  endforeach()
  set(stamp ${root}/source/.own-patches)
  set(applied "")
  if(EXISTS ${stamp})
    file(READ ${stamp} applied)
  endif()
  if(NOT applied STREQUAL wanted)
    file(REMOVE_RECURSE ${root}/source)
  endif()
  execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-debian-source.sh ${package} ${version} ${root}
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Could not fetch the Debian source package ${package}=${version}")
  endif()
  if(NOT EXISTS ${stamp} AND ARG_PATCHES)
    foreach(patch ${ARG_PATCHES})
      execute_process(COMMAND patch -d ${root}/source -p1 -s --no-backup-if-mismatch -i ${patch}
                      RESULT_VARIABLE result)
      if(NOT result EQUAL 0)
        message(FATAL_ERROR "${patch} does not apply to ${package}=${version}")
      endif()
    endforeach()
    file(WRITE ${stamp} "${wanted}")
  endif()
  set(${out_var} ${root}/source PARENT_SCOPE)
endfunction()
