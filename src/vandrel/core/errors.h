// Fatal errors and the single exit path of the interpreter.
#ifndef VANDREL_CORE_ERRORS_H_
#define VANDREL_CORE_ERRORS_H_

constexpr int kErrMsgSize = 8192;
// Text of the last fatal error or refused assignment.
extern char X_ERRMSG[kErrMsgSize];

// Status of a run ended by a fatal error.
constexpr int kFatalStatus = -2;

// Reports a fatal error: formats it into X_ERRMSG, runs the error page or
// prints the message, and exits with -2. Returns -1 only when an error is
// already being reported (the caller then carries on).
int ERRMSG(const char* format, ...) __attribute__((format(printf, 1, 2)));

// True once a fatal error is being reported.
bool X_error_locked();

// How a fatal error reaches the answer. Only the request entry knows how the
// answer is given, so it installs these; until it does, an error is told as
// plain text on standard output.
struct X_ErrorHooks {
  // Completes the header of the answer before the error is told; false when
  // the answer has no body (HEAD), so that neither message nor page follows.
  bool (*open_body)();
  // Runs the error page at `path` (X_ERROR) with the output back on
  // standard output.
  void (*run_page)(const char* path);
};
void X_set_error_hooks(const X_ErrorHooks& hooks);

// Exit-time cleanups. Their owners register them at start-up, and X_exit
// runs them in the order they were registered, each at most once even when
// one of them ends the run again. A cleanup registered twice keeps its first
// place. False when all kMaxExitCleanups places are taken.
constexpr int kMaxExitCleanups = 8;
bool X_on_exit(void (*cleanup)());

// Ends the process: runs the exit-time cleanups, removes the scratch file
// "X.<pid>" in TMP_DIR, flushes standard output.
[[noreturn]] void X_exit(int status);

// For a harness that runs many pages in one process (the fuzz targets): with
// a hook set, X_exit does all of the above, then makes the error path as a
// new process has it (no error being reported, every cleanup due again) and
// calls `hook` instead of ending the process. The hook must not return: it
// takes control back to the harness (see fuzz/vandrel/harness.h); should it
// return, the process ends as without it. nullptr: end the process again.
void X_set_exit_hook(void (*hook)(int status));

#endif  // VANDREL_CORE_ERRORS_H_
