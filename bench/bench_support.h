// Shared pieces of the benchmarks: timing statistics and the result table.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace ktr::bench {

using Clock = std::chrono::steady_clock;

struct Stats {
  double median = 0;  // microseconds
  double p99 = 0;
  int failures = 0;
};

// Runs `once` n times; a call that returns false counts as a failure and is
// left out of the figures.
template <typename F>
Stats Measure(int n, F&& once) {
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(n));
  Stats s;
  for (int i = 0; i < n; ++i) {
    const auto t0 = Clock::now();
    const bool ok = once();
    const double elapsed = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    if (ok) {
      us.push_back(elapsed);
    } else {
      ++s.failures;
    }
  }
  if (!us.empty()) {
    std::sort(us.begin(), us.end());
    s.median = us[us.size() / 2];
    s.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  }
  return s;
}

// One line of the table: "metric | ours | peer | ratio | goal", written as a
// Markdown table row on stdout.
inline void Row(const std::string& metric, double ours, double peer, const std::string& unit,
                const std::string& goal, int failures = 0) {
  char o[64], p[64], r[32];
  std::snprintf(o, sizeof o, "%.3g %s", ours, unit.c_str());
  if (peer > 0) {
    std::snprintf(p, sizeof p, "%.3g %s", peer, unit.c_str());
    std::snprintf(r, sizeof r, "%.2f", ours / peer);
  } else {
    std::snprintf(p, sizeof p, "-");
    std::snprintf(r, sizeof r, "-");
  }
  std::printf("| %s | %s | %s | %s | %s |%s\n", metric.c_str(), o, p, r, goal.c_str(),
              failures > 0 ? (" " + std::to_string(failures) + " failed").c_str() : "");
  std::fflush(stdout);
}

}  // namespace ktr::bench
