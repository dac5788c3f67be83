// Throughput of the line translator: a text line with several value
// references, translated again and again, as a page loop does.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "vandrel/core/output.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/values/substitution.h"

namespace {

void setup_variables() {
  static bool done = false;
  if (done) return;
  done = true;
  X_store_init();
  X_put_value("name", "Ada Lovelace", 0, 0);
  X_put_value("city", "London", 0, 0);
  X_put_value("count", "1843", 0, 0);
  X_put_value("row1", "first row", 0, 0);
  X_put_value("i", "1", 0, 0);
}

const char kLine[] =
    "<tr><td>$(name)</td><td>$(city)</td><td>$(count)</td><td>$(row$(i))</td>"
    "<td>$(len:name)</td></tr>\n";

void BM_TranslateIntoBuffer(benchmark::State& state) {
  setup_variables();
  char out[8192];
  for (auto _ : state) {
    X_transline(kLine, out, sizeof out, 1);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(state.iterations() * (sizeof kLine - 1));
}
BENCHMARK(BM_TranslateIntoBuffer);

void BM_TranslateToOutput(benchmark::State& state) {
  setup_variables();
  FILE* sink = std::fopen("/dev/null", "w");
  FILE* previous = X_redirect(sink);
  int saved_flush = DO_fflush;
  DO_fflush = 0;  // a redirected block does not flush per line
  for (auto _ : state) X_transline(kLine, nullptr, 0, 1);
  DO_fflush = saved_flush;
  X_redirect(previous);
  std::fclose(sink);
  state.SetBytesProcessed(state.iterations() * (sizeof kLine - 1));
}
BENCHMARK(BM_TranslateToOutput);

void BM_PlainTextLine(benchmark::State& state) {
  setup_variables();
  static const char kPlain[] = "<tr><td>no references on this line at all</td></tr>\n";
  char out[8192];
  for (auto _ : state) {
    X_transline(kPlain, out, sizeof out, 1);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(state.iterations() * (sizeof kPlain - 1));
}
BENCHMARK(BM_PlainTextLine);

}  // namespace
