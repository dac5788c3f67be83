#include "druvik/report.h"

namespace {

// bytes x count / (seconds x 1024), the product taken in 64 bits.
float kb_per_second(int64_t count, int64_t size, int64_t seconds) {
  int64_t bytes;
  float product = __builtin_mul_overflow(count, size, &bytes)
                      ? static_cast<float>(count) * static_cast<float>(size)
                      : static_cast<float>(bytes);
  return product / static_cast<float>(seconds * 1024);
}

float per_io(int64_t value, int64_t ios) {
  return ios == 0 ? 0.0f : static_cast<float>(value) / static_cast<float>(ios);
}

}  // namespace

void print_report(FILE* out, const ReportFigures& f) {
  int64_t e = f.elapsed_s > 0 ? f.elapsed_s : 1;
  int64_t n = f.reads + f.writes;
  float ef = static_cast<float>(e);
  std::fprintf(out, "Elapsed: %lld seconds\n", static_cast<long long>(e));
  std::fprintf(out, "Reads: %lld\nWrites: %lld\nIOs: %lld\n", static_cast<long long>(f.reads),
               static_cast<long long>(f.writes), static_cast<long long>(n));
  std::fprintf(out, "Reads/sec: %f\tWrites/sec: %f\nIO/sec: %f\tTime(ms) per IO: %f \n",
               static_cast<float>(f.reads) / ef, static_cast<float>(f.writes) / ef,
               static_cast<float>(n) / ef, per_io(f.wall_ms, n));
  std::fprintf(out, "Read Kb/sec: %f\tWrite Kb/sec: %f\nIO Kb/sec: %f \n\n",
               kb_per_second(f.reads, f.size, e), kb_per_second(f.writes, f.size, e),
               kb_per_second(n, f.size, e));
  std::fprintf(out, "CPU System time(ms): %lld\n", static_cast<long long>(f.system_ms));
  std::fprintf(out, "CPU User time(ms)  : %lld\n", static_cast<long long>(f.user_ms));
  std::fprintf(out, "CPU time(ms)       : %lld\n", static_cast<long long>(f.user_ms + f.system_ms));
  std::fprintf(out, "CPU time(ms) per IO: %f\n\n", per_io(f.user_ms + f.system_ms, n));
}
