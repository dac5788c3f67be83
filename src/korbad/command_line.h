// The command line: "Korbad [-p [IP:]port]...", with a banner per "-p".
#ifndef KORBAD_COMMAND_LINE_H_
#define KORBAD_COMMAND_LINE_H_

#include <cstdio>
#include <string>

inline constexpr int kDefaultPort = 5000;

struct ListenOptions {
  bool has_address = false;  // an "-p IP:port" was given
  std::string address;       // the IP text of the last "-p" that named one
  int port = kDefaultPort;   // the low 16 bits of the last port given
};

// Reads the arguments, writing one banner per "-p" to banners as it goes
// (pid is shown in them). Returns false at the first argument that is not
// "-p" followed by a value; the caller then prints the usage text.
bool parse_command_line(int argc, char** argv, int pid, ListenOptions* options, FILE* banners);

void print_usage(FILE* out, const char* program);

#endif  // KORBAD_COMMAND_LINE_H_
