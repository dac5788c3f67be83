#include "vandrel/core/errors.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "vandrel/services/stream_commands.h"
#include "vandrel/services/multipart_input.h"
#include "vandrel/core/output.h"
#include "vandrel/statements/page_reader.h"
#include "vandrel/services/request.h"
#include "vandrel/core/settings.h"
#include "vandrel/services/sql_layer.h"
#include "vandrel/core/trace.h"

char X_ERRMSG[kErrMsgSize];

namespace {

// Set by the first fatal error; later ones are ignored so that the error
// page can run to its end.
bool error_lock = false;

}  // namespace

bool X_error_locked() { return error_lock; }

int ERRMSG(const char* format, ...) {
  X_trace("ERRMSG: locked= %d :: msgfmt= %s \n", error_lock ? 1 : 0, format);
  if (error_lock) return -1;
  error_lock = true;

  va_list args;
  va_start(args, format);
  std::vsnprintf(X_ERRMSG, sizeof X_ERRMSG, format, args);
  va_end(args);
  X_trace("X_ERRMSG: %s", X_ERRMSG);

  if (X_head_request()) {
    // The answer to HEAD is a header without a body: the error page and the
    // message would be body, so only the header is completed.
    X_content_type();
    X_header();
    X_exit(kFatalStatus);
  }
  X_header();
  if (!X_ERROR) {
    if (std::getenv("REQUEST_METHOD")) {
      std::printf("</table></table></table><hr><h3><pre>\n %s \n</pre></h3><hr>", X_ERRMSG);
    } else {
      std::printf("Usage:\n\tVandrel script [-Var Value [-Var2 Value2 [..]]]\n\nERROR: %s\n",
                  X_ERRMSG);
    }
    X_exit(kFatalStatus);
  }
  X_redirect(nullptr);
  X_printfile(X_ERROR, 1);
  X_exit(kFatalStatus);
}

void X_exit(int status) {
  X_trace("X_exit( %d );", status);
  X_finish();
  X_close_streams();
  X_remove_uploads();
  char scratch[4096];
  int n = std::snprintf(scratch, sizeof scratch, "%s/X.%d", TMP_DIR ? TMP_DIR : "/tmp",
                        static_cast<int>(getpid()));
  if (n > 0 && static_cast<size_t>(n) < sizeof scratch) unlink(scratch);
  X_trace("X_exit: exit...");
  std::fflush(stdout);
  std::exit(status);
}
