#include "vandrel/statements/control_flow.h"

#include <cstring>

#include "vandrel/statements/command_table.h"
#include "vandrel/statements/line_cleaner.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/statements/page_reader.h"
#include "vandrel/statements/signals.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

int Continue = 0;
int Break = 0;
int ContinueBreak = 0;

namespace {

enum class Terminator { kNone, kEnd, kContinue, kBreak };

// What a line that ran no command ends, read from its start as the block
// reader has always read it: "<@end>xyz" ends the block too.
Terminator terminator_of(const char* line) {
  if (line[0] != '<' || line[1] != '@') return Terminator::kNone;
  const char* word = line + 2;
  if (std::strncmp(word, "end>", 4) == 0) return Terminator::kEnd;
  if (std::strncmp(word, "continue>", 9) == 0) return Terminator::kContinue;
  if (std::strncmp(word, "break>", 6) == 0) return Terminator::kBreak;
  return Terminator::kNone;
}

}  // namespace

int X_notfound(X_FILE* file, int compile, int ignore) {
  X_trace("X_notfound: compile: %d ignore: %d ## Continue: %d  Break: %d \n", compile, ignore,
          Continue, Break);
  LineBuffer line;
  for (;;) {
    // A loop's lines are known after its first pass: they are neither
    // measured, cleaned nor looked up again.
    const LineFacts* known = nullptr;
    KnownLine kind = X_take_known_line(file, line.data(), &known);
    if (kind == KnownLine::kUnknown && X_fgets(line.data(), kLineSize, file) <= 0) return 0;
    X_signal_point();
    if (ContinueBreak || Continue) ignore = 1;
    if (kind == KnownLine::kText) {
      if (!ignore) X_transline_text(file->text + known->start, known->length, compile);
      continue;
    }
    const char* unrun = line.data();
    if (kind == KnownLine::kBlockEnd) {
      unrun = file->text + known->start + known->lead;
    } else if (kind == KnownLine::kCommand) {
      if (X_run_command(file, line.data(), known->code, compile, ignore) == 0) continue;
    } else if (X_command(file, line.data(), compile, ignore) == 0) {
      continue;
    }
    switch (terminator_of(unrun)) {
      case Terminator::kEnd:
        return 0;
      case Terminator::kContinue:
        if (!ignore) {
          Continue = 1;
          X_trace("X_notfound: [continue] ==> %d \n", Continue);
        }
        continue;
      case Terminator::kBreak:
        if (!ignore) {
          Continue = 1;
          Break = 1;
          X_trace("X_notfound: [break] ==> Continue= %d \n", Continue);
        }
        continue;
      case Terminator::kNone:
        break;
    }
    if (!ignore && kind != KnownLine::kBlockEnd) X_transline(line.data(), nullptr, 0, compile);
  }
}
