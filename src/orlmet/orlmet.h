// Orlmet, the client statistics reporter: samples the client slot table at a
// fixed interval and prints, for each client whose read count moved, its
// reads and writes over the interval and its average cost per operation for
// two kinds of reads (SEL1, SEL2) and three kinds of writes (DEL, INS, UPD),
// then a sum line and a per-second line for all clients together. It runs
// until it is killed and never writes to the segment.
#ifndef ORLMET_ORLMET_H_
#define ORLMET_ORLMET_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "omnitally/client_slot.h"

inline constexpr int kMaxClients = 100000;  // 20 MB of slots

// One client as last parsed: the slot's counters in slot order, and how many
// times its slot was found torn (eighth value unlike the first, or fields
// missing).
struct ClientRow {
  char group[kGroupSize];
  int32_t counters[kClientCounters];  // reads writes SEL1 SEL2 DEL INS UPD
  int32_t mismatches;
};
static_assert(sizeof(ClientRow) == 64);

void print_orlmet_usage(FILE* out, const char* prog);

// Parses `max_id` slots of `snapshot` into `rows`. An empty slot leaves its
// row as it was; a torn one keeps the counters and adds to the mismatches.
void parse_snapshot(const char* snapshot, int max_id, ClientRow* rows);

// The first snapshot: parsed into `old`, and `fresh` starts as its copy, so
// a slot found empty or torn in a later snapshot keeps the values last seen
// instead of the zeros of a row never parsed (which would read as a counter
// drop, and a torn first slot as a negative C/N).
void start_tables(const char* snapshot, int max_id, ClientRow* old, ClientRow* fresh);

struct IntervalOptions {
  int max_id = 0;
  int interval = 1;  // seconds
  int selector = 0;  // N: with N > 1 only every N-th changed client line is printed
};

// One interval's report from the rows just parsed (`fresh`) against `old`;
// rows that moved become the new `old`.
void orlmet_interval(ClientRow* old, const ClientRow* fresh, const IntervalOptions& opt, FILE* out);

// The whole program: Orlmet key MaxID timeout [skip_every_N]. Returns -1 for
// the usage text; otherwise runs until killed (segment failures exit -2).
int orlmet_main(int argc, char** argv);

#endif  // ORLMET_ORLMET_H_
