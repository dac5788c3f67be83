#include "vandrel/core/errors.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "vandrel/core/output.h"
#include "vandrel/core/settings.h"
#include "vandrel/core/trace.h"

char X_ERRMSG[kErrMsgSize];

namespace {

// Set by the first fatal error; later ones are ignored so that the error
// page can run to its end.
bool error_lock = false;

X_ErrorHooks error_hooks = {nullptr, nullptr};

// Registered cleanups in order; `next_cleanup` is the first one not yet run,
// so a cleanup that ends the run again does not start the list over.
void (*cleanups[kMaxExitCleanups])() = {};
int cleanup_count = 0;
int next_cleanup = 0;

void (*exit_hook)(int status) = nullptr;

}  // namespace

void X_set_exit_hook(void (*hook)(int status)) { exit_hook = hook; }

bool X_error_locked() { return error_lock; }

void X_set_error_hooks(const X_ErrorHooks& hooks) { error_hooks = hooks; }

bool X_on_exit(void (*cleanup)()) {
  if (!cleanup) return false;
  for (int i = 0; i < cleanup_count; ++i)
    if (cleanups[i] == cleanup) return true;
  if (cleanup_count == kMaxExitCleanups) return false;
  cleanups[cleanup_count++] = cleanup;
  return true;
}

int ERRMSG(const char* format, ...) {
  X_trace("ERRMSG: locked= %d :: msgfmt= %s \n", error_lock ? 1 : 0, format);
  if (error_lock) return -1;
  error_lock = true;

  va_list args;
  va_start(args, format);
  std::vsnprintf(X_ERRMSG, sizeof X_ERRMSG, format, args);
  va_end(args);
  X_trace("X_ERRMSG: %s", X_ERRMSG);

  if (error_hooks.open_body && !error_hooks.open_body()) X_exit(kFatalStatus);
  if (!X_ERROR || !error_hooks.run_page) {
    if (std::getenv("REQUEST_METHOD")) {
      std::printf("</table></table></table><hr><h3><pre>\n %s \n</pre></h3><hr>", X_ERRMSG);
    } else {
      std::printf("Usage:\n\tVandrel script [-Var Value [-Var2 Value2 [..]]]\n\nERROR: %s\n",
                  X_ERRMSG);
    }
    X_exit(kFatalStatus);
  }
  X_redirect(nullptr);
  error_hooks.run_page(X_ERROR);
  X_exit(kFatalStatus);
}

void X_exit(int status) {
  X_trace("X_exit( %d );", status);
  while (next_cleanup < cleanup_count) cleanups[next_cleanup++]();
  char scratch[4096];
  int n = std::snprintf(scratch, sizeof scratch, "%s/X.%d", TMP_DIR ? TMP_DIR : "/tmp",
                        static_cast<int>(getpid()));
  if (n > 0 && static_cast<size_t>(n) < sizeof scratch) unlink(scratch);
  X_trace("X_exit: exit...");
  std::fflush(stdout);
  if (exit_hook) {
    error_lock = false;
    next_cleanup = 0;
    exit_hook(status);
  }
  std::exit(status);
}
