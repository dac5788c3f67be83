// Orlmet's client slots: the first snapshot (start_tables), later ones
// (parse_snapshot) and the interval reports over them, as the run loop does,
// on snapshots of exactly the table's size as the program copies them.
//
// Input: byte 0 the number of slots, byte 1 the interval and the selector,
// byte 2 what fills each slot after its text (a NUL, or a byte, so that a
// slot's 200 bytes may hold no NUL at all); then lines, one a slot: first
// the slots of the first snapshot, then those of the second. A missing line
// leaves its slot empty.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "orlmet/orlmet.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

constexpr int kMaxSlots = 16;

// Lays the next max_id lines of `rest` into a fresh table of max_id slots.
std::vector<char> snapshot(int max_id, char fill, std::string_view* rest) {
  std::vector<char> table(static_cast<size_t>(max_id) * kClientSlotSize, '\0');
  for (int id = 0; id < max_id && !rest->empty(); ++id) {
    size_t end = rest->find('\n');
    std::string_view text = rest->substr(0, end);
    rest->remove_prefix(end == std::string_view::npos ? rest->size() : end + 1);
    char* slot = &table[static_cast<size_t>(id) * kClientSlotSize];
    std::memset(slot, fill, kClientSlotSize);
    std::memcpy(slot, text.data(), text.size() < kClientSlotSize ? text.size() : kClientSlotSize);
  }
  return table;
}

void check_rows(const std::vector<ClientRow>& rows) {
  for (const ClientRow& row : rows) {
    check(strnlen(row.group, kGroupSize) < kGroupSize);
    check(row.mismatches >= 0);
  }
}

// One report, into memory.
void report(std::vector<ClientRow>& old, const std::vector<ClientRow>& fresh,
            const IntervalOptions& opt) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* out = open_memstream(&buf, &len);
  if (out == nullptr) return;
  orlmet_interval(old.data(), fresh.data(), opt, out);
  std::fclose(out);
  std::free(buf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  IntervalOptions opt;
  opt.max_id = 1 + data[0] % kMaxSlots;
  opt.interval = 1 + (data[1] & 0x0f);
  opt.selector = data[1] >> 4;
  char fill = static_cast<char>(data[2]);
  std::string_view rest(reinterpret_cast<const char*>(data) + 3, size - 3);

  std::vector<char> first = snapshot(opt.max_id, fill, &rest);
  std::vector<char> second = snapshot(opt.max_id, fill, &rest);
  std::vector<ClientRow> old(opt.max_id, ClientRow{});
  std::vector<ClientRow> fresh(opt.max_id, ClientRow{});

  start_tables(first.data(), opt.max_id, old.data(), fresh.data());
  check_rows(old);
  check(std::memcmp(old.data(), fresh.data(), old.size() * sizeof(ClientRow)) == 0);

  parse_snapshot(second.data(), opt.max_id, fresh.data());
  check_rows(fresh);
  report(old, fresh, opt);

  // Back to the first snapshot: counters that drop are a client started afresh.
  parse_snapshot(first.data(), opt.max_id, fresh.data());
  check_rows(fresh);
  report(old, fresh, opt);
  return 0;
}
