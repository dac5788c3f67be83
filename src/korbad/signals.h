// The three signal handlers and the process-wide state they touch.
#ifndef KORBAD_SIGNALS_H_
#define KORBAD_SIGNALS_H_

#include <sys/types.h>

#include <csignal>

// Listening socket and accepted connection socket; -1 while none is open.
extern volatile sig_atomic_t fd;
extern volatile sig_atomic_t fd_cmd;

// SIGPIPE: nothing, so a write to a closed connection fails with EPIPE
// instead of killing the process (and, unlike SIG_IGN, commands started
// later still get the default action).
void sigpipe(int);

// SIGCHLD: reaps every child that has ended. Signals of children that end
// together merge into one, so reaping only one would leave zombies behind.
void sigchld(int);

// The connection processes of the listener, so that at most limit of them
// run at once. The listener calls connections_full and connections_add, and
// reap_children, with SIGCHLD blocked; sigchld takes a connection out when it
// reaps it. limit is at most kMaxConnectionsLimit; 0 tracks none.
void track_connections(int limit);
bool connections_full();
void connections_add(pid_t pid);
// What sigchld does: reaps every ended child. Async-signal-safe.
void reap_children();

// SIGTERM: logs, kills the process tree below this process, closes the
// sockets and exits 0. The listener, which leads the process group, also
// sends SIGTERM to the whole group, so that one signal to it ends the
// service, every connection and every command. A connection process ends
// only its own command: one connection stopped by hand must not take the
// service down with it.
void sigterm(int);

// Installs the three handlers (they stay installed; nothing to re-arm).
void install_handlers();

#endif  // KORBAD_SIGNALS_H_
