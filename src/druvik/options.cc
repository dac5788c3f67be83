#include "druvik/options.h"

#include <unistd.h>

#include <cstring>

#include "base/leading_int.h"

const char* command_label(int command) {
  switch (command) {
    case kWrite:
      return "writes";
    case kReadWrite:
      return "reads+writes";
    default:
      return "reads";
  }
}

const char* type_label(IoType type) {
  switch (type) {
    case kAio:
      return "AIO";
    case kOsync:
      return "O_SYNC";
    default:
      return "buffered";
  }
}

void print_usage(FILE* err, const char* prog) {
  std::fprintf(
      err,
      "\n%s (vek) %s\nUsage: %s Options  File [File2]\nOperation options:\n"
      "  -h                 -- help\n"
      "  -c command         -- I/O command: read, write, rw\n"
      "  -s size            -- I/O size in KBytes \n"
      "  -m mode            -- I/O mode: seq, rnd \n"
      "  -o order           -- I/O rw-mode order chain: R=read, W=write, ex:'RWRRWR' (default: "
      "'RW') \n"
      "  -b position        -- Begin offset (in <size> units) \n"
      "  -e position        -- End offset (in <size> units) \n"
      "  -t type            -- I/O Type: buff, aio, osync\n"
      "  -n Numb            -- Finish after Numb I/O commands \n"
      "  -l Limit           -- Limit own throughput to Limit KB/sec \n"
      "  -P                 -- Use pread/pwrite syscalls\n"
      "  -L                 -- Loop I/O non-stop\n"
      "\nSTAT options: \n"
      "  -i ID              -- Client ID for Omnitally (1:%d), -1 to disable Omnitally\n"
      "  -k key             -- SHMKEY for Omnitally \n"
      "  -g group           -- Group name for Omnitally\n"
      "\nNote: both -e and -b  must be specified for random I/Os\n",
      prog, kDruvikVersion, prog, 1024);
}

int parse_options(int argc, char** argv, Settings* s, FILE* out) {
  int errors = 0;
  optind = 0;  // a full restart of getopt, so the parser can run more than once
  int c;
  while ((c = getopt(argc, argv, "PLhc:s:m:b:e:t:n:l:g:i:k:o:")) != -1) {
    switch (c) {
      case 'h':
        return -1;
      case 'c':
        if (std::strcmp(optarg, "read") == 0) {
          s->command = kRead;
        } else if (std::strcmp(optarg, "write") == 0) {
          s->command = kWrite;
        } else if (std::strcmp(optarg, "rw") == 0) {
          s->command = kReadWrite;
        } else {
          std::fprintf(out, "\tillegal command %s\n", optarg);
          ++errors;
        }
        break;
      case 's': {
        int32_t kb = leading_int32(optarg);
        if (kb < 1 || kb > kMaxSizeKb) {
          std::fputs("\t illegal IOsize: should be between 1 and 10240 KB\n", out);
          ++errors;
        } else {
          s->size = kb * 1024;
        }
        break;
      }
      case 'm':
        if (std::strcmp(optarg, "seq") == 0) {
          s->mode = kSequential;
        } else if (std::strcmp(optarg, "rnd") == 0) {
          s->mode = kRandom;
        } else {
          std::fprintf(out, "\tillegal I/O mode: %s\n", optarg);
          ++errors;
        }
        break;
      case 'o': {
        size_t n = strnlen(optarg, kChainMax);
        std::memcpy(s->order, optarg, n);
        s->order[n] = '\0';
        if (n <= 1) {
          std::fputs("\t RW-Order chain is too short!\n", out);
          ++errors;
        }
        break;
      }
      case 'b':
        s->begin = leading_int64(optarg);
        break;
      case 'e':
        s->end = leading_int64(optarg);
        break;
      case 't':
        if (std::strcmp(optarg, "buff") == 0) {
          s->type = kBuffered;
        } else if (std::strcmp(optarg, "aio") == 0) {
          s->type = kAio;
        } else if (std::strcmp(optarg, "osync") == 0) {
          s->type = kOsync;
        } else {
          std::fprintf(out, "\tillegal I/O type: %s\n", optarg);
          ++errors;
        }
        break;
      case 'n':
        s->count_limit = leading_int64(optarg);
        if (s->count_limit < 0) {
          std::fputs("\t illegal I/O count: should be 0 or more\n", out);
          ++errors;
        }
        break;
      case 'l':
        s->kb_limit = leading_int64(optarg);
        break;
      case 'P':
        s->use_pread = true;
        break;
      case 'L':
        s->loop = true;
        break;
      case 'i':
        s->id = leading_int64(optarg);
        s->id_given = true;
        break;
      case 'k':
        s->key = optarg;
        break;
      case 'g':
        s->group = optarg;
        break;
      default:  // getopt has named the unknown option or the missing value
        ++errors;
        break;
    }
  }
  if (optind < argc) s->file = argv[optind];
  if (optind + 1 < argc && s->command == kReadWrite) s->file2 = argv[optind + 1];
  return errors;
}

bool check_settings(Settings* s, int errors, FILE* out) {
  if (s->kb_limit > 0) {
    int64_t size_kb = s->size / 1024;
    if (s->kb_limit < size_kb) {
      std::fputs("\t illegal KB/s limit < IO size\n", out);
      return false;
    }
    // (limit x 1024) / size, without the product that could overflow.
    s->io_limit = s->kb_limit / size_kb;
    if (s->command == kReadWrite) {
      s->io_limit = s->io_limit > INT64_MAX / 2 ? INT64_MAX : s->io_limit * 2;
    }
  }
  if (errors > 0) return false;
  if (s->file == nullptr) return false;
  if (s->mode == kSequential && s->count_limit == 0 && s->end > s->begin) {
    // Saturating: begin and end may lie far apart on both sides of 0.
    if (__builtin_sub_overflow(s->end, s->begin, &s->count_limit)) s->count_limit = INT64_MAX;
  }
  if (s->mode == kRandom && !(s->end > s->begin)) return false;
  if (!s->id_given) {
    std::fputs("\t Empty ID number...\n", out);
    return false;
  }
  return true;
}
