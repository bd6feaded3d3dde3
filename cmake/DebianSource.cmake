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
# script's stamp makes a second configure cost nothing.
function(debian_source out_var package version)
  set(root ${CMAKE_BINARY_DIR}/_deps/${package})
  execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-debian-source.sh ${package} ${version} ${root}
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Could not fetch the Debian source package ${package}=${version}")
  endif()
  set(${out_var} ${root}/source PARENT_SCOPE)
endfunction()
