// Druvik, the I/O benchmark: reads and writes of one fixed size against one
// or two existing files, sequentially or at random block positions,
// optionally paced, until a count is reached or a signal stops it; then a
// throughput and CPU report. While it runs, its counters are published in
// its SessionSTAT slot of the shared TableSTAT.
#ifndef DRUVIK_DRUVIK_H_
#define DRUVIK_DRUVIK_H_

// The whole program. Exit statuses: 0 after the final report; -2 for usage
// errors and segment failures; the errno when a file cannot be opened; 1
// when the CPU or wall clock cannot be read at start, -1 at the end.
int druvik_main(int argc, char** argv);

#endif  // DRUVIK_DRUVIK_H_
