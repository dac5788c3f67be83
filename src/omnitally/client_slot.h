// The client slot table: MaxID text slots of 200 bytes; the client with
// identifier n owns the slot at byte (n - 1) * 200. A slot holds one line
// "%s %d %d %d %d %d %d %d %d": a group name without spaces, then
//   reads writes SEL1 SEL2 DEL INS UPD reads-again
// where the last repeats the first, so a reader can tell that it copied the
// slot in the middle of a rewrite.
#ifndef OMNITALLY_CLIENT_SLOT_H_
#define OMNITALLY_CLIENT_SLOT_H_

#include <cstddef>
#include <cstdint>

#include "omnitally/omnitally.h"

inline constexpr size_t kClientSlotSize = 200;
inline constexpr int kClientCounters = 7;  // reads writes SEL1 SEL2 DEL INS UPD

struct ClientSlotFields {
  char group[kGroupSize];             // always NUL-terminated
  int32_t counters[kClientCounters];  // in slot order
  int32_t check;                      // the eighth value
};

enum class SlotParse {
  kEmpty,      // 9 characters or fewer: nobody writes this slot (yet)
  kOk,         // a group and eight numbers
  kMalformed,  // no group or fewer than eight numbers: copied mid-rewrite or garbage
};

// Parses one slot. Reads at most kClientSlotSize bytes of `slot`, whether or
// not they hold a NUL. The group is the first blank-separated word, cut to 31
// characters; numbers are read as atoi reads them, so a word that is not a
// number counts as 0. `out` is written only for kOk.
SlotParse parse_client_slot(const char* slot, ClientSlotFields* out);

#endif  // OMNITALLY_CLIENT_SLOT_H_
