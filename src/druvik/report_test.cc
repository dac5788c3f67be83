#include "druvik/report.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string report(const ReportFigures& f) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* out = open_memstream(&buf, &len);
  print_report(out, f);
  std::fclose(out);
  std::string text(buf, len);
  std::free(buf);
  return text;
}

TEST(ReportTest, Figures) {
  EXPECT_EQ(report({300, 100, 8192, 4, 3990, 30, 70}),
            "Elapsed: 4 seconds\nReads: 300\nWrites: 100\nIOs: 400\n"
            "Reads/sec: 75.000000\tWrites/sec: 25.000000\n"
            "IO/sec: 100.000000\tTime(ms) per IO: 9.975000 \n"
            "Read Kb/sec: 600.000000\tWrite Kb/sec: 200.000000\nIO Kb/sec: 800.000000 \n\n"
            "CPU System time(ms): 70\nCPU User time(ms)  : 30\nCPU time(ms)       : 100\n"
            "CPU time(ms) per IO: 0.250000\n\n");
}

TEST(ReportTest, EdgeFigures) {
  // No time and no I/O: one second, and per-I/O figures of 0 rather than NaN.
  std::string text = report({0, 0, 8192, 0, 12, 1, 0});
  EXPECT_NE(text.find("Elapsed: 1 seconds\n"), std::string::npos);
  EXPECT_NE(text.find("Time(ms) per IO: 0.000000 \n"), std::string::npos);
  EXPECT_NE(text.find("CPU time(ms) per IO: 0.000000\n"), std::string::npos);
  // Counts past 32 bits; 3e9 x 10 MB in bytes needs 64: 3e10 KB/s in single precision.
  text = report({3000000000, 0, 10485760, 1024, 0, 0, 0});
  EXPECT_NE(text.find("Reads: 3000000000\n"), std::string::npos);
  EXPECT_NE(text.find("Read Kb/sec: 30000001024.000000\t"), std::string::npos) << text;
}

}  // namespace
