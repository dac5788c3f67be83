// The final report of a run.
#ifndef DRUVIK_REPORT_H_
#define DRUVIK_REPORT_H_

#include <cstdint>
#include <cstdio>

struct ReportFigures {
  int64_t reads = 0;
  int64_t writes = 0;
  int64_t size = 0;       // bytes per transfer
  int64_t elapsed_s = 0;  // whole seconds; 0 is reported as 1
  int64_t wall_ms = 0;    // the same span in milliseconds
  int64_t user_ms = 0;    // CPU time of the run
  int64_t system_ms = 0;
};

// Prints the figures. Rates are single precision, as always; with no I/O at
// all the per-I/O figures are 0 rather than a division by zero.
void print_report(FILE* out, const ReportFigures& f);

#endif  // DRUVIK_REPORT_H_
