// The pattern cache's hit path: conditions in loops test the same patterns
// again and again.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "vandrel/core/patterns.h"

namespace {

void BM_PatternCacheHit(benchmark::State& state) {
  const char* texts[] = {"index.html", "style.css", "notes.htm", "image.png"};
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(X_CMPpatt("*.html||*.htm", texts[i++ & 3]));
  }
}
BENCHMARK(BM_PatternCacheHit);

void BM_PatternCacheHitAmongMany(benchmark::State& state) {
  // Fill the cache with other patterns first, so the lookup walks entries.
  char patt[32];
  for (int n = 0; n < 100; ++n) {
    std::snprintf(patt, sizeof patt, "prefix%d*", n);
    X_CMPpatt(patt, "prefix1x");
  }
  for (auto _ : state) benchmark::DoNotOptimize(X_CMPpatt("[a-z]*_[0-9]", "row_7"));
}
BENCHMARK(BM_PatternCacheHitAmongMany);

}  // namespace
