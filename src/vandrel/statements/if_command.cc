// <@if>, <@elif> and <@else>: conditional blocks and one-line ifs.
#include <cstring>

#include "vandrel/statements/block_commands.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/statements/conditions.h"
#include "vandrel/statements/control_flow.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/statements/line_cleaner.h"
#include "vandrel/statements/page_reader.h"
#include "vandrel/statements/signals.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

namespace {

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

const char* skip_blanks(const char* text) { return text + std::strspn(text, " "); }

// One-line form: "<@if> condition <@command ...>". Returns true when the
// command part was a command (run when `holds`, else only recognised), so no
// block follows.
bool one_line(X_FILE* file, const char* part, bool holds, int& compile) {
  X_trace("X_if: try as line command: {%s} \n", part);
  const char* command = skip_blanks(part);
  if (starts_with(command, "<@continue>")) {
    if (holds) Continue = 1;
    return true;
  }
  if (starts_with(command, "<@break>")) {
    if (holds) {
      Continue = 1;
      Break = 1;
    }
    return true;
  }
  LineBuffer buffer;
  std::snprintf(buffer.data(), kLineSize, "%s", command);
  return X_command(file, buffer.data(), compile, holds ? 0 : 1) == 0;
}

// Reads the block of an if chain: runs the lines of the branch whose
// condition held (`holds`), hands a later <@elif> its turn, and skips the
// rest of the chain once a branch has run.
void if_block(X_FILE* file, bool holds, int compile) {
  LineBuffer line;
  while (X_fgets(line.data(), kLineSize, file) > 0) {
    X_signal_point();
    if (Continue) holds = false;
    X_clean_line(file, line.data());
    if (starts_with(line.data(), "<@elif>")) {
      if (Continue || holds) {
        X_notfound(file, compile, 1);
      } else {
        int chain_compile = compile;
        X_if(file, line.data(), chain_compile, 0);
      }
      return;
    }
    if (X_command(file, line.data(), compile, holds ? 0 : 1) == 0) continue;
    if (starts_with(line.data(), "<@end>")) return;
    if (starts_with(line.data(), "<@continue>")) {
      if (holds) {
        Continue = 1;
        X_trace("X_if: [continue] ==> %d \n", Continue);
      }
      continue;
    }
    if (starts_with(line.data(), "<@break>")) {
      if (holds) {
        Continue = 1;
        Break = 1;
        holds = false;
        X_trace("X_if: [break] ==> Continue= %d \n", Continue);
      }
      continue;
    }
    if (starts_with(line.data(), "<@else>")) {
      bool run_else = !holds && !Continue;
      if (run_else) X_debug("<@else> \n");
      // No branch may have run for the else part to run: a condition that
      // held earlier in the chain makes this call's `holds` true.
      X_notfound(file, compile, run_else ? 0 : 1);
      return;
    }
    if (holds) X_transline(line.data(), nullptr, 0, compile);
  }
}

}  // namespace

int X_if(X_FILE* file, char* line, int& compile, int ignore) {
  bool is_if = starts_with(line, "<@if>");
  if (!is_if && !starts_with(line, "<@elif>")) return -1;
  const char* args = X_command_args(line);
  const char* command_part = std::strstr(args, "<@");

  if (ignore) {
    // A skipped <@elif> belongs to a chain whose if consumes it.
    if (!is_if) return 0;
    bool line_form = false;
    if (command_part) {
      int inner_compile = compile;
      line_form = one_line(file, command_part, false, inner_compile);
    }
    if (!line_form) X_notfound(file, compile, 1);
    return 0;
  }

  X_trace("X_if: {%s} compile: %d ignore: %d \n", line, compile, ignore);
  LineBuffer condition;
  size_t condition_len = command_part ? static_cast<size_t>(command_part - args) : std::strlen(args);
  std::memcpy(condition.data(), args, condition_len);
  condition.data()[condition_len] = '\0';
  LineBuffer substituted;
  X_transline(condition.data(), substituted.data(), kLineSize, compile);
  X_trace("X_if: {%s} \n", substituted.data());
  X_debug("%s // %s \n", line, substituted.data());
  bool holds = X_condition(substituted.data());

  if (command_part && one_line(file, command_part, holds, compile)) return 0;
  if_block(file, holds, compile);
  return 0;
}
