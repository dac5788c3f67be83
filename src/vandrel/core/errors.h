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

// Ends the process: closes what the run opened, removes the scratch file
// "X.<pid>" in TMP_DIR, flushes standard output.
[[noreturn]] void X_exit(int status);

#endif  // VANDREL_CORE_ERRORS_H_
