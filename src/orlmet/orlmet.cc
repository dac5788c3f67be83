#include "orlmet/orlmet.h"

#include <cstring>
#include <vector>

#include "base/leading_int.h"
#include "base/ticker.h"
#include "omnitally/omnitally.h"

namespace {

enum Counter { kReads, kWrites, kSel1, kSel2, kDel, kIns, kUpd };

// Per-interval sums; 64 bits, as many clients may add up past 32.
struct Sums {
  int64_t reads = 0, writes = 0;
  int64_t sel1 = 0, sel2 = 0, del = 0, ins = 0, upd = 0;
  int64_t with_reads = 0, with_writes = 0, changed = 0;
};

int64_t avg(int64_t total, int64_t count) {
  return count == 0 ? 0 : total / count;
}

void print_totals(FILE* out, const char* tag, int64_t tot, int64_t reads, int64_t writes,
                  const Sums& s) {
  std::fprintf(out, "%12s-%s  %6lld %4lld %4lld %7lld %7lld %7lld %7lld %7lld %3lld\n", "ALL", tag,
               static_cast<long long>(tot), static_cast<long long>(reads),
               static_cast<long long>(writes), static_cast<long long>(avg(s.sel1, s.with_reads)),
               static_cast<long long>(avg(s.sel2, s.with_reads)),
               static_cast<long long>(avg(s.del, s.with_writes)),
               static_cast<long long>(avg(s.ins, s.with_writes)),
               static_cast<long long>(avg(s.upd, s.with_writes)),
               static_cast<long long>(s.changed));
}

}  // namespace

void print_orlmet_usage(FILE* out, const char* prog) {
  std::fprintf(out, "\n%s (vek) v.1.3\n\nUsage: %s key MaxID timeout [skip_every_N]\n", prog, prog);
  std::fprintf(out,
               "  MaxID        -- client slots of 200 bytes (1:%d)\n"
               "  timeout      -- seconds between reports (at least 1)\n"
               "  skip_every_N -- print only the 1st, (N+1)th, (2N+1)th... changed client line\n"
               "                  of each interval; 0 or 1 prints all. Sums count every client\n",
               kMaxClients);
}

void parse_snapshot(const char* snapshot, int max_id, ClientRow* rows) {
  for (int i = 0; i < max_id; ++i) {
    ClientRow& row = rows[i];
    ClientSlotFields f;
    SlotParse r = parse_client_slot(snapshot + static_cast<size_t>(i) * kClientSlotSize, &f);
    if (r == SlotParse::kEmpty) continue;
    bool torn = r == SlotParse::kMalformed || f.check != f.counters[kReads];
    if (r == SlotParse::kOk) {
      std::memcpy(row.group, f.group, kGroupSize);
      std::memcpy(row.counters, f.counters, sizeof row.counters);
    }
    if (torn && row.mismatches < INT32_MAX) ++row.mismatches;
  }
}

void start_tables(const char* snapshot, int max_id, ClientRow* old, ClientRow* fresh) {
  parse_snapshot(snapshot, max_id, old);
  std::memcpy(fresh, old, static_cast<size_t>(max_id) * sizeof(ClientRow));
}

