#include "korbad/command_line.h"

#include <cstring>

#include "base/leading_int.h"
#include "korbad/log.h"

bool parse_command_line(int argc, char** argv, int pid, ListenOptions* options, FILE* banners) {
  for (int i = 1; i < argc; i += 2) {
    if (strcmp(argv[i], "-p") != 0 || i + 1 >= argc) return false;
    const char* value = argv[i + 1];
    const char* colon = strchr(value, ':');
    const char* port_text = value;
    if (colon != nullptr) {
      options->has_address = true;
      options->address.assign(value, colon - value);
      port_text = colon + 1;
    }
    // Without digits the port would read as 0, and the system would pick one
    // that nobody is told of.
    const char* digit = port_text;
    while (*digit == ' ' || *digit == '\t') ++digit;
    if (*digit == '+' || *digit == '-') ++digit;
    if (*digit < '0' || *digit > '9') return false;
    options->port = static_cast<int>(leading_int64(port_text) & 0xFFFF);
    if (colon != nullptr) {
      fprintf(banners, "\nKorbad %s ==> IP:[%s] Port:[%d] PID:%d\n", kKorbadVersion,
              options->address.c_str(), options->port, pid);
    } else {
      fprintf(banners, "\nKorbad %s ==> IP:[any] Port:[%d] PID:%d\n", kKorbadVersion, options->port,
              pid);
    }
    fflush(banners);
  }
  return true;
}

void print_usage(FILE* out, const char* program) {
  fprintf(out, "%s %s\nUsage: %s [-p [IP:]port (default:5000)] \n", program, kKorbadVersion,
          program);
  fflush(out);
}
