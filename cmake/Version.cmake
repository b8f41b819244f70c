# The program's version, one text for ktr-cli --version, ktr-sim --version,
# the window's log and the packages: the project version, and in a git
# checkout of this project the commits since the tag v<project version> (or
# since the first commit while there is no such tag) and the commit itself:
#
#   1.0.0                   a tarball, or the tagged commit with no changes
#   1.0.0+git5.gabc1234     five commits after v1.0.0 (or the 5th commit)
#   1.0.0+git5.gabc1234.dirty   the same with uncommitted changes
#
# Valid as a Debian version as it is (upstream part only, no revision).
# Worked out on every build (two git calls) into generated/ktr_version.h and
# generated/ktr_version.cmake (read by CPack); the files are rewritten only
# when the text changes, so an unchanged version rebuilds nothing.
set(KTR_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(KTR_VERSION_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/version_files.cmake)
set(KTR_VERSION_ARGS -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DBASE_VERSION=${PROJECT_VERSION}
    -DOUTPUT_DIR=${KTR_GENERATED_DIR})

# Once now, so that the files exist for whatever reads them before a build.
execute_process(COMMAND ${CMAKE_COMMAND} ${KTR_VERSION_ARGS} -P ${KTR_VERSION_SCRIPT})
add_custom_target(ktr_version_files
  COMMAND ${CMAKE_COMMAND} ${KTR_VERSION_ARGS} -P ${KTR_VERSION_SCRIPT}
  BYPRODUCTS ${KTR_GENERATED_DIR}/ktr_version.h ${KTR_GENERATED_DIR}/ktr_version.cmake
  VERBATIM)

# Link to it for #include "ktr_version.h"; the files are made before the
# target that links it is compiled.
add_library(ktr_version INTERFACE)
target_include_directories(ktr_version INTERFACE ${KTR_GENERATED_DIR})
add_dependencies(ktr_version ktr_version_files)