void orlmet_interval(ClientRow* old, const ClientRow* fresh, const IntervalOptions& opt,
                     FILE* out) {
  std::fputs("\n_______Group-ID__    Tot  Rds  Wrs    SEL1    SEL2     DEL     INS     UPD C/N\n",
             out);
  Sums s;
  for (int i = 0; i < opt.max_id; ++i) {
    const ClientRow& n = fresh[i];
    ClientRow& o = old[i];
    if (n.counters[kReads] == o.counters[kReads]) continue;  // writes wait for the next read
    if (n.counters[kReads] < o.counters[kReads] || n.counters[kWrites] < o.counters[kWrites]) {
      o = n;  // the client started afresh
    }
    auto diff = [&](int c) { return static_cast<int64_t>(n.counters[c]) - o.counters[c]; };
    int64_t dr = diff(kReads);
    int64_t dw = diff(kWrites);
    if (dr < 0 || dw < 0) dr = dw = 0;
    int64_t sel1 = dr == 0 ? 0 : diff(kSel1) / dr;
    int64_t sel2 = dr == 0 ? 0 : diff(kSel2) / dr;
    int64_t del = dw == 0 ? 0 : diff(kDel) / dw;
    int64_t ins = dw == 0 ? 0 : diff(kIns) / dw;
    int64_t upd = dw == 0 ? 0 : diff(kUpd) / dw;
    if (sel1 < 0 || sel2 < 0) sel1 = sel2 = 0;
    if (del < 0 || ins < 0 || upd < 0) del = ins = upd = 0;

    // The selector thins the client lines only; sums and baselines see all.
    if (opt.selector <= 1 || s.changed % opt.selector == 0) {
      char group[kGroupSize];
      printable_group(n.group, kGroupSize, group);
      std::fprintf(out, "%12s-%04d %6lld %4lld %4lld %7lld %7lld %7lld %7lld %7lld %3lld\n", group,
                   i + 1, static_cast<long long>(dr + dw), static_cast<long long>(dr),
                   static_cast<long long>(dw), static_cast<long long>(sel1),
                   static_cast<long long>(sel2), static_cast<long long>(del),
                   static_cast<long long>(ins), static_cast<long long>(upd),
                   static_cast<long long>(static_cast<int64_t>(n.mismatches) - o.mismatches));
    }
    if (dr > 0) {
      s.reads += dr;
      s.sel1 += sel1;
      s.sel2 += sel2;
      ++s.with_reads;
    }
    if (dw > 0) {
      s.writes += dw;
      s.del += del;
      s.ins += ins;
      s.upd += upd;
      ++s.with_writes;
    }
    ++s.changed;
    o = n;
  }
  print_totals(out, "sum", s.reads + s.writes, s.reads, s.writes, s);
  print_totals(out, "tps", (s.reads + s.writes) / opt.interval, s.reads / opt.interval,
               s.writes / opt.interval, s);
}

int orlmet_main(int argc, char** argv) {
  const char* prog = argc > 0 ? argv[0] : "Orlmet";
  if (argc < 4) {
    print_orlmet_usage(stdout, prog);
    return -1;
  }
  IntervalOptions opt;
  opt.max_id = leading_int32(argv[2]);
  opt.interval = leading_int32(argv[3]);
  opt.selector = argc > 4 ? leading_int32(argv[4]) : 0;
  if (opt.max_id < 1 || opt.max_id > kMaxClients) {
    std::printf("\tillegal MaxID: %s\n", argv[2]);
    print_orlmet_usage(stdout, prog);
    return -1;
  }
  if (opt.interval < 1) {
    std::printf("\tillegal timeout: %s (whole seconds, at least 1)\n", argv[3]);
    print_orlmet_usage(stdout, prog);
    return -1;
  }

  const size_t size = static_cast<size_t>(opt.max_id) * kClientSlotSize;
  const char* live = static_cast<const char*>(shm_attach_or_exit(argv[1], size));
  // The snapshot is private memory of exactly the table's size: whatever the
  // slots hold, parsing stays inside it.
  std::vector<char> snapshot(size);
  std::vector<ClientRow> old(opt.max_id, ClientRow{});
  std::vector<ClientRow> fresh(opt.max_id, ClientRow{});

  Ticker ticker(static_cast<int64_t>(opt.interval) * 1000000000);
  std::memcpy(snapshot.data(), live, size);
  start_tables(snapshot.data(), opt.max_id, old.data(), fresh.data());
  for (;;) {
    ticker.wait();
    std::memcpy(snapshot.data(), live, size);
    parse_snapshot(snapshot.data(), opt.max_id, fresh.data());
    orlmet_interval(old.data(), fresh.data(), opt, stdout);
    std::fflush(stdout);
  }
}
