// Blocks and the flags through which continue, break and return travel
// outwards.
#ifndef VANDREL_STATEMENTS_CONTROL_FLOW_H_
#define VANDREL_STATEMENTS_CONTROL_FLOW_H_

struct X_FILE;

// Skip the rest of the current loop body.
extern int Continue;
// Leave the current loop.
extern int Break;
// A return is under way: every enclosing block is skipped up to the
// function's end.
extern int ContinueBreak;

// The block reader: reads lines of `file` up to the block's <@end> (or the
// end of the file), running them, or only consuming them when `ignore` is
// set. Returns 0.
int X_notfound(X_FILE* file, int compile, int ignore);

#endif  // VANDREL_STATEMENTS_CONTROL_FLOW_H_
