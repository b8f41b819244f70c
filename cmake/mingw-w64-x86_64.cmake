# Cross-build for 64-bit Windows with Debian's mingw-w64 compiler
# (g++-mingw-w64-x86-64-posix): the core libraries, ktr-cli, the Win32
# window KTRWebServer.exe and the core tests as Windows programs, which run
# under Wine.
#
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KTR_MINGW_TRIPLE x86_64-w64-mingw32)
# The "posix" thread model: std::thread and std::mutex on winpthreads. GCC 12
# built for the "win32" model has no std::mutex.
set(CMAKE_C_COMPILER ${KTR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KTR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KTR_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KTR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained programs: the GCC runtime, libstdc++ and winpthreads are
# linked in, so neither Wine nor a Windows machine needs mingw's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Boost.Asio/Beast, RapidJSON and CLI11 are header-only and come from the
# build machine's Debian packages. /usr/include cannot go on the include
# path whole (its C library headers would hide mingw's own), so a folder in
# the build tree links to those three alone; it is searched after the
# compiler's own folders.
set(KTR_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
foreach(library boost rapidjson CLI)
  if(NOT EXISTS ${KTR_HOST_HEADERS}/${library})
    file(MAKE_DIRECTORY ${KTR_HOST_HEADERS})
    file(CREATE_LINK /usr/include/${library} ${KTR_HOST_HEADERS}/${library} SYMBOLIC)
  endif()
endforeach()
set(CMAKE_CXX_FLAGS_INIT "-idirafter ${KTR_HOST_HEADERS}")
# find_package of the three: FindBoost reads the version from the headers;
# CLI11 and RapidJSON get package files that only say "found".
set(Boost_INCLUDE_DIR ${KTR_HOST_HEADERS} CACHE PATH "Boost headers (build machine)")
set(Boost_NO_BOOST_CMAKE ON CACHE BOOL "")
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-w64 CACHE PATH "")
set(RapidJSON_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-w64 CACHE PATH "")

# Test programs (and GoogleTest's test discovery at build time) run under
# Wine, in a prefix of this build tree. scripts/test-windows creates it once;
# Wine creates it on first use otherwise (about 10 s).
set(KTR_WINE /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader for 64-bit programs")
set(KTR_WINEPREFIX ${CMAKE_BINARY_DIR}/wine CACHE PATH "Wine prefix of the test runs")
# tests/windows/wine-run says why a program failed (its watchdog, a crash,
# Wine not starting it).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run ${KTR_WINE} ${KTR_WINEPREFIX})
