// The conditions of <@if> and <@elif>.
#ifndef VANDREL_STATEMENTS_CONDITIONS_H_
#define VANDREL_STATEMENTS_CONDITIONS_H_

// Splits the substituted condition `text` into arguments and tests it:
// "cmp", "icmp", "fcmp", "fmt", "filled", "EOF", "exist", "isDir", "isFile"
// (each also negated with a leading "!"), or A operator B compared as texts.
// True or false; an unknown "fmt" type is a fatal error.
bool X_condition(const char* text);

// EOF tests `*flag`, the "rows ran out" state of the row loop, which the
// database layer keeps and points to once at start-up. Until then EOF is
// false, as it is before any row loop has run.
void X_set_eof_flag(const int* flag);

#endif  // VANDREL_STATEMENTS_CONDITIONS_H_
