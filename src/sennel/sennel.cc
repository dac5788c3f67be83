#include "sennel/sennel.h"

#include <cstring>
#include <memory>

#include "base/leading_int.h"
#include "base/ticker.h"

void print_sennel_usage(FILE* out, const char* prog) {
  std::fprintf(out, "\n%s (vek) %s\n\nUsage: %s key timeout [reset]\n", prog, kSennelVersion, prog);
}

void print_header(FILE* out) {
  std::fputs(
      "\n ID  GROUP                     NAME     OpTot   ReadTot  WriteTot     Op/s   Read/s  "
      "Write/s\n  0  none                      none         0         0         0        0        "
      "0        0\n",
      out);
}

void sennel_interval(TableSTAT* live, TableSTAT* old, const TableSTAT& fresh, int interval,
                     FILE* out) {
  print_header(out);
  const float t = static_cast<float>(interval);
  for (int i = 0; i < kSessionSlots; ++i) {
    const SessionSTAT& n = fresh.sess[i];
    SessionSTAT& o = old->sess[i];
    if (n.alive == 0) continue;
    if (n.ops == o.ops) {
      // Idle: shown this once, then hidden until its owner counts again.
      shm_store(&live->sess[i].alive, 0);
    } else if (n.ops < o.ops) {
      // The owner took the slot afresh (or was reset): a new baseline.
      o.ops = n.ops;
      o.reads = n.reads;
      o.writes = n.writes;
    }
    // Differences in 64 bits: a garbage slot may hold any two values.
    auto rate = [t](int32_t now, int32_t before) {
      return static_cast<float>(static_cast<int64_t>(now) - before) / t;
    };
    char group[kGroupSize];
    printable_group(n.group, kGroupSize, group);
    std::fprintf(out, "%3d  %-12s  %12s-%03d  %8d  %8d  %8d  %7.1f  %7.1f  %7.1f\n", i + 1, group,
                 group, i + 1, n.ops, n.reads, n.writes, rate(n.ops, o.ops), rate(n.reads, o.reads),
                 rate(n.writes, o.writes));
  }
  std::memcpy(old, &fresh, sizeof(TableSTAT));
}

int sennel_main(int argc, char** argv) {
  const char* prog = argc > 0 ? argv[0] : "Sennel";
  if (argc < 3) {
    print_sennel_usage(stdout, prog);
    return -1;
  }
  int interval = leading_int32(argv[2]);
  if (interval < 1) {
    // 0 would print as fast as the terminal takes it and divide the rates by 0.
    std::printf("\tillegal timeout: %s (whole seconds, at least 1)\n", argv[2]);
    print_sennel_usage(stdout, prog);
    return -1;
  }
  auto* live = static_cast<TableSTAT*>(shm_attach_or_exit(argv[1], sizeof(TableSTAT)));
  if (argc > 3) std::memset(live, 0, sizeof(TableSTAT));

  auto old = std::make_unique<TableSTAT>();
  auto fresh = std::make_unique<TableSTAT>();
  Ticker ticker(static_cast<int64_t>(interval) * 1000000000);
  print_header(stdout);
  std::fflush(stdout);
  std::memcpy(old.get(), live, sizeof(TableSTAT));
  for (;;) {
    ticker.wait();
    std::memcpy(fresh.get(), live, sizeof(TableSTAT));
    sennel_interval(live, old.get(), *fresh, interval, stdout);
    std::fflush(stdout);
  }
}
