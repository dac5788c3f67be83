// Commands that change variables: <@set>, <@add>, <@clear> and <@replace>.
#ifndef VANDREL_STATEMENTS_VARIABLE_COMMANDS_H_
#define VANDREL_STATEMENTS_VARIABLE_COMMANDS_H_

struct X_FILE;

int X_set(X_FILE* file, char* line, int& compile, int ignore);
int X_add(X_FILE* file, char* line, int& compile, int ignore);
int X_clear(X_FILE* file, char* line, int& compile, int ignore);
int X_replace(X_FILE* file, char* line, int& compile, int ignore);

#endif  // VANDREL_STATEMENTS_VARIABLE_COMMANDS_H_
