// Starting a declared command through the shell and carrying its standard
// output to the client.
#ifndef KORBAD_COMMAND_RUNNER_H_
#define KORBAD_COMMAND_RUNNER_H_

#include <sys/types.h>

#include <cstddef>

inline constexpr size_t kCommandLineMax = 511;
inline constexpr size_t kFirstLineMax = 511;

// "PATH ARGS", cut so that the whole is at most kCommandLineMax characters.
void build_command_line(const char* path, const char* args, char (&out)[kCommandLineMax + 1]);

struct RunningCommand {
  pid_t pid = -1;  // the shell
  int out = -1;    // read end of its standard output
};

// Runs command_line as "/bin/sh -c command_line" would, with its standard
// output on a pipe. The shell expands "*" in the arguments. No descriptor of
// the service reaches the command. Returns false if the shell cannot be
// started.
bool start_command(const char* command_line, RunningCommand* cmd);

// Splits a command line that needs nothing of the shell but the split at
// blanks (only request characters, no "*", a first word with a "/") into
// argv, using storage (at least as long as the line). Returns false for any
// other line, or one of more than max_words words.
bool split_plain_command(const char* command_line, char* storage, char** argv, int max_words);

// Closes the output pipe and waits for the shell to end (or for evidence
// that it was reaped already).
void finish_command(RunningCommand* cmd);

// Closes the output pipe without waiting (the shell may not end by itself).
void drop_command(RunningCommand* cmd);

enum class FirstLine {
  kReady,       // buf holds the first line (and maybe more)
  kNoOutput,    // the output ended before anything was written
  kClientGone,  // the client left while we waited
};

// Reads output into buf until it holds a whole first line: a line end within
// the first kFirstLineMax bytes, kFirstLineMax bytes, or the end of the
// output after at least one byte. *have is set to the bytes in buf.
// REQUIRES: cap > kFirstLineMax.
FirstLine wait_first_line(int out, int client, char* buf, size_t cap, size_t* have);

enum class RelayEnd { kOutputEnded, kClientGone };

// Copies the command's output to the client as it comes, until the output
// ends or the client goes away, using buf as the bounded copy buffer. A
// client that has only finished sending has not gone away.
RelayEnd relay_output(int out, int client, char* buf, size_t cap);

// Sends all of buf on the client socket (no SIGPIPE). False if the client
// is gone.
bool send_all(int client, const void* buf, size_t len);

#endif  // KORBAD_COMMAND_RUNNER_H_
