# CLI11 for the mingw-w64 cross-build: header-only, reached through the
# toolchain's folder of build-machine headers (mingw-w64-x86_64.cmake).
if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
endif()
set(CLI11_FOUND TRUE)
