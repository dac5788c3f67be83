// Assignment lines, e.g. "<@total>+= $(price)".
#ifndef VANDREL_STATEMENTS_ASSIGN_COMMAND_H_
#define VANDREL_STATEMENTS_ASSIGN_COMMAND_H_

struct X_FILE;

// Runs the assignment in the command line `line`. -1 when the line holds no
// operator mark, or when the variable is read-only ("## Fixed Value: %s" is
// then in X_ERRMSG): the line is then shown as text.
int X_let(X_FILE* file, char* line, int& compile, int ignore);

#endif  // VANDREL_STATEMENTS_ASSIGN_COMMAND_H_
