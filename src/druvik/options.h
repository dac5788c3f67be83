// Druvik's run settings, its command line and the checks made before a run.
#ifndef DRUVIK_OPTIONS_H_
#define DRUVIK_OPTIONS_H_

#include <cstdint>
#include <cstdio>

inline constexpr char kDruvikVersion[] = "v.4.0";
inline constexpr int kMaxSizeKb = 10240;  // also the size of the data buffer
inline constexpr int kChainMax = 31;

enum Command { kRead = 1, kWrite = 2, kReadWrite = 4 };
enum Mode { kSequential = 1, kRandom = 2 };
enum IoType { kBuffered, kAio, kOsync };

struct Settings {
  int command = kRead;
  int mode = kSequential;
  int size = 8192;  // bytes per transfer
  IoType type = kBuffered;
  char order[kChainMax + 1] = "RW";  // rw command: 'W' writes, anything else reads
  int64_t begin = 0;                 // block positions, in units of `size`
  int64_t end = 0;
  int64_t count_limit = 0;  // 0: none
  int64_t kb_limit = 0;     // KB per second; 0: none
  int64_t io_limit = 0;     // derived I/Os per second
  bool use_pread = false;   // random positions through pread64/pwrite64
  bool loop = false;
  bool id_given = false;
  int64_t id = 0;             // 1..1024 selects the slot; -1: do not publish
  const char* key = nullptr;  // null: $SHMKEY, else "505"
  const char* group = "Druvik";
  const char* file = nullptr;   // the first file argument
  const char* file2 = nullptr;  // rw only: receives the writes
};

const char* command_label(int command);  // "reads", "writes", "reads+writes"
const char* type_label(IoType type);     // "buffered", "AIO", "O_SYNC"

// The usage text.
void print_usage(FILE* err, const char* prog);

// Parses the options and file arguments into `s`, printing the option
// messages on `out`. Returns the number of errors counted, or -1 for -h.
// May permute argv, as getopt does.
int parse_options(int argc, char** argv, Settings* s, FILE* out);

// The checks after parsing, in their fixed order; fills the derived limits.
// Returns false when the usage text is due (after printing any message on
// `out`).
bool check_settings(Settings* s, int errors, FILE* out);

#endif  // DRUVIK_OPTIONS_H_
