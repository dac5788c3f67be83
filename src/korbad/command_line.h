// The command line: "Korbad [-p [IP:]port]... [-c connections] [-t seconds]",
// with a banner per "-p".
#ifndef KORBAD_COMMAND_LINE_H_
#define KORBAD_COMMAND_LINE_H_

#include <cstdio>
#include <string>

inline constexpr int kDefaultPort = 5000;
// Connections served at once; one more is closed as soon as it is accepted.
inline constexpr int kDefaultMaxConnections = 256;
inline constexpr int kMaxConnectionsLimit = 4096;
// Seconds a connection has to send its request; 0 waits for ever.
inline constexpr int kDefaultRequestTimeout = 30;
inline constexpr int kRequestTimeoutLimit = 86400;

struct ListenOptions {
  bool has_address = false;  // an "-p IP:port" was given
  std::string address;       // the IP text of the last "-p" that named one
  int port = kDefaultPort;   // the low 16 bits of the last port given
  int max_connections = kDefaultMaxConnections;  // "-c", 1 to kMaxConnectionsLimit
  int request_timeout = kDefaultRequestTimeout;  // "-t", 0 to kRequestTimeoutLimit
};

// Reads the arguments, writing one banner per "-p" to banners as it goes
// (pid is shown in them). Returns false at the first argument that is not
// "-p", "-c" or "-t" followed by a valid value; the caller then prints the
// usage text. The values of "-c" and "-t" are plain decimal digits within
// their ranges; the last one given wins.
bool parse_command_line(int argc, char** argv, int pid, ListenOptions* options, FILE* banners);

void print_usage(FILE* out, const char* program);

#endif  // KORBAD_COMMAND_LINE_H_
