// Omnitally: the shared statistics segment. Running clients publish live
// counters in a System V shared-memory segment chosen by a numeric key; each
// client owns one slot by agreement on its number, and reporters copy the
// whole segment at intervals. There are no locks and no registration.
//
// Two layouts share the mechanism:
//   TableSTAT         1024 fixed SessionSTAT records, written by Druvik and
//                     read by Sennel;
//   client slot table MaxID text slots of 200 bytes, written by monitored
//                     clients and read by Orlmet (see client_slot.h).
#ifndef OMNITALLY_OMNITALLY_H_
#define OMNITALLY_OMNITALLY_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

// One benchmark process's slot. Integers are 32-bit signed, host byte order,
// with no gaps: other programs (and pages through <@shmat>) rely on the
// offsets below.
struct SessionSTAT {
  char group[32];  // NUL-padded; at most 31 significant characters are written
  int32_t alive;   // 1 while the owner is active; the reporter clears it when idle
  int32_t ops;     // reads plus writes since the owner took the slot
  int32_t reads;
  int32_t writes;
};

inline constexpr int kSessionSlots = 1024;

struct TableSTAT {
  SessionSTAT sess[kSessionSlots];  // client identifier n owns sess[n - 1]
};

static_assert(sizeof(SessionSTAT) == 48);
static_assert(offsetof(SessionSTAT, group) == 0);
static_assert(offsetof(SessionSTAT, alive) == 32);
static_assert(offsetof(SessionSTAT, ops) == 36);
static_assert(offsetof(SessionSTAT, reads) == 40);
static_assert(offsetof(SessionSTAT, writes) == 44);
static_assert(sizeof(TableSTAT) == 49152);
static_assert(offsetof(TableSTAT, sess) == 0);

inline constexpr size_t kGroupSize = sizeof(SessionSTAT::group);
inline constexpr size_t kGroupMax = kGroupSize - 1;  // significant characters
inline constexpr char kDefaultKey[] = "505";

// The key text a program uses: `given` when not null, else $SHMKEY, else "505".
const char* shm_key_text(const char* given);

// The System V key of a key text, read as atoi reads it (blanks, sign,
// leading digits; 0 when none). Beyond 32 bits it keeps the low 32 bits, as
// the C library's conversions do, so that every participant that names the
// same text reaches the same segment.
int32_t shm_key(const char* text);

enum class AttachStatus { kOk, kCannotGet, kCannotAttach };

// Gets (creating it zero-filled and open to everyone when missing) and
// attaches read-write the segment of `key_text`, at least `size` bytes long.
// Key 0 is refused as kCannotGet: it means IPC_PRIVATE to the system, a new
// segment no other participant could ever find and nobody would remove.
AttachStatus shm_attach(const char* key_text, size_t size, void** base);

// shm_attach, or on failure "### Cannot get SHM..." / "### Cannot attach
// SHM..." on standard output and exit status -2.
void* shm_attach_or_exit(const char* key_text, size_t size);

// The slot index of a client identifier: identifier n in 1..1024 owns
// index n - 1; any other identifier is replaced by 1.
int session_slot_id(long id);

// Fills a 32-byte group field from `name`: at most 31 characters, the rest
// NUL, so the field always ends in NUL.
void session_group(const char* name, char field[kGroupSize]);

// Takes a slot afresh: group, alive = 1, counters 0.
void session_take(SessionSTAT* s, const char group_field[kGroupSize]);

// After each successful operation. Plain loads and stores (no read-modify-
// write atomics): the owner is the only writer of its counters, and a
// reporter only ever clears `alive`. Counters wrap at 32 bits without undefined
// behaviour; a reporter takes a drop as a fresh start.
void session_count(SessionSTAT* s, bool write, const char group_field[kGroupSize]);

// Reporter side: the live segment is shared with other processes, so its
// words are read and written through these and snapshots are taken with one
// memcpy into private memory.
int32_t shm_load(const int32_t* word);
void shm_store(int32_t* word, int32_t value);

// Copies a group field (max bytes, possibly without NUL) into `out` as
// printable text: at most kGroupMax characters, control characters shown as
// '?', so that a garbage slot can neither run past its field nor drive the
// terminal.
void printable_group(const char* field, size_t max, char out[kGroupSize]);

#endif  // OMNITALLY_OMNITALLY_H_
