// Shared-memory windows: <@shmat> lays a page variable over a byte range of a
// System V segment, so that reading the variable reads the shared bytes and
// setting it writes them in place; <@shmdt> removes the binding and detaches.
#ifndef VANDREL_SERVICES_SHM_COMMANDS_H_
#define VANDREL_SERVICES_SHM_COMMANDS_H_

struct X_FILE;
struct X_USER;

constexpr int kMaxShm = 16;
// A bound variable's name has at most 31 characters.
constexpr int kShmNameSize = 32;

// One attachment. An entry is in use exactly while `shm` is not null.
struct X_SHM {
  char name[kShmNameSize];  // the bound variable
  void* shm;                // where the segment is attached
  X_USER* user;             // the record laid over the window
};
extern X_SHM x_SHM[kMaxShm];

// <@shmat> NAME KEY SIZE OFFSET LENGTH [STATUS]: the window of LENGTH bytes
// (its low 16 bits) at OFFSET must lie inside the SIZE bytes of the segment.
int X_shmat(X_FILE* file, char* line, int& compile, int ignore);
// <@shmdt> NAME [STATUS]
int X_shmdt(X_FILE* file, char* line, int& compile, int ignore);

#endif  // VANDREL_SERVICES_SHM_COMMANDS_H_
