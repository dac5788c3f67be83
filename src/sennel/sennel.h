// Sennel, the I/O benchmark statistics reporter: samples the TableSTAT
// segment at a fixed interval and prints, for every active slot, the owner's
// cumulative counters and its operation, read and write rates over the last
// interval. It runs until it is killed.
#ifndef SENNEL_SENNEL_H_
#define SENNEL_SENNEL_H_

#include <cstdio>

#include "omnitally/omnitally.h"

inline constexpr char kSennelVersion[] = "v.4.0";

void print_sennel_usage(FILE* out, const char* prog);

// The header with its fixed row for identifier 0.
void print_header(FILE* out);

// One interval: prints the header and a line for every slot alive in
// `fresh` (a copy of the segment just taken), with rates against `old` over
// `interval` seconds. A slot that did nothing since `old` gets `alive`
// cleared in `live`, the segment itself. Then `fresh` becomes `old`.
void sennel_interval(TableSTAT* live, TableSTAT* old, const TableSTAT& fresh, int interval,
                     FILE* out);

// The whole program: Sennel key timeout [reset]. Returns -1 for the usage
// text; otherwise runs until killed (segment failures exit with -2).
int sennel_main(int argc, char** argv);

#endif  // SENNEL_SENNEL_H_
