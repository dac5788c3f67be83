// Command lines: the table of command words and the dispatch of a page line
// to its handler.
#ifndef VANDREL_STATEMENTS_COMMAND_TABLE_H_
#define VANDREL_STATEMENTS_COMMAND_TABLE_H_

#include <cstddef>
#include <cstdint>

struct X_FILE;

// A command word and its code. The rows are the table's own and live as long
// as the program, so a caller may keep a row instead of looking its word up
// again.
struct X_CMD {
  const char* word;
  int16_t code;
};

// Code shared by the block terminators <@end>, <@continue> and <@break>.
constexpr int kTerminatorCode = 40;
// A command word has at most this many characters.
constexpr int kMaxCommandWord = 29;

// A command handler gets the page file the line came from (block commands
// read further lines from it), the cleaned command line, the caller's compile
// flag (which <@option> and <@compile> may change) and the ignore flag. It
// returns 0 when the line was its command, -1 to decline it.
using CommandHandler = int (*)(X_FILE* file, char* line, int& compile, int ignore);

// A handler that a higher room supplies for one of the table's words: the
// words are the language's, most of what they do is not this room's.
struct CommandBinding {
  const char* word;
  CommandHandler handler;
};

// Installs the handlers of `rows[0..count)` for their words, in place of any
// they had; made once at start-up, before the first page line runs, and
// allocates nothing. False, with nothing installed, when a row names a word
// the table does not hold, a block terminator, or no handler. A word left
// without a handler is recognised and declines: its line is shown as text.
[[nodiscard]] bool X_bind_commands(const CommandBinding* rows, size_t count);

// The row of command word `word`, or nullptr.
const X_CMD* X_find_command(const char* word);

// The code of command word `word`, or -1.
int X_search_command(const char* word);

// Recognises and runs (or, ignoring, consumes) the command in `line`, which
// it cleans first. 0 when the line was a command; -1 when it is text or a
// block terminator, and the caller then sees the cleaned line.
int X_command(X_FILE* file, char* line, int& compile, int ignore);

// X_command for a `line` that is already cleaned and whose command code
// (`LineFacts::code`, as X_command found it) is known.
int X_run_command(X_FILE* file, char* line, int code, int& compile, int ignore);

// The argument text of a cleaned command line: everything after the ">" that
// ends the command word.
const char* X_command_args(const char* line);

#endif  // VANDREL_STATEMENTS_COMMAND_TABLE_H_
