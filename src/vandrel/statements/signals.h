// Page functions run on signals. The handler only records the signal; the
// page function runs at the next safe point, between two page lines, so a
// signal arriving in the middle of a line cannot disturb the interpreter.
#ifndef VANDREL_STATEMENTS_SIGNALS_H_
#define VANDREL_STATEMENTS_SIGNALS_H_

#include <csignal>

#include "vandrel/core/output.h"

// Signal numbers a page may name.
constexpr int kMaxSignal = 31;
// A handler function name holds at most this many characters.
constexpr int kMaxSignalFunction = 30;

// Runs the page functions of signals that arrived since the last call.
inline volatile std::sig_atomic_t X_signals_pending = 0;
void X_run_pending_signals();
// Called before every page line, the one point where the run may turn aside:
// runs the signals' page functions, and writes out page output that has
// waited long enough. Cheap when there is nothing to do.
inline void X_signal_point() {
  if (X_signals_pending) X_run_pending_signals();
  X_output_due();
}

// The signal number named by `name` (a decimal number from 1 to 31, or
// sighup, sigint, sigusr1, sigusr2, sigpipe, sigalrm, sigterm, sigchld), or
// -1 when there is none.
int X_signal_number(const char* name);

// Clears the page function of `signo` and restores its default action; with
// a non-empty `function` (cut to 30 characters) installs the handler that
// calls it.
void X_set_signal(int signo, const char* function);

#endif  // VANDREL_STATEMENTS_SIGNALS_H_
