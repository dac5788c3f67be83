// Cleaning of a page line before it is run or output: comments, control
// bytes, command cutting and continuation lines.
#ifndef VANDREL_STATEMENTS_LINE_CLEANER_H_
#define VANDREL_STATEMENTS_LINE_CLEANER_H_

struct LineFacts;
struct X_FILE;

// Removes comments from `line` (reading further lines of `file` when one
// spans lines) and turns every byte below 32 except the newline into a blank.
// REQUIRES: `line` holds a NUL-terminated text in a buffer of kLineSize bytes.
void X_clean_text(X_FILE* file, char* line);

// Cleans `line` as X_clean_text does. When it is a command line (its first
// non-blank characters are "<@"), moves the command to the start of the
// buffer, cuts it at the newline and appends continuation lines, and returns
// true; a text line stays as it is and the result is false.
bool X_clean_line(X_FILE* file, char* line);

// X_clean_line that also gives the facts kept for the line when it came
// straight from the page (else `*facts` is nullptr), so that what is learned
// about it can be kept with them.
bool X_clean_page_line(X_FILE* file, char* line, LineFacts** facts);

// What is already known of the line at the read position of a page.
enum class KnownLine {
  kUnknown,   // to be read and cleaned
  kText,      // text that cleaning leaves as it is
  kBlockEnd,  // a command line whose word is end, continue or break
  kCommand,   // any other command line that cleaning only cuts out
};

// When the line at the read position of `file` is known text, a known block
// end or a known command line, moves past it, gives its facts in `*facts` and
// tells which. Text and block ends are then used where they stand in the
// page, unread and uncleaned (a block end's command starts `lead` bytes into
// it); a command is copied into `line` (kLineSize bytes) cleaned, its code in
// the facts. Otherwise kUnknown, and nothing is read.
KnownLine X_take_known_line(X_FILE* file, char* line, const LineFacts** facts);

#endif  // VANDREL_STATEMENTS_LINE_CLEANER_H_
