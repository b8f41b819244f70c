# RapidJSON for the mingw-w64 cross-build: header-only, reached through the
# toolchain's folder of build-machine headers (mingw-w64-x86_64.cmake).
set(RapidJSON_INCLUDE_DIRS "")
set(RapidJSON_FOUND TRUE)
