#include "vandrel/statements/control_flow.h"

#include <cstring>

#include "vandrel/statements/command_table.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/statements/page_reader.h"
#include "vandrel/statements/signals.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

int Continue = 0;
int Break = 0;
int ContinueBreak = 0;

namespace {

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

int X_notfound(X_FILE* file, int compile, int ignore) {
  X_trace("X_notfound: compile: %d ignore: %d ## Continue: %d  Break: %d \n", compile, ignore,
          Continue, Break);
  LineBuffer line;
  while (X_fgets(line.data(), kLineSize, file) > 0) {
    X_signal_point();
    if (ContinueBreak || Continue) ignore = 1;
    if (X_command(file, line.data(), compile, ignore) == 0) continue;
    if (starts_with(line.data(), "<@end>")) return 0;
    if (starts_with(line.data(), "<@continue>")) {
      if (!ignore) {
        Continue = 1;
        X_trace("X_notfound: [continue] ==> %d \n", Continue);
      }
      continue;
    }
    if (starts_with(line.data(), "<@break>")) {
      if (!ignore) {
        Continue = 1;
        Break = 1;
        X_trace("X_notfound: [break] ==> Continue= %d \n", Continue);
      }
      continue;
    }
    if (!ignore) X_transline(line.data(), nullptr, 0, compile);
  }
  return 0;
}
