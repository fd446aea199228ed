// The rounds of a figure as the C++ benchmarks hand them to
// bench/figures.py, which reports every figure of bench/run the same way
// (median of the per-round ratios, their spread, the machine's load).
#pragma once

#include <cstdio>
#include <functional>

namespace avendro::bench {

// What a figure compares; see bench/figures.py.
enum class Kind { kLower, kHigher, kDifference };

// Prints "@figure" when made, one "@round" per Add and "@end" when
// destroyed; each line is flushed at once, so that the reporter reads the
// machine's load when the figure really starts and ends.
class Rounds {
 public:
  // `target` is e.g. "< 1.3" or ">= 0.95", nullptr for none.
  Rounds(const char* title, const char* unit, const char* reference, Kind kind,
         const char* target) {
    const char* kinds[] = {"lower", "higher", "difference"};
    std::printf("@figure\t%s\t%s\t%s\t%s\t%s\n", title, unit, reference,
                kinds[static_cast<int>(kind)], target != nullptr ? target : "-");
    std::fflush(stdout);
  }
  ~Rounds() {
    std::printf("@end\n");
    std::fflush(stdout);
  }
  Rounds(const Rounds&) = delete;
  Rounds& operator=(const Rounds&) = delete;

  void Add(double ours, double reference) {
    std::printf("@round\t%.6g\t%.6g\n", ours, reference);
    std::fflush(stdout);
  }

  // Runs `ours` and `reference` in turns, `rounds` times, after one
  // unrecorded run of each when `warm_up`, and adds what they return.
  void InTurns(int rounds, bool warm_up, const std::function<double()>& ours,
               const std::function<double()>& reference) {
    if (warm_up) {
      ours();
      reference();
    }
    for (int i = 0; i < rounds; ++i) {
      const double a = ours();
      const double b = reference();
      Add(a, b);
    }
  }
};

}  // namespace avendro::bench
