// The connection process: one request, its reply, and the command's output.
#ifndef KORBAD_CONNECTION_H_
#define KORBAD_CONNECTION_H_

#include <sys/types.h>

#include <cstddef>

#include "korbad/command_runner.h"

// Nread: one read of at most size - 1 bytes from the socket, NUL-terminated.
// Returns the read's result.
ssize_t Nread(int sock, char* buf, size_t size);

// Answers one sanitised-in-place request from client on sock: the list, a
// refusal, or the start of a granted command. For a command that wrote
// output, sends the OK line and the first output (held in buf, of cap bytes)
// and returns true with cmd running; otherwise returns false once the reply
// is complete.
bool check_command(char* request, const char* client, int sock, RunningCommand* cmd, char* buf,
                   size_t cap);

// Runs the connection process on the accepted socket and exits. A client
// that has sent nothing within request_timeout seconds (0: no limit) is
// dropped.
[[noreturn]] void serve_connection(int sock, int request_timeout);

#endif  // KORBAD_CONNECTION_H_
