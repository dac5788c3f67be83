#include "korbad/command_line.h"

#include <cstring>

#include "base/leading_int.h"
#include "korbad/log.h"

namespace {

// A limit is written as plain digits: a sign, blanks or a unit would more
// likely be a mistake than a value, and a mistake must not pass as 0.
bool parse_limit(const char* text, int low, int high, int* out) {
  if (*text == '\0') return false;
  long value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > high) return false;
  }
  if (value < low) return false;
  *out = static_cast<int>(value);
  return true;
}

}  // namespace

bool parse_command_line(int argc, char** argv, int pid, ListenOptions* options, FILE* banners) {
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 >= argc) return false;
    if (strcmp(argv[i], "-c") == 0) {
      if (!parse_limit(argv[i + 1], 1, kMaxConnectionsLimit, &options->max_connections)) {
        return false;
      }
      continue;
    }
    if (strcmp(argv[i], "-t") == 0) {
      if (!parse_limit(argv[i + 1], 0, kRequestTimeoutLimit, &options->request_timeout)) {
        return false;
      }
      continue;
    }
    if (strcmp(argv[i], "-p") != 0) return false;
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
  fprintf(out,
          "%s %s\nUsage: %s [-p [IP:]port (default:5000)] [-c connections (default:%d)]"
          " [-t seconds (default:%d)] \n",
          program, kKorbadVersion, program, kDefaultMaxConnections, kDefaultRequestTimeout);
  fflush(out);
}
