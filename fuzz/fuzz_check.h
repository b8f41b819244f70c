// The property check of the fuzz targets: a broken property aborts, so that
// libFuzzer stops, reports it like a crash and keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace ktr::fuzz {

inline void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

}  // namespace ktr::fuzz
