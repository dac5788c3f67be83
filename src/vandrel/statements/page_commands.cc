#include "vandrel/statements/page_commands.h"

#include <cstdio>
#include <cstring>

#include "vandrel/core/argument_split.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/statements/control_flow.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/open_streams.h"
#include "vandrel/core/output.h"
#include "vandrel/statements/page_reader.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

namespace {

// Substitutes the command's argument text and takes its first argument.
void first_argument(const char* line, int compile, char* out) {
  LineBuffer text;
  X_transline(X_command_args(line), text.data(), kLineSize, compile);
  X_arg_string(text.data(), out, kLineSize);
}

// Runs the block that follows with the output sent to `stream`, unflushed
// per line, then restores the previous output.
void run_block_into(FILE* stream, X_FILE* file, int compile) {
  FILE* previous = X_redirect(stream);
  int saved_flush = DO_fflush;
  DO_fflush = 0;
  X_notfound(file, compile, 0);
  DO_fflush = saved_flush;
  std::fflush(stream);
  X_redirect(previous);
}

}  // namespace

int X_include(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (ignore) return 0;
  X_debug("%s \n", line);
  X_trans_printfile(X_command_args(line), compile);
  return 0;
}

int X_File(X_FILE* file, char* line, int& compile, int ignore) {
  if (ignore) return X_notfound(file, compile, 1);
  LineBuffer path;
  first_argument(line, compile, path.data());
  FILE* stream = std::fopen(path.data(), "a");
  if (!stream) {
    ERRMSG("X_file: Cannot open file: {%s} \n", path.data());
    return X_notfound(file, compile, 1);  // reporting is locked: skip the block
  }
  run_block_into(stream, file, compile);
  std::fclose(stream);
  return 0;
}

int X_xFile(X_FILE* file, char* line, int& compile, int ignore) {
  if (ignore) return X_notfound(file, compile, 1);
  LineBuffer name;
  first_argument(line, compile, name.data());
  x_OPEN* slot = nullptr;
  if (std::strlen(name.data()) > static_cast<size_t>(kMaxStreamName)) {
    ERRMSG("X_xfile: file name is too long: {%s} \n", name.data());
  } else if ((slot = X_find_open(name.data())) == nullptr) {
    slot = X_free_open();
    if (!slot) {
      ERRMSG("X_xfile: outpass MAX open for file: {%s} \n", name.data());
    } else if (FILE* stream = std::fopen(name.data(), "a")) {
      slot->fp = stream;
      slot->kind = StreamKind::kFile;
      std::snprintf(slot->name, sizeof slot->name, "%s", name.data());
    } else {
      ERRMSG("X_xfile: Cannot open file: {%s} \n", name.data());
      slot = nullptr;
    }
  }
  if (!slot) return X_notfound(file, compile, 1);  // reporting is locked: skip the block
  run_block_into(slot->fp, file, compile);
  return 0;
}

int X_quit(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  X_trace("X_quit: buff= %s; compile= %d ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  X_debug("%s \n", line);
  X_exit(0);
}
